#include "agent/PublisherLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <TesslyKit/SharedContainer.h>

#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>
#include <utility>

namespace tessly {
namespace {

// How often, and how far apart, a lock held elsewhere is tried again before giving up: a probe
// holds it for microseconds, an agent for its whole life.
constexpr int heldElsewhereTries = 5;
constexpr std::chrono::milliseconds heldElsewherePause{20};

// The directory opened for locking: never a FIFO or a device (O_DIRECTORY refuses them before
// opening), never blocking, never a terminal.
int openDirectory(const std::filesystem::path& directory) {
    int fd;
    do {
        fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int lockRetrying(int fd, int operation) {
    int rc;
    do {
        rc = ::flock(fd, operation | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    return rc;
}

std::string reasonText(const std::filesystem::path& directory, int error) {
    return directory.string() + ": " + std::generic_category().message(error);
}

}  // namespace

PublisherLock PublisherLock::acquire() {
    const auto container = SharedContainer::directory();
    if (!container) return {Outcome::unavailable, -1, "no home directory is known"};
    std::error_code ignored;
    std::filesystem::create_directories(*container, ignored);
    return acquire(*container);
}

PublisherLock PublisherLock::acquire(const std::filesystem::path& directory) {
    const int fd = openDirectory(directory);
    if (fd < 0) return {Outcome::unavailable, -1, reasonText(directory, errno)};
    for (int attempt = 1;; ++attempt) {
        if (lockRetrying(fd, LOCK_EX) == 0) return {Outcome::held, fd};
        const int error = errno;
        if (error != EWOULDBLOCK || attempt == heldElsewhereTries) {
            ::close(fd);
            if (error == EWOULDBLOCK) return {Outcome::heldElsewhere, -1};
            return {Outcome::unavailable, -1, reasonText(directory, error)};
        }
        std::this_thread::sleep_for(heldElsewherePause);
    }
}

PublisherLock::Holder PublisherLock::probe() noexcept {
    const auto container = SharedContainer::directory();
    return container ? probe(*container) : Holder::none;
}

PublisherLock::Holder PublisherLock::probe(const std::filesystem::path& directory) noexcept {
    const int fd = openDirectory(directory);
    if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? Holder::none : Holder::unknown;
    Holder holder = Holder::none;
    if (lockRetrying(fd, LOCK_SH) != 0) {
        holder = errno == EWOULDBLOCK ? Holder::agent : Holder::unknown;
    }
    ::close(fd);  // releases the shared lock, if it was taken
    return holder;
}

PublisherLock::PublisherLock(PublisherLock&& other) noexcept
    : outcome_(other.outcome_),
      fd_(std::exchange(other.fd_, -1)),
      reason_(std::move(other.reason_)) {}

PublisherLock::~PublisherLock() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace tessly
