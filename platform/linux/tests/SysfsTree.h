#pragma once
// Test support: sysfs trees in temporary directories, and a file reader that injects errors and
// records what was done.

#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/FileReader.h"

namespace tessly::hwmon::testing {

// The POSIX reader with errors injected by path, counting every operation. Paths are compared
// after resolving symbolic links, as the kernel finds the file behind a path.
class FaultyFileReader final : public FileReader {
  public:
    // The file opens, but every read of it fails with `error`.
    void failReads(const std::string& path, int error) { readErrors_[resolved(path)] = error; }
    void failListing(const std::string& path, int error) { listErrors_[resolved(path)] = error; }
    void clearFaults() {
        readErrors_.clear();
        listErrors_.clear();
    }
    // At most `count` descriptors may be kept open between reads, as a low descriptor limit
    // allows; by default the POSIX reader's own rule holds.
    void keepAtMost(std::size_t count) { keepAtMost_ = count; }

    IoResult<std::vector<std::string>> listDirectory(const std::string& path) override {
        ++listings_;
        if (const auto it = listErrors_.find(resolved(path)); it != listErrors_.end())
            return unexpected(it->second);
        return FileReader::Default().listDirectory(path);
    }
    IoResult<int> open(const std::string& path) noexcept override {
        openedPaths_.push_back(path);
        auto opened = FileReader::Default().open(path);
        if (opened) paths_[*opened] = resolved(path);
        return opened;
    }
    bool mayKeepOpen(int fd) const noexcept override {
        if (!keepAtMost_) return FileReader::Default().mayKeepOpen(fd);
        if (!kept_.contains(fd) && kept_.size() >= *keepAtMost_) return false;
        kept_.insert(fd);
        return true;
    }
    IoResult<std::size_t> readAt0(int fd, std::span<char> buffer) noexcept override {
        ++reads_;
        if (const auto path = paths_.find(fd); path != paths_.end()) {
            if (const auto it = readErrors_.find(path->second); it != readErrors_.end())
                return unexpected(it->second);
        }
        return FileReader::Default().readAt0(fd, buffer);
    }
    void close(int fd) noexcept override {
        paths_.erase(fd);
        kept_.erase(fd);
        FileReader::Default().close(fd);
    }
    IoResult<std::string> readLink(const std::string& path) override {
        return FileReader::Default().readLink(path);
    }

    std::size_t listings() const noexcept { return listings_; }
    std::size_t reads() const noexcept { return reads_; }
    std::size_t openFiles() const noexcept { return paths_.size(); }
    // The paths opened since the counts were last cleared, in order.
    const std::vector<std::string>& opened() const noexcept { return openedPaths_; }
    void clearCounts() noexcept {
        listings_ = reads_ = 0;
        openedPaths_.clear();
    }

  private:
    static std::string resolved(const std::string& path);

    std::map<std::string, int> readErrors_, listErrors_;
    std::map<int, std::string> paths_;  // open descriptors: the resolved path
    std::optional<std::size_t> keepAtMost_;
    mutable std::set<int> kept_;
    std::size_t listings_ = 0, reads_ = 0;
    std::vector<std::string> openedPaths_;
};

// A sysfs tree in a fresh temporary directory, removed with the object. Built from the text
// format of fixtures/README.md; its "!" entries are registered with reader().
class SysfsTree {
  public:
    explicit SysfsTree(std::string_view description = {});
    // A machine of fixtures/, e.g. "thinkpad-t420".
    static SysfsTree fixture(std::string_view name);
    SysfsTree(const SysfsTree&) = delete;
    SysfsTree& operator=(const SysfsTree&) = delete;
    ~SysfsTree();

    const std::string& root() const noexcept { return root_; }
    // The absolute path of `relative`.
    std::string path(std::string_view relative) const;
    FaultyFileReader& reader() noexcept { return reader_; }

    // Adds the entries of a description (same format) to the tree.
    void add(std::string_view description);
    // Writes a file holding exactly `content`, creating directories as needed.
    void write(std::string_view relative, std::string_view content);

  private:
    std::string root_;
    FaultyFileReader reader_;
};

// The sensor report of the tree at `root`, one line an entry: the path below the root, the chip,
// the label, what it feeds or why not, and the value or the read error.
std::string reportText(const std::string& root, FileReader& reader);

}  // namespace tessly::hwmon::testing
