#pragma once
// The agent's platform services, driven by hand: a host whose timers fire when told to, and a
// login-item service, a log and a version that record what they were asked. For tests, and for
// anyone who wants to step an agent tick by tick. Single-threaded.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent/AppHost.h"
#include "agent/LoginItems.h"
#include "agent/SystemLog.h"
#include "agent/VersionSource.h"

namespace tessly::sim {

class HandDrivenHost final : public AppHost {
  public:
    struct Timer final : RepeatingTimer {
        double interval = 0;
        std::function<void()> action;
    };

    void setDelegate(AppDelegate* delegate) noexcept override { delegate_ = delegate; }
    void setActivationPolicyAccessory() noexcept override { accessory = true; }
    // Calls the delegate and returns: the loop is fire().
    std::optional<std::string> run() override {
        if (delegate_ != nullptr) delegate_->applicationDidFinishLaunching();
        return std::nullopt;
    }
    std::shared_ptr<RepeatingTimer> scheduleRepeatingTimer(double interval,
                                                           std::function<void()> action) override {
        if (onSchedule) onSchedule();
        if (refuseTimers) return nullptr;
        auto timer = std::make_shared<Timer>();
        timer->interval = interval;
        timer->action = std::move(action);
        timers.push_back(timer);  // the loop keeps its own reference
        return timer;
    }
    void terminate() noexcept override { ++terminateRequests; }
    void terminateWithFailure() noexcept override { ++failureTerminations; }

    // Fires every timer once, as one tick of the loop.
    void fire() {
        for (const auto& timer : timers)
            timer->action();
    }

    std::vector<std::shared_ptr<Timer>> timers;
    std::function<void()> onSchedule;  // called as each timer is asked for, before it exists
    bool refuseTimers = false;         // scheduleRepeatingTimer yields null, as when out of fds
    int terminateRequests = 0;
    int failureTerminations = 0;
    bool accessory = false;

  private:
    AppDelegate* delegate_ = nullptr;
};

class RecordingLoginItems final : public LoginItems {
  public:
    LoginItemOutcome registerMainApp() override { return answer("register"); }
    LoginItemOutcome unregisterMainApp() override { return answer("unregister"); }

    std::vector<std::string> requests;   // "register" / "unregister", in order
    std::optional<std::string> failure;  // every request fails with this text while set

  private:
    LoginItemOutcome answer(std::string request) {
        requests.push_back(std::move(request));
        return failure ? LoginItemOutcome::failure(*failure) : LoginItemOutcome::success();
    }
};

class RecordingLog final : public SystemLog {
  public:
    void writeLine(std::string_view line) override { lines.emplace_back(line); }
    std::vector<std::string> lines;
};

// A fixed version text (or none), counting how often it is asked for.
class FixedVersion final : public VersionSource {
  public:
    explicit FixedVersion(std::optional<std::string> text) : text_(std::move(text)) {}
    std::optional<std::string> versionText() override {
        ++reads;
        return text_;
    }
    void set(std::optional<std::string> text) { text_ = std::move(text); }
    int reads = 0;

  private:
    std::optional<std::string> text_;
};

}  // namespace tessly::sim
