#pragma once
// A single-threaded event loop of repeating timers on CLOCK_MONOTONIC and of descriptors waited
// on for input.
//
// Timers need no descriptor: each keeps an absolute schedule (creation + k * interval) and the
// loop sleeps in one ppoll until the earliest fire time or until a watched descriptor is
// readable. So a tick costs the one wait, and a process out of descriptors keeps its timers.
// When the loop was busy past one or more fire times, the action runs once: late fires are not
// made up, and actions never overlap.

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

    // A timer held by the loop and by the returned reference; it stays scheduled for the loop's
    // life. Null for an interval below a millisecond (or not finite), which would spin.
    std::shared_ptr<RepeatingTimer> addRepeatingTimer(double interval,
                                                      std::function<void()> action);

    // Calls `onReadable` on the loop whenever `fd` has input (or an error), until it returns
    // false; the loop then waits on it no more. The caller owns the descriptor and keeps it open
    // while it is watched.
    void addReader(int fd, std::function<bool()> onReadable);

    // Services timers and readers until quit() is called from an action: nothing then (a later
    // run() goes on with the same timers and readers). What
    // failed when the loop cannot go on: it has no timer to wait for, or waiting failed.
    std::optional<std::string> run();
    void quit() noexcept { quit_ = true; }

    class Timer;

  private:
    struct Reader {
        int fd;
        std::function<bool()> onReadable;
    };

    // Runs every timer whose fire time has come.
    void fireDueTimers(double now);

    std::vector<std::shared_ptr<Timer>> timers_;
    std::vector<std::shared_ptr<Reader>> readers_;  // shared: a callback may add readers
    bool quit_ = false;
};

}  // namespace tessly::linux_host
