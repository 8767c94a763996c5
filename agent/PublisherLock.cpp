#include "agent/PublisherLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <TesslyKit/SharedContainer.h>

#include <cerrno>
#include <new>
#include <system_error>
#include <utility>

namespace tessly {

PublisherLock PublisherLock::acquire() noexcept {
    try {
        const auto container = SharedContainer::directory();
        if (!container) return {Outcome::unavailable, -1};
        std::error_code ignored;
        std::filesystem::create_directories(*container, ignored);
        return acquire(*container / fileName);
    } catch (const std::bad_alloc&) {
        return {Outcome::unavailable, -1};
    }
}

PublisherLock PublisherLock::acquire(const std::filesystem::path& lockFile) noexcept {
    // Never through a planted link, never blocking on a planted FIFO, never a terminal.
    const int fd = ::open(lockFile.c_str(),
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd < 0) return {Outcome::unavailable, -1};
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return {Outcome::unavailable, -1};
    }
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) return {Outcome::held, fd};
    const Outcome outcome = errno == EWOULDBLOCK ? Outcome::heldElsewhere : Outcome::unavailable;
    ::close(fd);
    return {outcome, -1};
}

PublisherLock::PublisherLock(PublisherLock&& other) noexcept
    : outcome_(other.outcome_), fd_(std::exchange(other.fd_, -1)) {}

PublisherLock::~PublisherLock() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace tessly
