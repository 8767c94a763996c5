#pragma once
// A single-threaded event loop of repeating timers on CLOCK_MONOTONIC.
//
// Each timer is a timerfd armed with an absolute schedule: it fires at creation + k * interval.
// When the loop was busy past one or more fire times, the expirations are read at once and the
// action runs once: late fires are not made up, and actions never overlap.

#include <functional>
#include <memory>
#include <vector>

#include "platform/AppHost.h"

namespace tessly::linux_host {

class EventLoop {
  public:
    EventLoop() = default;
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    // A timer held by the loop and by the returned reference; it stays scheduled for the loop's
    // life. Null when the kernel refuses a timer (no file descriptors left).
    std::shared_ptr<RepeatingTimer> addRepeatingTimer(double interval,
                                                      std::function<void()> action);

    // Services timers until quit() is called from an action.
    void run();
    void quit() noexcept { quit_ = true; }

    class Timer;

  private:
    std::vector<std::shared_ptr<Timer>> timers_;
    bool quit_ = false;
};

}  // namespace tessly::linux_host
