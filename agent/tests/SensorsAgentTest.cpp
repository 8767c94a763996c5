// The agent's launch, tick, control handling and login item, on scripted sensors, a hand-fired
// timer and a manual clock. Files go to a temporary HOME through the real SensorBridge.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <tuple>

#include <TesslyKit/RecordsJSON.h>
#include <TesslyKit/SensorBridge.h>

#include "agent/SensorsAgent.h"
#include "agent/tests/ScriptedMachine.h"
#include "testing/Scratch.h"

namespace tessly {
namespace {

class SensorsAgentTest : public ::testing::Test, protected testing::ScriptedMachine {
  protected:
    testing::TempDir dir;
    testing::ScopedEnv home{"HOME", dir.path().string()};
    std::filesystem::path container =
        dir / ("Library/Group Containers/" + std::string(SensorBridge::groupID));

    std::optional<std::string> versionText = "2.3.1";
    bool servicesAvailable = true;
    std::shared_ptr<SensorsAgent> agent;

    SensorsAgentTest() {
        fanSMC.setUInt8("FNum", 2).setFloat("F0Ac", 1200.0f).setFloat("F1Ac", 1300.0f);
        fanSMC.setFloat("F0Mn", 1000.0f).setFloat("F0Mx", 4900.0f);
    }

    void makeAgent() {
        version.set(versionText);
        agent = ScriptedMachine::makeAgent(servicesAvailable);
    }

    // Forgets the previous agent's files, timers and requests.
    void startAfresh() {
        std::filesystem::remove_all(container);
        host = sim::HandDrivenHost{};
        loginItems.requests.clear();
        agent.reset();
    }

    void launch() {
        makeAgent();
        host.run();
    }

    std::optional<SensorsPayload> published() {
        return decodeSensorsPayload(testing::readFile(container / "sensors.json"));
    }

    void writeControl(bool autostart, std::optional<double> stopRequestedAt = std::nullopt) {
        SensorBridge::writeControl({.autostart = autostart, .stopRequestedAt = stopRequestedAt});
    }
};

TEST_F(SensorsAgentTest, LaunchPublishesOnceBeforeTheTimerThenEveryTick) {
    std::optional<SensorsPayload> atSchedule;
    host.onSchedule = [&] { atSchedule = published(); };
    launch();

    ASSERT_TRUE(atSchedule);  // written before the timer existed
    EXPECT_DOUBLE_EQ(atSchedule->sampledAt, clock.wallNow());
    ASSERT_EQ(host.timers.size(), 1u);
    EXPECT_DOUBLE_EQ(host.timers[0]->interval, 1.0);
    EXPECT_TRUE(agent->hasTimer());

    ASSERT_TRUE(atSchedule->fan);
    EXPECT_EQ(atSchedule->fan->rpms, (std::vector<double>{1200.0, 1300.0}));
    ASSERT_TRUE(atSchedule->thermal);
    EXPECT_EQ(atSchedule->thermal->memoryTemperatureC, 41.5);

    for (int i = 1; i <= 3; ++i) {
        tick();
        const auto payload = published();
        ASSERT_TRUE(payload);
        EXPECT_DOUBLE_EQ(payload->sampledAt, clock.wallNow());
    }
}

TEST_F(SensorsAgentTest, ThrottledTicksRepublishTheLastThermalReading) {
    launch();
    const auto first = published()->thermal;
    ASSERT_TRUE(first);

    services.setTemperature(0, 90.0);  // "PMU tdie0" heats up
    tick();                            // 1 s after the last reading: throttled
    EXPECT_EQ(published()->thermal, first);
    EXPECT_EQ(agent->lastThermal(), first);

    tick();  // 2 s: a new reading
    ASSERT_TRUE(published()->thermal);
    EXPECT_EQ(published()->thermal->cpuTemperatureC, 90.0);
}

TEST_F(SensorsAgentTest, ReadingWithoutAnyTemperatureStillReplacesTheLastOne) {
    launch();
    ASSERT_TRUE(published()->thermal->cpuTemperatureC);
    for (std::size_t i = 0; i < services.serviceCount(); ++i)
        services.setTemperature(i, 0.0);
    thermalSMC.setFloat("TRD0", 0.0f);
    tick();
    tick();
    ASSERT_TRUE(published()->thermal);
    EXPECT_EQ(*published()->thermal, ThermalReading{});
}

TEST_F(SensorsAgentTest, WithoutTemperatureServicesNoPayloadCarriesThermal) {
    servicesAvailable = false;
    launch();
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(published());
        EXPECT_FALSE(published()->thermal);
        tick();
    }
}

TEST_F(SensorsAgentTest, FanReadingBelongsToTheTickThatProducedIt) {
    fanSMC.failExchangesFor("FNum");
    launch();
    EXPECT_FALSE(published()->fan);
    fanSMC.failExchangesFor("FNum", false);
    tick();
    ASSERT_TRUE(published()->fan);
    EXPECT_EQ(published()->fan->fanCount, 2);
}

TEST_F(SensorsAgentTest, VersionIsReadOnceForTheProcessLifeAndAbsentWhenThereIsNone) {
    for (const std::optional<std::string>& text :
         {std::optional<std::string>("2.3.1"), std::optional<std::string>()}) {
        startAfresh();
        version.reads = 0;
        versionText = text;
        launch();
        version.set("9.9.9");  // changing the source later changes nothing
        tick();
        tick();
        EXPECT_EQ(version.reads, 1);
        EXPECT_EQ(published().value().helperVersion, text);
    }
}

TEST_F(SensorsAgentTest, TimerFiringAfterTheAgentIsGoneDoesNothing) {
    launch();
    std::filesystem::remove(container / "sensors.json");
    loginItems.requests.clear();
    agent.reset();
    host.fire();
    EXPECT_FALSE(std::filesystem::exists(container / "sensors.json"));
    EXPECT_TRUE(loginItems.requests.empty());
}

TEST_F(SensorsAgentTest, StopRuleJudgesRequestsAgainstTheLaunchTime) {
    // Whether a control file is written, its stop time relative to the launch, whether it stops.
    const std::tuple<const char*, bool, std::optional<double>, bool> cases[] = {
        {"no control file", false, std::nullopt, false},
        {"no stop time", true, std::nullopt, false},
        {"after launch", true, 0.001, true},
        {"at launch", true, 0.0, false},
        {"before launch", true, -3600.0, false},
    };
    for (const auto& [name, writeFile, stopOffset, stops] : cases) {
        SCOPED_TRACE(name);
        startAfresh();
        makeAgent();
        if (writeFile) {
            writeControl(
                true, stopOffset ? std::optional(agent->launchedAt() + *stopOffset) : std::nullopt);
        }
        host.run();
        EXPECT_EQ(host.terminateRequests, stops ? 1 : 0);
        if (stops) {
            EXPECT_TRUE(loginItems.requests.empty());  // autostart rule skipped
            EXPECT_FALSE(agent->lastAutostart());
        } else {
            EXPECT_EQ(loginItems.requests.size(), 1u);
        }
        // The tick carries on when the host's terminate returns: the payload is still written.
        EXPECT_TRUE(published());
    }
}

TEST_F(SensorsAgentTest, StopRequestArrivingWhileRunningStopsWithoutLoginRequest) {
    writeControl(false);
    launch();
    ASSERT_EQ(loginItems.requests, std::vector<std::string>{"unregister"});
    writeControl(true, clock.wallNow() + 0.5);  // a new wish and a stop at once
    tick();
    EXPECT_EQ(host.terminateRequests, 1);
    EXPECT_EQ(loginItems.requests, std::vector<std::string>{"unregister"});
    EXPECT_EQ(agent->lastAutostart(), false);
}

TEST_F(SensorsAgentTest, AutostartRuleSendsARequestOnlyWhenTheWishChanges) {
    // The last applied wish, the desired one, the request sent (none: empty).
    using Requests = std::vector<std::string>;
    const std::tuple<std::optional<bool>, bool, Requests> cases[] = {
        {std::nullopt, true, {"register"}},
        {std::nullopt, false, {"unregister"}},
        {true, true, {}},
        {false, false, {}},
        {true, false, {"unregister"}},
        {false, true, {"register"}},
    };
    for (const auto& [last, desired, requests] : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "last " << ::testing::PrintToString(last) << ", desired " << desired);
        startAfresh();
        // The launch applies `last`; with `last` absent the launch itself is the call judged.
        writeControl(last.value_or(desired));
        launch();
        if (last) {
            ASSERT_EQ(agent->lastAutostart(), last);
            loginItems.requests.clear();
            writeControl(desired);
            tick();
        }
        EXPECT_EQ(loginItems.requests, requests);
        EXPECT_EQ(agent->lastAutostart(), desired);
    }
}

TEST_F(SensorsAgentTest, FailedRegistrationLogsOneVerbatimLineAndIsNotRetried) {
    loginItems.failure = "The operation couldn't be completed. (%s %n denied)";
    writeControl(true);
    launch();
    tick();
    tick();
    EXPECT_EQ(loginItems.requests, std::vector<std::string>{"register"});
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0], "Tessly Helper: login-item update failed: " + *loginItems.failure);
    EXPECT_EQ(agent->lastAutostart(), true);

    writeControl(false);  // a changed wish is sent again
    tick();
    EXPECT_EQ(loginItems.requests, (std::vector<std::string>{"register", "unregister"}));
    EXPECT_EQ(log.lines.size(), 2u);
}

TEST_F(SensorsAgentTest, AControlFileThatIsNoRecordMeansUnregister) {
    const std::pair<const char*, std::function<void(const std::filesystem::path&)>> cases[] = {
        {"truncated", [](const auto& file) { testing::writeFile(file, "{\"autostart\":"); }},
        {"a directory", [](const auto& file) { std::filesystem::create_directories(file); }},
        {"a FIFO", [](const auto& file) { ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0); }},
        {"over 1 MiB",
         [](const auto& file) { testing::writeFile(file, std::string(2 << 20, ' ')); }},
    };
    for (const auto& [name, arrange] : cases) {
        SCOPED_TRACE(name);
        startAfresh();
        writeControl(true);
        std::filesystem::remove(container / "control.json");
        arrange(container / "control.json");
        launch();
        EXPECT_EQ(loginItems.requests, std::vector<std::string>{"unregister"});
        EXPECT_EQ(host.terminateRequests, 0);
    }
}

// Every open fails with EMFILE while it lives: the soft descriptor limit is set to the lowest
// free descriptor number.
class DescriptorsExhausted {
  public:
    DescriptorsExhausted() {
        ::getrlimit(RLIMIT_NOFILE, &saved_);
        const int lowestFree = ::dup(0);
        ::close(lowestFree);
        rlimit exhausted = saved_;
        exhausted.rlim_cur = static_cast<rlim_t>(lowestFree);
        ::setrlimit(RLIMIT_NOFILE, &exhausted);
    }
    ~DescriptorsExhausted() { ::setrlimit(RLIMIT_NOFILE, &saved_); }
    DescriptorsExhausted(const DescriptorsExhausted&) = delete;
    DescriptorsExhausted& operator=(const DescriptorsExhausted&) = delete;

  private:
    rlimit saved_{};
};

TEST_F(SensorsAgentTest, AControlFileThatCannotBeReadNowChangesNothingUntilItCanBe) {
    writeControl(true);
    launch();
    ASSERT_EQ(loginItems.requests, std::vector<std::string>{"register"});
    {
        DescriptorsExhausted exhausted;
        tick();  // not "no record": the login item the user asked for stays
    }
    EXPECT_EQ(loginItems.requests, std::vector<std::string>{"register"});

    writeControl(true, agent->launchedAt() + 1);
    {
        DescriptorsExhausted exhausted;
        tick();
    }
    EXPECT_EQ(host.terminateRequests, 0);
    tick();  // the stop request is obeyed on the first tick that can read it
    EXPECT_EQ(host.terminateRequests, 1);
    EXPECT_EQ(loginItems.requests, std::vector<std::string>{"register"});
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(SensorsAgentTest, ATimerThatCannotBeCreatedIsLoggedAndEndsTheProcessWithAFailure) {
    host.refuseTimers = true;
    launch();
    EXPECT_TRUE(published());  // the launch payload went out first
    EXPECT_FALSE(agent->hasTimer());
    EXPECT_EQ(log.lines,
              std::vector<std::string>{"Tessly Helper: the tick timer cannot be created"});
    EXPECT_EQ(host.failureTerminations, 1);
    EXPECT_EQ(host.terminateRequests, 0);
}

TEST_F(SensorsAgentTest, LaunchSweepsOldPayloadTemporariesOnly) {
    const auto oldPayloadTemp = container / ".sensors.json.tmp.abcdefghijkl";
    const auto youngPayloadTemp = container / ".sensors.json.tmp.mnopqrstuvwx";
    const auto oldControlTemp = container / ".control.json.tmp.abcdefghijkl";
    for (const auto& p : {oldPayloadTemp, youngPayloadTemp, oldControlTemp}) {
        testing::writeFile(p, "{\"sampledAt\":");
    }
    const auto hourAgo = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
    std::filesystem::last_write_time(oldPayloadTemp, hourAgo);
    std::filesystem::last_write_time(oldControlTemp, hourAgo);

    launch();
    EXPECT_FALSE(std::filesystem::exists(oldPayloadTemp));
    EXPECT_TRUE(std::filesystem::exists(youngPayloadTemp));  // may be a write in progress
    EXPECT_TRUE(std::filesystem::exists(oldControlTemp));    // the application's, not ours
}

}  // namespace
}  // namespace tessly
