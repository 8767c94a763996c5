// The Linux host: the event loop's schedule and readers, and the XDG autostart entry.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "platform/linux/DeviceEvents.h"
#include "platform/linux/DiscoverySchedule.h"
#include "platform/linux/EventLoop.h"
#include "platform/linux/XdgAutostart.h"
#include "testing/Scratch.h"

namespace tessly::testing {
namespace {

using linux_host::EventLoop;
using linux_host::XdgAutostart;

// The event loop's clock, CLOCK_MONOTONIC, in seconds.
double monotonic() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Fires at creation + k * interval; fires missed while an action was busy collapse into one,
// and the next keeps the schedule. A timer outlives its creator's reference.
TEST(EventLoopTest, FiresOnTheScheduleAndNeverMakesUpLateFires) {
    EventLoop loop;
    std::vector<double> fires;
    const double created = monotonic();
    loop.addRepeatingTimer(
            0.1,
            [&] {
                fires.push_back(monotonic());
                if (fires.size() == 1) {
                    while (monotonic() < created + 0.44) {  // busy past three fire times
                    }
                }
                if (fires.size() == 3) loop.quit();
            })
        .reset();
    EXPECT_EQ(loop.run(), std::nullopt);
    ASSERT_EQ(fires.size(), 3u);
    EXPECT_GE(fires[0], created + 0.1);
    EXPECT_GE(fires[1], created + 0.44);
    EXPECT_GE(fires[2], created + 0.5);
}

// A watched descriptor is served between ticks until its reader asks to be dropped; one closed
// under the loop is dropped without a call. Timers keep their schedule throughout.
TEST(EventLoopTest, ReadersAreCalledOnInputUntilTheyAskToBeDropped) {
    EventLoop loop;
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    int readerCalls = 0, closedCalls = 0, ticks = 0;
    std::string received;
    loop.addReader(pipeFds[0], [&] {
        ++readerCalls;
        char buffer[16];
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n > 0) received.append(buffer, static_cast<std::size_t>(n));
        return n > 0;
    });
    const int closedFd = ::dup(pipeFds[0]);
    ASSERT_GE(closedFd, 0);
    loop.addReader(closedFd, [&] { return ++closedCalls, true; });
    ::close(closedFd);
    auto timer = loop.addRepeatingTimer(0.02, [&] {
        ++ticks;
        if (ticks == 2) {
            EXPECT_EQ(::write(pipeFds[1], "event", 5), 5);
        }
        if (ticks == 4) ::close(pipeFds[1]);  // end of input: the reader is done
        if (ticks == 8) loop.quit();
    });
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(loop.run(), std::nullopt);
    EXPECT_EQ(received, "event");
    EXPECT_EQ(readerCalls, 2);
    EXPECT_EQ(closedCalls, 0);
    EXPECT_EQ(ticks, 8);
    ::close(pipeFds[0]);
    EXPECT_EQ(EventLoop().run(), "the event loop has no timer to wait for");
}

// A wait that fails ends the loop with what failed, here for more descriptors waited on than the
// process may hold (poll refuses that with EINVAL); no timer fires after it. Descriptors stay
// free meanwhile, for the sanitizers.
TEST(EventLoopTest, AWaitThatFailsEndsTheLoopWithWhatFailed) {
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit few = saved;
    few.rlim_cur = std::min<rlim_t>(saved.rlim_cur, 256);
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    EventLoop loop;
    int ticks = 0;
    auto timer = loop.addRepeatingTimer(0.001, [&] { ++ticks, loop.quit(); });
    for (rlim_t i = 0; i <= few.rlim_cur; ++i)
        loop.addReader(pipeFds[0], [] { return true; });
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &few), 0);
    const auto failure = loop.run();
    ::setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(failure, "waiting for the next tick failed: Invalid argument");
    EXPECT_EQ(ticks, 0);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
}

// The process's host: a loop that cannot go on is a failure run() reports, and the host's
// failure ending is a non-zero exit status (its plain one is 0). Each in a child of its own.
TEST(LinuxAppHostTest, ALoopThatCannotGoOnIsAFailure) {
    EXPECT_EXIT(
        {
            const auto failure = AppHost::Default().run();  // no timer to wait for
            std::fputs(failure.value_or("").c_str(), stderr);
            std::_Exit(failure ? 3 : 0);
        },
        ::testing::ExitedWithCode(3), "^the event loop has no timer to wait for$");
    EXPECT_EXIT(AppHost::Default().terminateWithFailure(), ::testing::ExitedWithCode(1), "");
    EXPECT_EXIT(AppHost::Default().terminate(), ::testing::ExitedWithCode(0), "");
}

// Device events over a pipe: "c" is a change, "x" a source that fails.
class PipeEvents final : public hwmon::DeviceEventSource {
  public:
    explicit PipeEvents(int fd) noexcept : fd_(fd) {}
    ~PipeEvents() override { ::close(fd_); }
    int fd() const noexcept override { return fd_; }
    Drained drain() noexcept override {
        char byte = 0;
        if (::read(fd_, &byte, 1) != 1 || byte == 'x') return Drained::failed;
        return byte == 'c' ? Drained::changed : Drained::nothing;
    }

  private:
    int fd_;
};

// Discovery follows events as they come; a minute without one brings a listing check, and once
// the source fails the loop lets it go and the next look discovers. A device found gone brings
// one early discovery a minute.
TEST(DeviceWatchTest, DiscoveryFollowsEventsAndChecksTheListingAMinuteWithoutThem) {
    using enum hwmon::DiscoverySchedule::Due;
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    EventLoop loop;
    loop.addRepeatingTimer(0.005, [&] { loop.quit(); });
    hwmon::DeviceChanges changes;
    hwmon::watchDevices(loop, changes, std::make_unique<PipeEvents>(pipeFds[0]));
    ASSERT_TRUE(changes.watching());
    hwmon::DiscoverySchedule schedule(&changes);
    EXPECT_EQ(schedule.due(0), discovery);
    schedule.discovered(0);
    // What comes before a look (events over the pipe, "g" a device found gone), the look's time
    // and what is due then, which is then done.
    const std::tuple<std::string_view, double, hwmon::DiscoverySchedule::Due> steps[] = {
        {"n", 59, nothing},        {"cc", 59.5, discovery}, {"", 119, nothing},
        {"", 119.5, listingCheck}, {"", 179, nothing},      {"x", 180, discovery},
        {"g", 181, discovery},     {"g", 182, nothing},     {"", 241, discovery}};
    for (const auto& [before, now, due] : steps) {
        for (const char event : before) {
            if (event == 'g') {
                schedule.deviceGone();
                continue;
            }
            ASSERT_EQ(::write(pipeFds[1], &event, 1), 1);
            EXPECT_EQ(loop.run(), std::nullopt);
        }
        EXPECT_EQ(schedule.due(now), due) << now;
        if (due == discovery) schedule.discovered(now);
        if (due == listingCheck) schedule.listed(now);
    }
    EXPECT_FALSE(changes.watching());
    ::close(pipeFds[1]);
}

class XdgAutostartTest : public ::testing::Test, protected ScratchHome {};

// An entry must start this program: one that cannot (a path that is not UTF-8 or holds control
// characters, a folder that cannot be made) is written nowhere, and the caller is told.
TEST_F(XdgAutostartTest, RegisterWritesAnEntryThatStartsThisProgramAndUnregisterRemovesIt) {
    XdgAutostart autostart("/opt/Tessly Helper/100%/tessly-helper");
    ASSERT_TRUE(autostart.registerMainApp().succeeded);
    const std::string entry = readFile(autostartEntry());
    EXPECT_TRUE(entry.starts_with("[Desktop Entry]\nType=Application\n")) << entry;
    EXPECT_NE(entry.find("\nExec=\"/opt/Tessly Helper/100%%/tessly-helper\"\n"), std::string::npos)
        << entry;
    EXPECT_NE(entry.find("\nNoDisplay=true\n"), std::string::npos);
    EXPECT_TRUE(autostart.unregisterMainApp().succeeded);
    EXPECT_TRUE(autostart.unregisterMainApp().succeeded);  // already absent
    EXPECT_TRUE(fs::is_empty(autostartEntry().parent_path()));

    // Reserved characters are quoted, and the value escaped as desktop entries require.
    EXPECT_EQ(linux_host::desktopExecValue("/usr/bin/tessly-helper"), "/usr/bin/tessly-helper");
    EXPECT_EQ(linux_host::desktopExecValue("/opt/a$b"), "\"/opt/a\\\\$b\"");
    EXPECT_EQ(linux_host::desktopExecValue("/opt/a\\b"), "\"/opt/a\\\\\\\\b\"");

    for (const std::string program :
         {"/opt/bad\xff/helper", "/opt/\xc0\xaf/helper", "/opt/esc\x1b[2J/helper",
          "/opt/x\nExec=/bin/evil", "/opt/c1\xc2\x9b/helper"}) {
        const auto outcome = XdgAutostart(program).registerMainApp();
        EXPECT_FALSE(outcome.succeeded) << program;
        EXPECT_FALSE(fs::exists(autostartEntry())) << program;
    }
    fs::remove(autostartEntry().parent_path());
    writeFile(autostartEntry().parent_path(), "a file where the folder should be");
    const auto outcome = XdgAutostart("/opt/helper").registerMainApp();
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_NE(outcome.errorDescription.find("autostart"), std::string::npos);
    EXPECT_TRUE(XdgAutostart("/opt/helper").unregisterMainApp().succeeded);
}

}  // namespace
}  // namespace tessly::testing
