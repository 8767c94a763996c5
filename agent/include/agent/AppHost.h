#pragma once
// Seam: the application object and its main-thread event loop (AppKit on macOS, a ppoll loop on
// Linux, a hand-driven fake in tests).
//
// Threading: everything happens on the thread that calls run(); delegates and timer actions are
// called there, one at a time, never overlapping.

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tessly {

// Receives the one call made when launching has finished.
class AppDelegate {
  public:
    virtual ~AppDelegate() = default;
    virtual void applicationDidFinishLaunching() = 0;
};

// A repeating timer owned jointly by its creator and the loop: releasing the creator's reference
// does not stop it, and nothing in the agent ever does.
class RepeatingTimer {
  public:
    virtual ~RepeatingTimer() = default;
};

class AppHost {
  public:
    virtual ~AppHost() = default;

    // The delegate is not owned: the caller keeps it alive for as long as the loop may call it.
    virtual void setDelegate(AppDelegate* delegate) noexcept = 0;
    // No Dock icon and no menu bar where the platform has them; nothing elsewhere.
    virtual void setActivationPolicyAccessory() noexcept = 0;
    // Calls the delegate once, then services timers until the process ends. Returns only if the
    // loop itself ends: nothing when it ran out of work, or what failed (the tick timer could no
    // longer be waited on or read), as a phrase for a log line.
    virtual std::optional<std::string> run() = 0;
    // A timer calling `action` every `interval` seconds on the loop, counted from this call. A
    // fire that comes late because the loop was busy is not made up by extra fires. Null when
    // the platform refuses a timer.
    virtual std::shared_ptr<RepeatingTimer> scheduleRepeatingTimer(
        double interval, std::function<void()> action) = 0;
    // Asks the application to end. On a real host the process ends inside this call with
    // status 0; a test host only records the request and returns.
    virtual void terminate() noexcept = 0;
    // Ends the process with a failure status, after the caller has said why. On a real host the
    // process ends inside this call; a test host only records the request and returns.
    virtual void terminateWithFailure() noexcept = 0;

    // The process's application object, created on first use and kept for the process's life.
    // Defined by each platform.
    static AppHost& Default();
};

}  // namespace tessly
