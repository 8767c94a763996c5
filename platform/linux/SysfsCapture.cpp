#include "platform/linux/SysfsCapture.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <optional>
#include <set>
#include <utility>

namespace tessly::hwmon {
namespace {

// The classes copied, each two levels below the root, so that "../../" leads from an entry's
// link back to the root.
constexpr std::array<std::string_view, 2> classes{"class/hwmon", "class/power_supply"};

constexpr std::array<std::string_view, 3> privateFiles{"serial", "serial_number", "uevent"};

// A descriptor, closed with the object.
class Descriptor {
  public:
    explicit Descriptor(int fd = -1) noexcept : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const noexcept { return fd_; }
    bool valid() const noexcept { return fd_ >= 0; }
    int release() noexcept { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

// A name a directory entry can have: "." and ".." and names with a slash come from no listing.
bool plainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos;
}

bool contains(const std::vector<std::string>& names, std::string_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The directory `name` below `parent`, made when missing; never through a link. A descriptor, or
// -errno.
int directoryIn(int parent, const std::string& name) {
    if (::mkdirat(parent, name.c_str(), 0777) != 0 && errno != EEXIST) return -errno;
    const int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return fd < 0 ? -errno : fd;
}

// The directory at `relative` (names separated by single slashes) below `root`, each level made
// when missing. A descriptor, or -errno.
int directoryAt(int root, std::string_view relative) {
    Descriptor current(::fcntl(root, F_DUPFD_CLOEXEC, 0));
    if (!current.valid()) return -errno;
    while (!relative.empty()) {
        const auto slash = relative.find('/');
        const int next = directoryIn(current.get(), std::string(relative.substr(0, slash)));
        if (next < 0) return next;
        current = Descriptor(next);
        relative =
            slash == std::string_view::npos ? std::string_view{} : relative.substr(slash + 1);
    }
    return current.release();
}

// A new file `name` in `dir` holding `bytes`: 0, or the errno.
int writeFile(int dir, const std::string& name, std::string_view bytes) {
    Descriptor file(
        ::openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!file.valid()) return errno;
    while (!bytes.empty()) {
        const ssize_t n = ::write(file.get(), bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : EIO;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    // Some file systems report a failed write only here; EINTR leaves the file closed anyway.
    return ::close(file.release()) == 0 || errno == EINTR ? 0 : errno;
}

// Where a class entry's link leads, relative to the root, when that is a device's directory
// ("devices/platform/coretemp.0/hwmon/hwmon2"); empty otherwise. Resolved by its text, as
// within the root: ".." stops at the root, an absolute link starts there.
std::string deviceTarget(std::string_view classPath, std::string_view link) {
    std::vector<std::string_view> parts;
    std::string_view rest = link;
    if (!rest.starts_with('/')) {
        parts = {classPath.substr(0, classPath.find('/')),
                 classPath.substr(classPath.find('/') + 1)};
    }
    while (!rest.empty()) {
        const auto slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view{} : rest.substr(slash + 1);
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    if (parts.size() < 2 || parts.front() != "devices") return {};
    std::string target;
    for (const auto part : parts) {
        if (!target.empty()) target += '/';
        target += part;
    }
    return target;
}

// The destination as an open directory that holds nothing; -errno otherwise.
int openDestination(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();  // "DIR/" would name what a link DIR points to
    }
    if (::mkdir(path.c_str(), 0777) != 0) {
        if (errno != EEXIST) return -errno;
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0) return -errno;
        if (S_ISLNK(info.st_mode)) return -ELOOP;
        if (!S_ISDIR(info.st_mode)) return -ENOTDIR;
    }
    Descriptor dir(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!dir.valid()) return -errno;
    const int listed = ::fcntl(dir.get(), F_DUPFD_CLOEXEC, 0);
    DIR* stream = listed < 0 ? nullptr : ::fdopendir(listed);
    if (stream == nullptr) {
        if (listed >= 0) ::close(listed);
        return -errno;
    }
    bool empty = true;
    while (const dirent* entry = ::readdir(stream)) {
        const std::string_view name = entry->d_name;
        empty = empty && (name == "." || name == "..");
    }
    ::closedir(stream);
    if (!empty) return -ENOTEMPTY;
    return dir.release();
}

class Capture {
  public:
    Capture(FileReader& reader, std::string_view root, int destination)
        : reader_(reader), root_(root), destination_(destination) {}

    IoResult<CaptureSummary> run() {
        for (const auto classPath : classes) {
            if (failure_ == 0) copyClass(std::string(classPath));
        }
        if (failure_ != 0) return unexpected(failure_);
        return std::move(summary_);
    }

  private:
    void leaveOut(std::string path, int error) {
        summary_.leftOut.push_back({std::move(path), error});
    }

    void copyClass(const std::string& classPath) {
        auto entries = reader_.listDirectory(root_ + "/" + classPath);
        if (!entries) {
            if (entries.error() != ENOENT) leaveOut(classPath, entries.error());
            return;
        }
        const Descriptor classDir(directoryAt(destination_, classPath));
        if (!classDir.valid()) {
            failure_ = -classDir.get();
            return;
        }
        std::sort(entries->begin(), entries->end());
        for (const auto& name : *entries) {
            if (failure_ != 0) return;
            if (plainName(name)) copyEntry(classPath, classDir.get(), name);
        }
    }

    void copyEntry(const std::string& classPath, int classDir, const std::string& name) {
        const std::string shown = classPath + "/" + name;
        const std::string source = root_ + "/" + shown;
        const auto names = reader_.listDirectory(source);
        if (!names) {
            leaveOut(shown, names.error());  // a link that leads nowhere inside the root, a file
            return;
        }
        std::string target;
        if (const auto link = reader_.readLink(source); link) {
            target = deviceTarget(classPath, *link);
        }
        Descriptor dir;
        if (!target.empty() && !targets_.contains(target)) {
            dir = Descriptor(directoryAt(destination_, target));
        }
        if (dir.valid()) {
            targets_.insert(target);
            if (::symlinkat(("../../" + target).c_str(), classDir, name.c_str()) != 0) {
                failure_ = errno;
                return;
            }
        } else {
            // Not a device's directory, or one that another entry took: a directory of its own.
            dir = Descriptor(directoryIn(classDir, name));
            if (!dir.valid()) {
                failure_ = -dir.get();
                return;
            }
        }
        copyFiles(source, dir.get(), shown, *names);
        const bool hwmon = classPath == classes[0];
        if (hwmon && !contains(*names, "name") && contains(*names, "device")) {
            // The older layout: the chip's name and attributes are its device's.
            if (const auto device = reader_.listDirectory(source + "/device"); device) {
                const Descriptor deviceDir(directoryIn(dir.get(), "device"));
                if (!deviceDir.valid()) {
                    failure_ = -deviceDir.get();
                    return;
                }
                copyFiles(source + "/device", deviceDir.get(), shown + "/device", *device);
            }
        }
        ++(hwmon ? summary_.chips : summary_.supplies);
    }

    void copyFiles(const std::string& source, int dir, const std::string& shown,
                   std::vector<std::string> names) {
        std::sort(names.begin(), names.end());
        std::string buffer(maxCapturedFileSize + 1, '\0');
        for (const auto& name : names) {
            if (failure_ != 0) return;
            if (!plainName(name) ||
                std::find(privateFiles.begin(), privateFiles.end(), name) != privateFiles.end()) {
                continue;
            }
            const std::string path = source + "/" + name;
            if (reader_.readLink(path).has_value())
                continue;  // device, subsystem, driver, of_node, ...
            const auto opened = reader_.open(path);
            if (!opened) {
                // Directories (power/, wakeup3/, a supply's hwmon child) are not attributes.
                if (opened.error() == notARegularFile && reader_.listDirectory(path).has_value())
                    continue;
                leaveOut(shown + "/" + name, opened.error());
                continue;
            }
            const FileHandle file(reader_, *opened);
            const auto read = reader_.readAt0(file.fd(), buffer);
            if (!read || *read > maxCapturedFileSize) {
                leaveOut(shown + "/" + name, read ? EFBIG : read.error());
                continue;
            }
            const int error = writeFile(dir, name, std::string_view(buffer).substr(0, *read));
            if (error == EEXIST) {
                leaveOut(shown + "/" + name, error);  // the place is another entry's
            } else if (error != 0) {
                failure_ = error;
            } else {
                ++summary_.files;
            }
        }
    }

    FileReader& reader_;
    std::string root_;
    int destination_;
    std::set<std::string> targets_;  // device directories copied so far
    CaptureSummary summary_;
    int failure_ = 0;  // the errno that stopped the copy
};

}  // namespace

IoResult<CaptureSummary> captureSysfs(FileReader& reader, std::string_view sysfsRoot,
                                      const std::string& destination) {
    const Descriptor dir(openDestination(destination));
    if (!dir.valid()) return unexpected(-dir.get());
    return Capture(reader, sysfsRoot, dir.get()).run();
}

}  // namespace tessly::hwmon
