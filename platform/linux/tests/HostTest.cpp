// The Linux host: the timerfd loop's schedule and failures, and the XDG autostart entry.

#include <gtest/gtest.h>
#include <time.h>
#include <unistd.h>

#include "platform/linux/EventLoop.h"
#include "platform/linux/XdgAutostart.h"
#include "testing/Scratch.h"

namespace tessly::testing {
namespace {

using linux_host::EventLoop;
using linux_host::XdgAutostart;

double monotonic() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
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

// A timer that can no longer be read ends the loop with what failed, never as a success.
TEST(EventLoopTest, ATimerThatCannotBeReadEndsTheLoopWithWhatFailed) {
    EventLoop loop;
    int fires = 0;
    auto timer = loop.addRepeatingTimer(0.01, [&] { ++fires; });
    int timerFd = -1;
    for (int fd = 3; fd < 1024 && timerFd < 0; ++fd) {
        char link[64] = {};
        const std::string path = "/proc/self/fd/" + std::to_string(fd);
        if (::readlink(path.c_str(), link, sizeof link - 1) > 0 &&
            std::string_view(link).find("timerfd") != std::string_view::npos) {
            timerFd = fd;
        }
    }
    ASSERT_GE(timerFd, 0);
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    ASSERT_EQ(::write(pipeFds[1], "abc", 3), 3);  // three bytes where a timer gives eight
    ::dup2(pipeFds[0], timerFd);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    EXPECT_EQ(loop.run(), "the tick timer cannot be read: Input/output error");
    EXPECT_EQ(fires, 0);
    EXPECT_EQ(EventLoop().run(), "the event loop has no timer to wait for");
}

class XdgAutostartTest : public ::testing::Test, protected ScratchHome {};

TEST_F(XdgAutostartTest, RegisterWritesTheEntryAndUnregisterRemovesIt) {
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
}

// An entry must start this program: a path that is not UTF-8 or holds control characters is
// written nowhere, and a folder that cannot be made is said so.
TEST_F(XdgAutostartTest, AnEntryThatCannotBeRightIsNotWritten) {
    for (const std::string program :
         {"/opt/bad\xff/helper", "/opt/\xc0\xaf/helper", "/opt/esc\x1b[2J/helper",
          "/opt/x\nExec=/bin/evil", "/opt/c1\xc2\x9b/helper"}) {
        const auto outcome = XdgAutostart(program).registerMainApp();
        EXPECT_FALSE(outcome.succeeded) << program;
        EXPECT_FALSE(fs::exists(autostartEntry())) << program;
    }
    writeFile(autostartEntry().parent_path(), "a file where the folder should be");
    const auto outcome = XdgAutostart("/opt/helper").registerMainApp();
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_NE(outcome.errorDescription.find("autostart"), std::string::npos);
    EXPECT_TRUE(XdgAutostart("/opt/helper").unregisterMainApp().succeeded);
}

}  // namespace
}  // namespace tessly::testing
