#include "platform/linux/EventLoop.h"

#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <system_error>

namespace tessly::linux_host {
namespace {

std::string failure(std::string_view what, int error) {
    return std::string(what) + ": " + std::generic_category().message(error);
}

}  // namespace

class EventLoop::Timer final : public RepeatingTimer {
  public:
    Timer(int fd, std::function<void()> action) noexcept : fd_(fd), action_(std::move(action)) {}
    ~Timer() override { ::close(fd_); }
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    int fd() const noexcept { return fd_; }

    // Waits for the next expiration, consumes every pending one and runs the action once for
    // all of them. The errno when the timer cannot be read, which no retry would mend; 0 after
    // a fire.
    int fire() {
        std::uint64_t expirations = 0;
        ssize_t n;
        do {
            n = ::read(fd_, &expirations, sizeof expirations);
        } while (n < 0 && errno == EINTR);
        if (n < 0) return errno;
        if (n != static_cast<ssize_t>(sizeof expirations)) return EIO;
        if (expirations > 0) action_();
        return 0;
    }

  private:
    int fd_;
    std::function<void()> action_;
};

namespace {

timespec toTimespec(double seconds) noexcept {
    double whole = 0;
    const double fraction = std::modf(seconds, &whole);
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(whole);
    ts.tv_nsec = static_cast<long>(fraction * 1e9);
    return ts;
}

timespec add(timespec a, timespec b) noexcept {
    a.tv_sec += b.tv_sec;
    a.tv_nsec += b.tv_nsec;
    if (a.tv_nsec >= 1'000'000'000L) {
        a.tv_nsec -= 1'000'000'000L;
        ++a.tv_sec;
    }
    return a;
}

}  // namespace

EventLoop::~EventLoop() {
    if (reserved_ >= 0) ::close(reserved_);
}

bool EventLoop::reserveTimer() noexcept {
    if (reserved_ >= 0) return true;
    reserved_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    if (reserved_ < 0) lastError_ = errno;
    return reserved_ >= 0;
}

std::shared_ptr<RepeatingTimer> EventLoop::addRepeatingTimer(double interval,
                                                             std::function<void()> action) {
    if (!reserveTimer()) return nullptr;
    const int fd = reserved_;

    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    itimerspec schedule{};
    schedule.it_interval = toTimespec(interval);
    schedule.it_value = add(now, schedule.it_interval);
    if (::timerfd_settime(fd, TFD_TIMER_ABSTIME, &schedule, nullptr) != 0) {
        lastError_ = errno;  // the descriptor stays reserved for the next try
        return nullptr;
    }
    reserved_ = -1;
    auto timer = std::make_shared<Timer>(fd, std::move(action));
    timers_.push_back(timer);
    return timer;
}

std::optional<std::string> EventLoop::run() {
    std::vector<pollfd> fds;
    while (!quit_) {
        // One timer, the agent's case: its blocking read is the wait, with no poll before it.
        // Timers are added only by actions, on this thread, so none can appear while it blocks.
        if (timers_.size() == 1) {
            const auto only = timers_.front();
            if (const int error = only->fire())
                return failure("the tick timer cannot be read", error);
            continue;
        }
        // Rebuilt every round: an action may add timers.
        const auto round = timers_;
        if (round.empty()) return "the event loop has no timer to wait for";
        fds.clear();
        for (const auto& t : round)
            fds.push_back({t->fd(), POLLIN, 0});
        const int ready = ::poll(fds.data(), fds.size(), -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return failure("waiting for the timers failed", errno);
        }
        for (std::size_t i = 0; i < round.size() && !quit_; ++i) {
            if ((fds[i].revents & (POLLERR | POLLNVAL)) != 0) {
                return failure("a timer cannot be waited on", EBADF);
            }
            // Readable: the read in fire() returns at once although the descriptor blocks.
            if ((fds[i].revents & POLLIN) != 0) {
                if (const int error = round[i]->fire()) {
                    return failure("a timer cannot be read", error);
                }
            }
        }
    }
    return std::nullopt;
}

}  // namespace tessly::linux_host
