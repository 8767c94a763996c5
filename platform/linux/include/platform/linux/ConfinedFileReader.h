#pragma once
// A FileReader that never leaves one directory tree: a copy of another machine's /sys that a
// user hands to `tessly sensors --sysfs`. Every path is resolved inside the root as if the root
// were "/": a symbolic link that points outside it (absolute, or up through "..") is never
// followed out of it, so no file, name or label from outside the root can be read. Nothing but
// a regular file is ever opened for reading, so a device or FIFO in the tree is never opened.

#include <memory>
#include <string>

#include "platform/linux/FileReader.h"

namespace tessly::hwmon {

class ConfinedFileReader final : public FileReader {
  public:
    // How paths are kept inside the root.
    enum class Resolution {
        // The kernel resolves with the root as "/" (openat2 with RESOLVE_IN_ROOT, Linux 5.6+):
        // a link that points outside is taken relative to the root instead.
        kernel,
        // Where openat2 is missing or filtered: the file is looked up without opening it
        // (O_PATH), and refused (EXDEV) when the kernel's name for what was found lies outside
        // the root; only then is it opened, through that very lookup.
        checked,
    };

    // A reader of the files below `root`, or null when `root` is no directory that can be
    // opened. `root` comes without a trailing slash ("" stands for "/"), and the paths handed to
    // the reader are `root` followed by "/..."; any other path is refused with EXDEV. Uses the
    // kernel's resolution where it works, unless `resolution` asks for the checked one.
    static std::unique_ptr<ConfinedFileReader> within(const std::string& root,
                                                      Resolution resolution = Resolution::kernel);

    ~ConfinedFileReader() override;
    ConfinedFileReader(const ConfinedFileReader&) = delete;
    ConfinedFileReader& operator=(const ConfinedFileReader&) = delete;

    Resolution resolution() const noexcept { return resolution_; }

    IoResult<std::vector<std::string>> listDirectory(const std::string& path) override;
    IoResult<int> open(const std::string& path) noexcept override;
    bool mayKeepOpen(int fd) const noexcept override;
    IoResult<std::size_t> readAt0(int fd, std::span<char> buffer) noexcept override;
    void close(int fd) noexcept override;
    IoResult<std::string> readLink(const std::string& path) override;

  private:
    ConfinedFileReader(std::string prefix, int rootFd, std::string realRoot,
                       Resolution resolution) noexcept;

    // `path` relative to the root ("." for the root itself): the end of `path` itself, so valid
    // while `path` is; null when `path` does not start with the prefix.
    const char* relative(const std::string& path) const noexcept;
    // A descriptor of `relative` resolved inside the root and opened with `flags`, or -errno.
    int resolve(const char* relative, int flags) const noexcept;
    // For the checked resolution: whether the descriptor's file lies inside the root.
    bool inside(int fd) const noexcept;
    // Opens what an O_PATH descriptor names with `flags`; -errno on failure.
    int reopen(int pathFd, const char* relative, int flags) const noexcept;

    std::string prefix_;
    int rootFd_;
    std::string realRoot_;  // the root's canonical path, for the checked resolution
    Resolution resolution_;
};

}  // namespace tessly::hwmon
