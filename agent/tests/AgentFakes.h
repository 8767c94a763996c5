#pragma once
// Hand-driven stand-ins for the agent's platform services: a host whose timer fires when the test
// says so, a login-item service and a log that record what they were asked.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/AppHost.h"
#include "platform/LoginItems.h"
#include "platform/SystemLog.h"

namespace tessly::testing {

class FakeHost final : public AppHost {
  public:
    struct Timer final : RepeatingTimer {
        double interval = 0;
        std::function<void()> action;
    };

    void setDelegate(AppDelegate* delegate) noexcept override { delegate_ = delegate; }
    void setActivationPolicyAccessory() noexcept override { accessory = true; }
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

    void reset() {
        timers.clear();
        onSchedule = nullptr;
        terminateRequests = 0;
        failureTerminations = 0;
        refuseTimers = false;
        delegate_ = nullptr;
    }

    // Fires every timer once, as one tick of the loop.
    void fire() {
        for (const auto& t : timers)
            t->action();
    }

    std::vector<std::shared_ptr<Timer>> timers;
    std::function<void()> onSchedule;
    int terminateRequests = 0;
    int failureTerminations = 0;
    bool refuseTimers = false;  // scheduleRepeatingTimer yields null, as when descriptors ran out
    bool accessory = false;

  private:
    AppDelegate* delegate_ = nullptr;
};

class FakeLoginItems final : public LoginItems {
  public:
    LoginItemOutcome registerMainApp() override {
        requests.push_back("register");
        return fail ? LoginItemOutcome::failure(failure) : LoginItemOutcome::success();
    }
    LoginItemOutcome unregisterMainApp() override {
        requests.push_back("unregister");
        return fail ? LoginItemOutcome::failure(failure) : LoginItemOutcome::success();
    }

    std::vector<std::string> requests;
    bool fail = false;
    std::string failure = "The operation couldn't be completed. (%s %n denied)";
};

class FakeLog final : public SystemLog {
  public:
    void writeLine(std::string_view line) noexcept override { lines.emplace_back(line); }
    std::vector<std::string> lines;
};

}  // namespace tessly::testing
