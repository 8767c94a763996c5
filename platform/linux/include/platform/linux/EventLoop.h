#pragma once
// A single-threaded event loop of repeating timers on CLOCK_MONOTONIC.
//
// Each timer is a timerfd armed with an absolute schedule: it fires at creation + k * interval.
// When the loop was busy past one or more fire times, the expirations are read at once and the
// action runs once: late fires are not made up, and actions never overlap.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent/AppHost.h"

namespace tessly::linux_host {

class EventLoop {
  public:
    EventLoop() = default;
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;
    ~EventLoop();

    // Creates the descriptor of the next timer now, unarmed, so that a process which then opens
    // many files still has one for its timer. False when the kernel refuses it.
    bool reserveTimer() noexcept;

    // A timer held by the loop and by the returned reference; it stays scheduled for the loop's
    // life. Null when the kernel refuses a timer (no file descriptors left); lastError() then
    // says why.
    std::shared_ptr<RepeatingTimer> addRepeatingTimer(double interval,
                                                      std::function<void()> action);

    // Services timers until quit() is called from an action: nothing then. What failed when the
    // loop cannot go on: it has no timer to wait for, or waiting or reading failed.
    std::optional<std::string> run();
    void quit() noexcept { quit_ = true; }

    // The errno of the last refused timer.
    int lastError() const noexcept { return lastError_; }

    class Timer;

  private:
    std::vector<std::shared_ptr<Timer>> timers_;
    int reserved_ = -1;  // a timerfd made by reserveTimer, not yet armed
    int lastError_ = 0;
    bool quit_ = false;
};

}  // namespace tessly::linux_host
