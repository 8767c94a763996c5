// The built tessly executable: `watch` writing lines into a pipe, and `watch` in a real
// pseudo-terminal, where it must redraw in place and give the terminal back on q and on Ctrl-C.
// HOME and XDG_CONFIG_HOME point into a scratch directory. The waits below only bound a failure;
// nothing is timed.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <TesslyKit/SensorBridge.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "testing/Scratch.h"

namespace tessly::cli::testing {
namespace {

using namespace std::chrono_literals;

double wallNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

class TesslyProcess : public ::testing::Test, protected tessly::testing::ScratchHome {
  protected:
    pid_t pid = -1;

    void TearDown() override {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }

    // Replaces the child's image with `tessly <args>` in the scratch environment.
    [[noreturn]] void execTessly(const std::vector<std::string>& args) {
        std::vector<const char*> argv{TESSLY_CLI_PATH};
        for (const auto& arg : args)
            argv.push_back(arg.c_str());
        argv.push_back(nullptr);
        const std::string homeEnv = "HOME=" + home.string();
        const std::string configEnv = "XDG_CONFIG_HOME=" + (dir / "config").string();
        const char* envp[] = {homeEnv.c_str(), configEnv.c_str(), "TERM=xterm",
                              "PATH=/usr/bin:/bin", nullptr};
        ::execve(TESSLY_CLI_PATH, const_cast<char* const*>(argv.data()),
                 const_cast<char* const*>(envp));
        ::_exit(127);
    }

    // Reads from `fd` into `text` until `done()` holds, or (with no condition) until the child
    // has ended and its output is drained, whose wait status then lands in `status`. False when
    // 20 s pass first.
    bool readUntil(int fd, std::string& text, const std::function<bool()>& done,
                   int* status = nullptr) {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        bool ended = false;
        for (;;) {
            if (done && done()) return true;
            if (!done && !ended && ::waitpid(pid, status, WNOHANG) == pid) {
                ended = true;
                pid = -1;
            }
            if (std::chrono::steady_clock::now() > deadline) return false;
            pollfd p{fd, POLLIN, 0};
            const bool ready = ::poll(&p, 1, ended ? 0 : 50) > 0;
            char buffer[4096];
            const ssize_t got = ready ? ::read(fd, buffer, sizeof buffer) : 0;
            if (got > 0) {
                text.append(buffer, static_cast<std::size_t>(got));
            } else if (ended) {
                return true;  // nothing more to read from a child that has ended
            }
        }
    }

    static std::size_t count(const std::string& text, std::string_view part) {
        std::size_t n = 0;
        for (std::size_t at = text.find(part); at != std::string::npos;
             at = text.find(part, at + part.size())) {
            ++n;
        }
        return n;
    }
};

TEST_F(TesslyProcess, WatchIntoAPipeWritesOneLinePerRefreshAndFollowsThePayload) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        ::close(fds[0]);
        ::close(fds[1]);
        execTessly({"watch", "--interval", "0.05"});
    }
    ::close(fds[1]);

    std::string text;
    ASSERT_TRUE(readUntil(fds[0], text, [&] { return count(text, "\n") >= 2; })) << text;
    EXPECT_NE(text.find("Z no payload: "), std::string::npos) << text;
    EXPECT_NE(text.find("sensors.json does not exist (is the agent running?)\n"),
              std::string::npos);

    SensorBridge::write({.thermal = ThermalReading{.cpuTemperatureC = 48.5},
                         .fan = FanReading{.rpm = 1320, .fanCount = 1},
                         .sampledAt = wallNow() + 5});  // current for the next 11 s
    const std::size_t before = text.size();
    ASSERT_TRUE(readUntil(fds[0], text, [&] {
        return count(text.substr(before), " cpu=48.5 fan=1320 age=-") >= 2;
    })) << text;
    EXPECT_EQ(text.find("\x1b"), std::string::npos);  // plain lines, no terminal control

    ::kill(pid, SIGTERM);
    int status = 0;
    ASSERT_TRUE(readUntil(fds[0], text, nullptr, &status));
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    ::close(fds[0]);
}

// Run as root, export must never turn a device node into a regular file.
TEST_F(TesslyProcess, ExportLeavesADeviceNodeAsItIs) {
    const auto node = dir / "null";
    if (::mknod(node.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
        GTEST_SKIP() << "device nodes cannot be made here";
    }
    SensorBridge::write({.sampledAt = wallNow()});
    pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) execTessly({"export", "--format", "prometheus", "--output", node.string()});
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    pid = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    struct stat after {};
    ASSERT_EQ(::lstat(node.c_str(), &after), 0);
    EXPECT_TRUE(S_ISCHR(after.st_mode));
}

// In a terminal, watch redraws in place on the alternate screen and gives the terminal back (its
// screen, cursor and modes) on q, and on Ctrl-C, then ending by the signal as a shell expects.
TEST_F(TesslyProcess, WatchInATerminalGivesItBackOnQAndCtrlC) {
    for (const auto& [keys, signal] : {std::pair{"q", 0}, std::pair{"\x03", SIGINT}}) {
        SCOPED_TRACE(signal);
        int master = -1, slave = -1;
        winsize size{.ws_row = 24, .ws_col = 80, .ws_xpixel = 0, .ws_ypixel = 0};
        ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, &size), 0);
        pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(master);
            ::setsid();
            ::ioctl(slave, TIOCSCTTY, 0);
            for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
                ::dup2(slave, fd);
            execTessly({"watch", "--interval", "0.1"});
        }
        std::string text;
        EXPECT_TRUE(readUntil(master, text, [&] { return count(text, "\x1b[J") >= 2; })) << text;
        EXPECT_EQ(::write(master, keys, 1), 1);
        int status = 0;
        EXPECT_TRUE(readUntil(master, text, nullptr, &status)) << "tessly watch did not end";
        EXPECT_TRUE(signal != 0 ? WIFSIGNALED(status) && WTERMSIG(status) == signal
                                : WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << status;

        // The alternate screen and a hidden cursor before the first frame; every frame from the
        // top left, clearing what the last one left; the screen, cursor and modes given back.
        const std::size_t firstFrame = text.find("\x1b[H");
        ASSERT_NE(firstFrame, std::string::npos) << text;
        EXPECT_LT(text.find("\x1b[?1049h\x1b[?25l"), firstFrame);
        EXPECT_EQ(count(text, "\x1b[H"), count(text, "\x1b[J"));
        EXPECT_NE(text.find("tessly watch · every 0.1 s · q or Ctrl-C quits"), std::string::npos);
        EXPECT_GT(text.rfind("\x1b[?25h\x1b[?1049l"), text.rfind("\x1b[J"));
        termios modes{};
        ASSERT_EQ(::tcgetattr(slave, &modes), 0);
        EXPECT_TRUE((modes.c_lflag & ECHO) != 0 && (modes.c_lflag & ICANON) != 0);
        ::close(master);
        ::close(slave);
    }
}

}  // namespace
}  // namespace tessly::cli::testing
