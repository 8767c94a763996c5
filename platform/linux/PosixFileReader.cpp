#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <memory>
#include <string_view>

#include "DirectoryNames.h"
#include "platform/linux/FileReader.h"

namespace tessly::hwmon {
namespace {

class PosixFileReader final : public FileReader {
  public:
    IoResult<std::vector<std::string>> listDirectory(const std::string& path) override {
        return directoryNames(::opendir(path.c_str()));
    }

    IoResult<int> open(const std::string& path) noexcept override {
        const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) return unexpected(errno);
        struct stat info {};
        if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            ::close(fd);
            return unexpected(notARegularFile);
        }
        return fd;
    }

    // The kernel hands out the lowest free descriptor, so a descriptor numbered within `reserve`
    // of the limit means that all but `reserve` are taken: it is closed after its read, and the
    // top `reserve` numbers stay free for everything else the process opens.
    bool mayKeepOpen(int fd) const noexcept override { return fd < keepBelow(); }

    IoResult<std::size_t> readAt0(int fd, std::span<char> buffer) noexcept override {
        for (;;) {
            const ssize_t n = ::pread(fd, buffer.data(), buffer.size(), 0);
            if (n >= 0) return static_cast<std::size_t>(n);
            if (errno != EINTR) return unexpected(errno);
        }
    }

    void close(int fd) noexcept override { ::close(fd); }

    IoResult<std::string> readLink(const std::string& path) override {
        std::array<char, 4096> target;
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0) return unexpected(errno);
        if (static_cast<std::size_t>(n) >= target.size()) return unexpected(ENAMETOOLONG);
        return std::string(target.data(), static_cast<std::size_t>(n));
    }

  private:
    // Descriptors kept free for the process's other files: the exchange files and their
    // temporaries, the container and autostart folders, the log, the login-item entry and what
    // the C library opens behind the scenes, with room to spare.
    static constexpr rlim_t reserve = 32;

    // The soft limit is read once; the host raises it to the hard limit before any sensor is
    // read, and nothing lowers it later.
    static int keepBelow() noexcept {
        static const int below = [] {
            rlimit limit{};
            if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
            const rlim_t cap = 1 << 30;  // beyond any descriptor number in practice
            const rlim_t soft = limit.rlim_cur == RLIM_INFINITY ? cap : limit.rlim_cur;
            return soft > reserve ? static_cast<int>(std::min(soft - reserve, cap)) : 0;
        }();
        return below;
    }
};

}  // namespace

FileReader& FileReader::Default() noexcept {
    static PosixFileReader reader;
    return reader;
}

}  // namespace tessly::hwmon
