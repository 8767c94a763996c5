// The Linux host: the timer loop's schedule and the XDG autostart entry.
#include <gtest/gtest.h>

#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include <TesslyKit/RecordsJSON.h>
#include <TesslyKit/SensorBridge.h>

#include "agent/SensorsAgent.h"
#include "agent/tests/HwmonAgent.h"
#include "base/ManualClock.h"
#include "platform/linux/EventLoop.h"
#include "platform/linux/XdgAutostart.h"
#include "platform/sim/HandDrivenHost.h"
#include "testing/Scratch.h"

namespace tessly {
namespace {

using linux_host::autostartEntry;
using linux_host::desktopExecValue;
using linux_host::EventLoop;
using linux_host::XdgAutostart;
using testing::ScopedEnv;
using testing::TempDir;

double monotonic() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

TEST(EventLoopTest, FiresOnTheScheduleCountedFromCreationAndNeverMakesUpLateFires) {
    constexpr double interval = 0.1;
    EventLoop loop;
    std::vector<double> fires;
    const double created = monotonic();
    auto timer = loop.addRepeatingTimer(interval, [&] {
        fires.push_back(monotonic());
        if (fires.size() == 1) {
            // Busy past three more fire times (0.2, 0.3, 0.4 s after creation).
            while (monotonic() < created + 0.44) {
            }
        }
        if (fires.size() == 3) loop.quit();
    });
    ASSERT_NE(timer, nullptr);
    loop.run();

    ASSERT_EQ(fires.size(), 3u);
    EXPECT_GE(fires[0], created + interval);  // never early
    // The missed fires collapse into one, which runs as soon as the loop is free...
    EXPECT_GE(fires[1], created + 0.44);
    // ...and the next keeps the original schedule (0.5 s) instead of following right away.
    EXPECT_GE(fires[2], created + 0.5);
    EXPECT_GE(fires[2] - fires[1], interval * 0.2);
}

TEST(EventLoopTest, TimerOutlivesTheCreatorsReference) {
    EventLoop loop;
    int fires = 0;
    loop.addRepeatingTimer(0.01,
                           [&] {
                               if (++fires == 2) loop.quit();
                           })
        .reset();
    loop.run();
    EXPECT_EQ(fires, 2);
}

TEST(EventLoopTest, ATimerThatCanNoLongerBeReadEndsTheLoopWithWhatFailed) {
    EventLoop loop;
    int fires = 0;
    int timerFd = -1;
    auto timer = loop.addRepeatingTimer(0.01, [&] { ++fires; });
    ASSERT_NE(timer, nullptr);
    // The loop's only descriptor is its timer's: find it, and put a pipe holding three bytes in
    // its place, so the next read returns something no timer returns.
    for (int fd = 3; fd < 1024 && timerFd < 0; ++fd) {
        char link[64];
        const std::string path = "/proc/self/fd/" + std::to_string(fd);
        const ssize_t n = ::readlink(path.c_str(), link, sizeof link);
        if (n > 0 && std::string_view(link, static_cast<std::size_t>(n)).find("timerfd") !=
                         std::string_view::npos) {
            timerFd = fd;
        }
    }
    ASSERT_GE(timerFd, 0);
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    ASSERT_EQ(::write(pipeFds[1], "abc", 3), 3);
    ASSERT_EQ(::dup2(pipeFds[0], timerFd), timerFd);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);

    const auto failure = loop.run();
    ASSERT_TRUE(failure);
    EXPECT_EQ(*failure, "the tick timer cannot be read: Input/output error");
    EXPECT_EQ(fires, 0);
}

TEST(DesktopEntryTest, ExecValueQuotesAndEscapesAsDesktopEntriesRequire) {
    // Inside quotes $, " and ` get a backslash, then every backslash is doubled for the file.
    const std::pair<const char*, const char*> cases[] = {
        {"/usr/bin/tessly-helper", "/usr/bin/tessly-helper"},
        {"/opt/Tessly Helper/tessly-helper", "\"/opt/Tessly Helper/tessly-helper\""},
        {"/opt/a$b", "\"/opt/a\\\\$b\""},
        {"/opt/a\"b", "\"/opt/a\\\\\"b\""},
        {"/opt/a`b", "\"/opt/a\\\\`b\""},
        {"/opt/a\\b", "\"/opt/a\\\\\\\\b\""},
        {"/opt/100%/x", "/opt/100%%/x"},
        {"/opt/a;b", "\"/opt/a;b\""},
        {"/opt/new\nline", "\"/opt/new\\nline\""},
    };
    for (const auto& [program, exec] : cases)
        EXPECT_EQ(desktopExecValue(program), exec) << program;
}

class XdgAutostartTest : public ::testing::Test {
  protected:
    TempDir dir;
    ScopedEnv home{"HOME", (dir / "home").string()};
    ScopedEnv config{"XDG_CONFIG_HOME", (dir / "config").string()};
    std::filesystem::path entry = dir / "config/autostart/app.tessly.helper.desktop";
    XdgAutostart autostart{"/opt/Tessly/tessly-helper"};
};

TEST_F(XdgAutostartTest, RegisterWritesTheEntryAndUnregisterRemovesIt) {
    ASSERT_TRUE(autostart.registerMainApp().succeeded);
    EXPECT_EQ(testing::readFile(entry), autostartEntry("/opt/Tessly/tessly-helper"));
    EXPECT_NE(testing::readFile(entry).find("\nExec=/opt/Tessly/tessly-helper\n"),
              std::string::npos);
    EXPECT_NE(testing::readFile(entry).find("\nNoDisplay=true\n"), std::string::npos);

    ASSERT_TRUE(autostart.registerMainApp().succeeded);  // rewriting is fine
    ASSERT_TRUE(autostart.unregisterMainApp().succeeded);
    EXPECT_FALSE(std::filesystem::exists(entry));
    EXPECT_TRUE(autostart.unregisterMainApp().succeeded);         // already absent
    EXPECT_TRUE(std::filesystem::is_empty(entry.parent_path()));  // no temporaries left
}

TEST_F(XdgAutostartTest, AProgramPathNoEntryCanCarryWritesNothingAndSaysWhy) {
    const std::pair<std::string, std::string_view> cases[] = {
        {"/opt/bad\xff/tessly-helper", "not valid UTF-8"},
        {"/opt/\xc0\xaf/tessly-helper", "not valid UTF-8"},  // an overlong '/'
        {"/opt/esc\x1b[2J/tessly-helper", "control characters"},
        {"/opt/line\nExec=/bin/evil", "control characters"},
        {"/opt/c1\xc2\x9b/tessly-helper", "control characters"},
    };
    for (const auto& [program, reason] : cases) {
        const auto outcome = XdgAutostart(program).registerMainApp();
        EXPECT_FALSE(outcome.succeeded) << program;
        EXPECT_NE(outcome.errorDescription.find(reason), std::string::npos)
            << outcome.errorDescription;
        EXPECT_FALSE(std::filesystem::exists(entry)) << program;
    }
}

TEST_F(XdgAutostartTest, RelativeConfigHomeFallsBackToHomeConfig) {
    ScopedEnv relative{"XDG_CONFIG_HOME", "relative/config"};
    ASSERT_TRUE(autostart.registerMainApp().succeeded);
    EXPECT_TRUE(std::filesystem::exists(dir / "home/.config/autostart/app.tessly.helper.desktop"));
}

TEST_F(XdgAutostartTest, FileWhereTheFolderShouldBeFailsWithADescription) {
    testing::writeFile(dir / "config/autostart", "not a folder");
    const auto outcome = autostart.registerMainApp();
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_NE(outcome.errorDescription.find("autostart"), std::string::npos);
    EXPECT_TRUE(autostart.unregisterMainApp().succeeded);  // there is no entry to remove
    EXPECT_EQ(testing::readFile(dir / "config/autostart"), "not a folder");
}

TEST_F(XdgAutostartTest, FolderWhereTheEntryShouldBeFailsBothWays) {
    std::filesystem::create_directories(entry / "squatter");
    EXPECT_FALSE(autostart.registerMainApp().succeeded);
    EXPECT_FALSE(autostart.unregisterMainApp().succeeded);
    // The failed write left no temporary behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(entry.parent_path()), {}), 1);
}

// A machine without sensors (a container): the agent publishes an empty thermal reading and no
// fans, and runs on.
TEST(LinuxSensorsAgentTest, MachineWithoutSensorsPublishesEmptyThermalAndNoFan) {
    TempDir dir;
    ScopedEnv home{"HOME", (dir / "home").string()};
    std::filesystem::create_directories(dir / "sys/class");  // no hwmon, no power_supply
    ManualClock clock;
    sim::HandDrivenHost host;
    sim::FixedVersion version{std::nullopt};
    sim::RecordingLoginItems loginItems;
    sim::RecordingLog log;
    const std::string root = (dir / "sys").string();
    auto agent = testing::makeHwmonAgent(
        root, clock, SensorsAgent::Services{host, loginItems, log, clock, version});
    host.setDelegate(agent.get());
    host.run();
    for (int tick = 0; tick < 4; ++tick) {
        const auto payload = decodeSensorsPayload(
            testing::readFile(dir / "home/Library/Group Containers" /
                              std::string(SensorBridge::groupID) / "sensors.json"));
        ASSERT_TRUE(payload);
        ASSERT_TRUE(payload->thermal);
        EXPECT_EQ(*payload->thermal, ThermalReading{});
        EXPECT_FALSE(payload->fan);
        EXPECT_DOUBLE_EQ(payload->sampledAt, clock.wallNow());
        clock.advance(1.0);
        host.fire();
    }
    EXPECT_EQ(host.terminateRequests, 0);
}

}  // namespace
}  // namespace tessly
