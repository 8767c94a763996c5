#include "platform/linux/EventLoop.h"

#include <poll.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>
#include <system_error>

namespace tessly::linux_host {
namespace {

std::string failure(std::string_view what, int error) {
    return std::string(what) + ": " + std::generic_category().message(error);
}

// CLOCK_MONOTONIC in seconds; read through the vDSO, so no system call.
double monotonicNow() noexcept {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

timespec toTimespec(double seconds) noexcept {
    double whole = 0;
    const double fraction = std::modf(std::max(seconds, 0.0), &whole);
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(whole);
    ts.tv_nsec = std::min(static_cast<long>(std::ceil(fraction * 1e9)), 999'999'999L);
    return ts;
}

}  // namespace

class EventLoop::Timer final : public RepeatingTimer {
  public:
    Timer(double interval, std::function<void()> action) noexcept
        : interval_(interval),
          origin_(monotonicNow()),
          next_(origin_ + interval),
          action_(std::move(action)) {}

    double next() const noexcept { return next_; }

    // At or after the fire time: moves the fire time to the first point of the schedule after
    // `now`, so that fires missed while the loop was busy collapse into this one, then runs the
    // action.
    void fire(double now) {
        const double elapsed = std::floor((now - origin_) / interval_);
        next_ = std::max(origin_ + (elapsed + 1) * interval_, next_ + interval_);
        action_();
    }

  private:
    double interval_;
    double origin_;
    double next_;
    std::function<void()> action_;
};

std::shared_ptr<RepeatingTimer> EventLoop::addRepeatingTimer(double interval,
                                                             std::function<void()> action) {
    // Intervals too short for the clock's resolution would spin.
    if (!(interval >= 1e-3) || !std::isfinite(interval)) return nullptr;
    auto timer = std::make_shared<Timer>(interval, std::move(action));
    timers_.push_back(timer);
    return timer;
}

void EventLoop::addReader(int fd, std::function<bool()> onReadable) {
    readers_.push_back(std::make_shared<Reader>(Reader{fd, std::move(onReadable)}));
}

void EventLoop::fireDueTimers(double now) {
    // By index, over the timers there are now: an action may add timers (and so reallocate).
    const std::size_t count = timers_.size();
    for (std::size_t i = 0; i < count && !quit_; ++i) {
        const auto timer = timers_[i];
        if (timer->next() <= now) timer->fire(now);
    }
}

std::optional<std::string> EventLoop::run() {
    quit_ = false;
    std::vector<pollfd> fds;
    std::vector<std::shared_ptr<Reader>> round;  // kept across rounds, so a round allocates nothing
    while (!quit_) {
        if (timers_.empty()) return "the event loop has no timer to wait for";
        double next = std::numeric_limits<double>::infinity();
        for (const auto& timer : timers_)
            next = std::min(next, timer->next());

        // Readers are served in every round, before the timers that are due: input that came
        // while an action ran is taken before the next action, however late the loop is.
        // Rebuilt every round: an action may add readers.
        round = readers_;
        fds.clear();
        for (const auto& reader : round)
            fds.push_back({reader->fd, POLLIN, 0});
        const timespec timeout = toTimespec(next - monotonicNow());
        const int ready = ::ppoll(fds.data(), fds.size(), &timeout, nullptr);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return failure("waiting for the next tick failed", errno);
        }
        // A descriptor closed under the loop (POLLNVAL) is dropped without a call; an error or
        // hang-up is the reader's to find when it reads.
        for (std::size_t i = 0; ready > 0 && i < fds.size() && !quit_; ++i) {
            if (fds[i].revents == 0) continue;
            const bool keep = (fds[i].revents & POLLNVAL) == 0 && round[i]->onReadable();
            if (!keep) std::erase(readers_, round[i]);
        }
        round.clear();  // a dropped reader goes now, not after the next wait
        if (!quit_) fireDueTimers(monotonicNow());
    }
    return std::nullopt;
}

}  // namespace tessly::linux_host
