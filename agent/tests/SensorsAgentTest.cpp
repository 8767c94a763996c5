// The agent on the simulated Apple Silicon laptop, a hand-driven host and a manual clock: what it
// publishes at launch and on every tick, and how it obeys the control file. Files go to a
// scratch HOME through the real TesslyKit.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <TesslyKit/TesslyKit.h>

#include <chrono>

#include "agent/SensorsAgent.h"
#include "base/ManualClock.h"
#include "platform/sim/HandDrivenHost.h"
#include "platform/sim/SimulatedMachine.h"
#include "testing/Scratch.h"

namespace tessly::testing {
namespace {

// Temperatures that let time pass while they are read, as real sensors take time to read.
struct SlowSource final : TemperatureSource {
    SlowSource(std::unique_ptr<TemperatureSource> source, ManualClock& manual)
        : inner(std::move(source)), clock(manual) {}
    bool readTemperatures(TemperatureSink& sink) override {
        clock.advance(0.25);
        return inner->readTemperatures(sink);
    }
    std::unique_ptr<TemperatureSource> inner;
    ManualClock& clock;
};

struct CountedFans final : FanSource {
    CountedFans(std::unique_ptr<FanSource> source, int& counter)
        : inner(std::move(source)), reads(counter) {}
    std::optional<FanReading> readFans() override {
        ++reads;
        return inner->readFans();
    }
    std::unique_ptr<FanSource> inner;
    int& reads;
};

class SensorsAgentTest : public ::testing::Test, protected ScratchHome {
  protected:
    sim::SimulatedMachine machine = *sim::SimulatedMachine::make("apple-silicon-laptop");
    int fanReads = 0;
    ManualClock clock;
    sim::HandDrivenHost host;
    sim::RecordingLoginItems loginItems;
    sim::RecordingLog log;
    sim::FixedVersion version{"2.3.1"};
    std::shared_ptr<SensorsAgent> agent;

    // A new agent over the machine (its fans left out when `fans` is false), launched on the host
    // as it is set up, less the last agent's timers and stops.
    void launch(bool fans = true) {
        host.timers.clear();
        host.terminateRequests = 0;
        fanReads = 0;
        agent = std::make_shared<SensorsAgent>(
            ThermalSampler(std::make_unique<SlowSource>(machine.temperatureSource(), clock), clock),
            fans ? std::make_unique<CountedFans>(machine.fanSource(), fanReads) : nullptr,
            SensorsAgent::Services{host, loginItems, log, clock, version});
        host.setDelegate(agent.get());
        host.run();
    }
    void tick(int times = 1) {
        for (int i = 0; i < times; ++i) {
            clock.advance(SensorsAgent::tickInterval);
            host.fire();
        }
    }
    std::optional<SensorsPayload> published() const {
        return decodeSensorsPayload(readFile(sensorsFile()));
    }
    void writeControl(bool autostart, std::optional<double> stopRequestedAt = std::nullopt) {
        SensorBridge::writeControl({.autostart = autostart, .stopRequestedAt = stopRequestedAt});
    }
};

// The launch sweeps old temporaries of the payload only (a young one may be a write under way,
// and control.json's belong to the application) and publishes once, before the timer; then one
// payload per tick, stamped after both samplers.
TEST_F(SensorsAgentTest, LaunchSweepsAndPublishesOnceBeforeTheTimerThenEveryTick) {
    const std::pair<fs::path, bool> temporaries[] = {
        // (file, whether the launch removes it)
        {container() / ".sensors.json.tmp.abcdefghijkl", true},
        {container() / ".sensors.json.tmp.mnopqrstuvwx", false},
        {container() / ".control.json.tmp.abcdefghijkl", false}};
    for (const auto& temporary : temporaries)
        writeFile(temporary.first, "{");
    const auto hourAgo = fs::file_time_type::clock::now() - std::chrono::hours(1);
    fs::last_write_time(temporaries[0].first, hourAgo);
    fs::last_write_time(temporaries[2].first, hourAgo);
    std::optional<SensorsPayload> atSchedule;
    host.onSchedule = [&] { atSchedule = published(); };
    launch();
    for (const auto& [file, removed] : temporaries)
        EXPECT_NE(fs::exists(file), removed) << file;
    ASSERT_TRUE(atSchedule);
    EXPECT_EQ(atSchedule->sampledAt, clock.wallNow());
    EXPECT_EQ(fanReads, 1);  // one sample at launch
    ASSERT_EQ(host.timers.size(), 1u);
    EXPECT_EQ(host.timers[0]->interval, 1.0);
    EXPECT_TRUE(atSchedule->thermal && atSchedule->thermal->cpuTemperatureC);
    EXPECT_EQ(atSchedule->fan->fanCount, 2);
    EXPECT_EQ(atSchedule->helperVersion, "2.3.1");

    for (int i = 0; i < 3; ++i) {
        machine.advanceTo(14 + i);  // the fans spin up
        tick();
        ASSERT_TRUE(published());
        EXPECT_EQ(published()->sampledAt, clock.wallNow());
        EXPECT_EQ(published()->fan, machine.fanSource()->readFans());
        EXPECT_EQ(fanReads, 2 + i);
    }
    EXPECT_EQ(version.reads, 1);  // the version is read once for the agent's life
}

// A throttled tick republishes the last thermal reading; a fan reading belongs to its own tick
// only, and a machine without fans never shows one.
TEST_F(SensorsAgentTest, TheLastThermalReadingIsCarriedAndFanReadingsAreNot) {
    launch();
    const auto first = published()->thermal;
    machine.advanceTo(600);
    tick();  // 1.25 s after the last reading: throttled
    EXPECT_EQ(published()->thermal, first);
    EXPECT_EQ(agent->lastThermal(), first);
    tick();
    EXPECT_NE(published()->thermal, first);

    launch(/*fans=*/false);
    tick();
    EXPECT_FALSE(published()->fan);
    EXPECT_TRUE(published()->thermal);
}

// The stop rule judges a request against the launch: only a later one stops, and then no
// login-item request is sent. The tick carries on when the host's terminate returns.
TEST_F(SensorsAgentTest, AStopRequestStopsOnlyAgentsLaunchedBeforeIt) {
    const std::pair<std::optional<double>, bool> cases[] = {
        {std::nullopt, false}, {0.001, true}, {0.0, false}, {-3600.0, false}};
    for (const auto& [offset, stops] : cases) {
        SCOPED_TRACE(offset.value_or(-1));
        loginItems.requests.clear();
        fs::remove_all(container());
        writeControl(true, offset ? std::optional(clock.wallNow() + *offset) : std::nullopt);
        launch();
        EXPECT_EQ(host.terminateRequests, stops ? 1 : 0);
        EXPECT_EQ(loginItems.requests.size(), stops ? 0u : 1u);
        EXPECT_TRUE(published());
    }
    writeControl(false, clock.wallNow() + 10);  // a new wish with a stop: only the stop counts
    tick();
    EXPECT_EQ(host.terminateRequests, 1);
    EXPECT_EQ(loginItems.requests, std::vector<std::string>{"register"});
}

// A request goes out at launch and whenever the wish changes; a failure is logged once, verbatim,
// and not retried while the wish stays. No record (missing, invalid, not a file) wishes off.
TEST_F(SensorsAgentTest, TheLoginItemFollowsTheWishAndAFailureIsLoggedOnce) {
    launch();
    for (const bool wish : {true, true, false}) {
        writeControl(wish);
        tick();
    }
    EXPECT_EQ(loginItems.requests,
              (std::vector<std::string>{"unregister", "register", "unregister"}));

    loginItems.failure = "denied (%s %n)";
    writeControl(true);
    tick(3);
    EXPECT_EQ(log.lines,
              std::vector<std::string>{"Tessly Helper: login-item update failed: denied (%s %n)"});
    EXPECT_EQ(loginItems.requests.size(), 4u);

    for (const auto& arrange : std::initializer_list<std::function<void()>>{
             [&] { writeFile(controlFile(), "{\"autostart\":"); },
             [&] { fs::create_directories(controlFile()); },
             [&] { ASSERT_EQ(::mkfifo(controlFile().c_str(), 0600), 0); }}) {
        fs::remove_all(controlFile());
        arrange();
        loginItems.requests.clear();
        launch();
        EXPECT_EQ(loginItems.requests, std::vector<std::string>{"unregister"});
    }
}

// Every open fails with EMFILE while it lives: the soft limit is set to the lowest free
// descriptor number.
struct DescriptorsExhausted {
    DescriptorsExhausted() {
        ::getrlimit(RLIMIT_NOFILE, &saved);
        const int lowestFree = ::dup(0);
        ::close(lowestFree);
        rlimit exhausted = saved;
        exhausted.rlim_cur = static_cast<rlim_t>(lowestFree);
        ::setrlimit(RLIMIT_NOFILE, &exhausted);
    }
    ~DescriptorsExhausted() { ::setrlimit(RLIMIT_NOFILE, &saved); }
    rlimit saved{};
};

// A control file that cannot be read for want of descriptors is no statement about the wish:
// nothing changes on that tick, and a stop request is obeyed once it can be read. The payload
// that could not be written either is said once.
TEST_F(SensorsAgentTest, AControlFileThatCannotBeReadNowChangesNothing) {
    writeControl(true);
    launch();
    writeControl(true, clock.wallNow() + 5);
    // The sanitizers' first type check of a virtual call needs a descriptor of its own; the log
    // is called once through its interface while there are some.
    static_cast<SystemLog&>(log).writeLine("");
    log.lines.clear();
    {
        DescriptorsExhausted exhausted;
        tick();
    }
    EXPECT_EQ(log.lines,
              std::vector<std::string>{"Tessly Helper: cannot publish " + sensorsFile().string() +
                                       ": Too many open files"});
    EXPECT_EQ(loginItems.requests, std::vector<std::string>{"register"});
    EXPECT_EQ(host.terminateRequests, 0);
    tick();
    EXPECT_EQ(host.terminateRequests, 1);
}

// An unchanged control file is answered from its identity alone, without opening it (here it
// could not be opened); any replacement is read anew, and so is a file that appears. The agent
// reads a replacement of the same size on the next tick even when it carries the same
// modification time (coarse file-system timestamps stamp writes close together alike).
TEST_F(SensorsAgentTest, AControlFileIsReadAgainOnlyOnceReplaced) {
    ControlReader reader;
    EXPECT_EQ(reader.read().state, ControlStatus::State::missing);
    writeControl(true);
    ASSERT_EQ(reader.read().control->autostart, true);
    {
        DescriptorsExhausted exhausted;
        EXPECT_EQ(reader.read().control->autostart, true);
    }
    writeControl(false);
    EXPECT_EQ(reader.read().control->autostart, false);
    fs::remove(controlFile());
    EXPECT_EQ(reader.read().state, ControlStatus::State::missing);

    std::vector<std::uintmax_t> sizes;
    const auto replace = [&](double stopRequestedAt) {
        const fs::path next = controlDirectory() / "control.next";
        writeFile(next, *encodeJSON(
                            SensorControl{.autostart = true, .stopRequestedAt = stopRequestedAt}));
        const timespec stamp[2] = {{1'767'225'600, 0}, {1'767'225'600, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, next.c_str(), stamp, 0), 0);
        sizes.push_back(fs::file_size(next));
        fs::rename(next, controlFile());
    };
    launch();
    replace(agent->launchedAt() - 1);
    tick();
    ASSERT_EQ(host.terminateRequests, 0);
    replace(agent->launchedAt() + 1);
    ASSERT_EQ(sizes[0], sizes[1]);
    tick();
    EXPECT_EQ(host.terminateRequests, 1);
}

TEST_F(SensorsAgentTest, WithoutATimerTheAgentSaysSoAndEndsWithAFailure) {
    host.refuseTimers = true;
    launch();
    EXPECT_TRUE(published());
    EXPECT_EQ(log.lines,
              std::vector<std::string>{"Tessly Helper: the tick timer cannot be created"});
    EXPECT_EQ(host.failureTerminations, 1);
}

// A payload that cannot be published (here its name is taken by a directory) is said once, with
// the file and the reason, and once more when publishing works again; nothing per tick.
TEST_F(SensorsAgentTest, PublishingThatFailsIsSaidOnceAndSoIsItsReturn) {
    const std::string file = sensorsFile().string();
    const std::string failing = "Tessly Helper: cannot publish " + file + ": Is a directory";
    writeFile(sensorsFile() / "keep", "");
    launch();
    tick(3);
    EXPECT_EQ(log.lines, std::vector<std::string>{failing});
    fs::remove_all(container());
    tick(2);
    ASSERT_TRUE(published());
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{failing, "Tessly Helper: publishing again to " + file}));
}

}  // namespace
}  // namespace tessly::testing
