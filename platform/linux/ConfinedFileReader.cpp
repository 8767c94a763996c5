#include "platform/linux/ConfinedFileReader.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "DirectoryNames.h"

namespace tessly::hwmon {
namespace {

int openat2(int dirFd, const char* path, int flags) noexcept {
    open_how how{};
    how.flags = static_cast<unsigned>(flags | O_CLOEXEC);
    how.resolve = RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS;
    long fd;
    do {
        fd = ::syscall(SYS_openat2, dirFd, path, &how, sizeof how);
    } while (fd < 0 && (errno == EINTR || errno == EAGAIN));
    return fd < 0 ? -errno : static_cast<int>(fd);
}

// "/proc/self/fd/<fd>": the kernel's name for what the descriptor refers to.
std::array<char, 32> procPath(int fd) noexcept {
    std::array<char, 32> path{};
    std::snprintf(path.data(), path.size(), "/proc/self/fd/%d", fd);
    return path;
}

bool sameFile(const struct stat& a, const struct stat& b) noexcept {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

std::unique_ptr<ConfinedFileReader> ConfinedFileReader::within(const std::string& root,
                                                               Resolution resolution) {
    const std::string directory = root.empty() ? "/" : root;
    const int rootFd = ::open(directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (rootFd < 0) return nullptr;
    std::string realRoot;
    if (resolution == Resolution::kernel) {
        // The kernel's resolution, where it is there: seccomp filters and old kernels refuse it.
        const int probe = openat2(rootFd, ".", O_PATH | O_DIRECTORY);
        if (probe >= 0) {
            ::close(probe);
        } else {
            resolution = Resolution::checked;
        }
    }
    if (resolution == Resolution::checked) {
        char* real = ::realpath(directory.c_str(), nullptr);
        if (real == nullptr) {
            ::close(rootFd);
            return nullptr;
        }
        realRoot = real;
        std::free(real);
    }
    return std::unique_ptr<ConfinedFileReader>(
        new ConfinedFileReader(root, rootFd, std::move(realRoot), resolution));
}

ConfinedFileReader::ConfinedFileReader(std::string prefix, int rootFd, std::string realRoot,
                                       Resolution resolution) noexcept
    : prefix_(std::move(prefix)),
      rootFd_(rootFd),
      realRoot_(std::move(realRoot)),
      resolution_(resolution) {}

ConfinedFileReader::~ConfinedFileReader() {
    ::close(rootFd_);
}

const char* ConfinedFileReader::relative(const std::string& path) const noexcept {
    if (!path.starts_with(prefix_)) return nullptr;
    const std::string_view rest = std::string_view(path).substr(prefix_.size());
    if (!rest.empty() && rest.front() != '/') return nullptr;  // "/sysfs" is not in "/sys"
    const auto first = rest.find_first_not_of('/');
    // A suffix of `path`, so it ends where path's text does.
    return first == std::string_view::npos ? "." : rest.data() + first;
}

bool ConfinedFileReader::inside(int fd) const noexcept {
    std::array<char, PATH_MAX> target;
    const ssize_t n = ::readlink(procPath(fd).data(), target.data(), target.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) return false;
    const std::string_view found(target.data(), static_cast<std::size_t>(n));
    if (realRoot_ == "/") return true;
    return found == realRoot_ || (found.starts_with(realRoot_) && found[realRoot_.size()] == '/');
}

int ConfinedFileReader::resolve(const char* relative, int flags) const noexcept {
    if (resolution_ == Resolution::kernel) return openat2(rootFd_, relative, flags);
    // Looked up without opening, checked, and only then opened through the lookup itself.
    const int pathFd = ::openat(rootFd_, relative, O_PATH | O_CLOEXEC);
    if (pathFd < 0) return -errno;
    if (!inside(pathFd)) {
        ::close(pathFd);
        return -EXDEV;
    }
    if ((flags & O_PATH) != 0) return pathFd;
    const int fd = reopen(pathFd, relative, flags);
    ::close(pathFd);
    return fd;
}

int ConfinedFileReader::reopen(int pathFd, const char* relative, int flags) const noexcept {
    if (resolution_ == Resolution::checked) {
        const int fd = ::open(procPath(pathFd).data(), flags | O_CLOEXEC);
        return fd < 0 ? -errno : fd;
    }
    // Resolved once more; a file swapped in between the two lookups is refused below.
    const int fd = openat2(rootFd_, relative, flags);
    if (fd < 0) return fd;
    struct stat looked {
    }, opened{};
    if (::fstat(pathFd, &looked) != 0 || ::fstat(fd, &opened) != 0 || !sameFile(looked, opened)) {
        ::close(fd);
        return -EAGAIN;
    }
    return fd;
}

IoResult<std::vector<std::string>> ConfinedFileReader::listDirectory(const std::string& path) {
    const char* rel = relative(path);
    if (rel == nullptr) return unexpected(EXDEV);
    const int fd = resolve(rel, O_RDONLY | O_DIRECTORY | O_NONBLOCK);
    if (fd < 0) return unexpected(-fd);
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        const int error = errno;
        ::close(fd);
        return unexpected(error);
    }
    return directoryNames(dir);
}

IoResult<int> ConfinedFileReader::open(const std::string& path) noexcept {
    const char* rel = relative(path);
    if (rel == nullptr) return unexpected(EXDEV);
    // Looked at before it is opened: a device or FIFO is never opened at all.
    const int pathFd = resolve(rel, O_PATH);
    if (pathFd < 0) return unexpected(-pathFd);
    struct stat info {};
    if (::fstat(pathFd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(pathFd);
        return unexpected(notARegularFile);
    }
    const int fd = reopen(pathFd, rel, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    ::close(pathFd);
    if (fd < 0) return unexpected(fd == -EAGAIN ? notARegularFile : -fd);
    return fd;
}

// Its files are read once, for one report: nothing is kept.
bool ConfinedFileReader::mayKeepOpen(int) const noexcept {
    return false;
}

IoResult<std::size_t> ConfinedFileReader::readAt0(int fd, std::span<char> buffer) noexcept {
    return FileReader::Default().readAt0(fd, buffer);
}

void ConfinedFileReader::close(int fd) noexcept {
    ::close(fd);
}

IoResult<std::string> ConfinedFileReader::readLink(const std::string& path) {
    const char* rel = relative(path);
    if (rel == nullptr) return unexpected(EXDEV);
    const std::string_view relativeText(rel);
    const auto slash = relativeText.rfind('/');
    const std::string parent(slash == std::string_view::npos ? "." : relativeText.substr(0, slash));
    const char* name = slash == std::string_view::npos ? rel : rel + slash + 1;
    const int dirFd = resolve(parent.c_str(), O_PATH | O_DIRECTORY);
    if (dirFd < 0) return unexpected(-dirFd);
    std::array<char, PATH_MAX> target;
    const ssize_t n = ::readlinkat(dirFd, name, target.data(), target.size());
    const int error = errno;
    ::close(dirFd);
    if (n < 0) return unexpected(error);
    if (static_cast<std::size_t>(n) >= target.size()) return unexpected(ENAMETOOLONG);
    return std::string(target.data(), static_cast<std::size_t>(n));
}

}  // namespace tessly::hwmon
