// The built tessly executable: `watch` writing lines into a pipe, and `watch` in a real
// pseudo-terminal, where it must redraw in place and give the terminal back on q and on Ctrl-C;
// `export --listen` scraped over loopback (crowds, slow and hostile clients included).
// HOME and XDG_CONFIG_HOME point into a scratch directory. The waits below only bound a failure;
// nothing is timed.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <TesslyKit/SensorBridge.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/Clock.h"
#include "cli/MetricsServer.h"
#include "testing/Scratch.h"

namespace tessly::cli::testing {
namespace {

using namespace std::chrono_literals;
using std::chrono::steady_clock;
using ::testing::AllOf;
using ::testing::AnyOf;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

class TesslyProcess : public ::testing::Test, protected tessly::testing::ScratchHome {
  protected:
    pid_t pid = -1;
    int out = -1;  // the child's output, from spawn
    int port = 0;  // the exporter's, from startExporter

    void TearDown() override {
        if (out >= 0) ::close(out);
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }

    // Replaces the child's image with `tessly <args>` in the scratch environment, with the
    // terminal's variables `terminal`.
    [[noreturn]] void execTessly(const std::vector<std::string>& args,
                                 std::vector<std::string> terminal = {"TERM=xterm"}) {
        std::vector<const char*> argv{TESSLY_CLI_PATH};
        for (const auto& arg : args)
            argv.push_back(arg.c_str());
        argv.push_back(nullptr);
        for (auto& variable : environment())
            terminal.push_back(std::move(variable));
        std::vector<const char*> envp{"PATH=/usr/bin:/bin"};
        for (const auto& variable : terminal)
            envp.push_back(variable.c_str());
        envp.push_back(nullptr);
        ::execve(TESSLY_CLI_PATH, const_cast<char* const*>(argv.data()),
                 const_cast<char* const*>(envp.data()));
        ::_exit(127);
    }

    // Starts `tessly <args>` with its output and errors going into a pipe; the reading end.
    int spawn(const std::vector<std::string>& args) {
        int fds[2];
        if (::pipe(fds) != 0) return -1;
        pid = ::fork();
        if (pid == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            ::dup2(fds[1], STDERR_FILENO);
            ::close(fds[0]);
            ::close(fds[1]);
            execTessly(args);
        }
        ::close(fds[1]);
        return fds[0];
    }

    // Reads from `fd` into `text` until `done()` holds, or (with no condition) until the child
    // has ended and its output is drained, whose wait status then lands in `status`. False when
    // 20 s pass first.
    bool readUntil(int fd, std::string& text, const std::function<bool()>& done,
                   int* status = nullptr) {
        const auto deadline = steady_clock::now() + 20s;
        bool ended = false;
        for (;;) {
            if (done && done()) return true;
            if (!done && !ended && ::waitpid(pid, status, WNOHANG) == pid) {
                ended = true;
                pid = -1;
            }
            if (steady_clock::now() > deadline) return false;
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

    // Starts `tessly export --format prometheus --listen 127.0.0.1:0` and reads its port.
    void startExporter() {
        out = spawn({"export", "--format", "prometheus", "--listen", "127.0.0.1:0"});
        ASSERT_GE(out, 0);
        std::string text;
        ASSERT_TRUE(readUntil(out, text, [&] { return text.find("/metrics\n") != text.npos; }))
            << text;
        const auto at = text.find("127.0.0.1:");
        ASSERT_NE(at, text.npos) << text;
        port = std::stoi(text.substr(at + 10));
    }

    static int count(const std::string& text, std::string_view part) {
        int n = 0;
        for (auto at = text.find(part); at != text.npos; at = text.find(part, at + part.size()))
            ++n;
        return n;
    }
};

TEST_F(TesslyProcess, WatchIntoAPipeWritesOneLinePerRefreshAndFollowsThePayload) {
    out = spawn({"watch", "--interval", "0.05"});
    ASSERT_GE(out, 0);
    std::string text;
    ASSERT_TRUE(readUntil(out, text, [&] { return count(text, "\n") >= 2; })) << text;
    EXPECT_THAT(text, AllOf(HasSubstr("Z no payload: "),
                            HasSubstr("sensors.json does not exist (is the agent running?)\n")));

    SensorBridge::write(
        {.thermal = ThermalReading{.cpuTemperatureC = 48.5},
         .fan = FanReading{.rpm = 1320, .fanCount = 1},
         .sampledAt = Clock::Default().wallNow() + 5});  // current for the next 11 s
    const std::size_t before = text.size();
    ASSERT_TRUE(readUntil(out, text, [&] {
        return count(text.substr(before), " cpu=48.5 fan=1320 age=-") >= 2;
    })) << text;
    EXPECT_EQ(text.find("\x1b"), std::string::npos);  // plain lines, no terminal control

    ::kill(pid, SIGTERM);
    int status = 0;
    ASSERT_TRUE(readUntil(out, text, nullptr, &status));
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
}

// In a terminal, watch redraws in place on the alternate screen and gives the terminal back (its
// screen, cursor and modes) on q, and on Ctrl-C, then ending by the signal as a shell expects. A
// dumb terminal, or a user who wants no colour, gets plain lines without a single escape.
TEST_F(TesslyProcess, WatchInATerminalGivesItBackOnQAndCtrlC) {
    using Terminal = std::vector<std::string>;
    for (const auto& [keys, signal, terminal] : {std::tuple{"q", 0, Terminal{"TERM=xterm"}},
                                                 {"\x03", SIGINT, Terminal{"TERM=xterm"}},
                                                 {"q", 0, Terminal{"TERM=dumb"}},
                                                 {"q", 0, Terminal{"TERM=xterm", "NO_COLOR=1"}}}) {
        SCOPED_TRACE(terminal.back());
        const bool plain = terminal.back() != "TERM=xterm";
        int master = -1, slave = -1;
        winsize size{.ws_row = 24, .ws_col = 80, .ws_xpixel = 0, .ws_ypixel = 0};
        ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, &size), 0);
        pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(master);
            ::login_tty(slave);  // a session of its own, the terminal its controlling one
            execTessly({"watch", "--interval", "0.1"}, terminal);
        }
        std::string text;
        const char* refresh = plain ? "Z no payload: " : "\x1b[J";
        EXPECT_TRUE(readUntil(master, text, [&] { return count(text, refresh) >= 2; })) << text;
        EXPECT_EQ(::write(master, keys, 1), 1);
        int status = 0;
        EXPECT_TRUE(readUntil(master, text, nullptr, &status)) << "tessly watch did not end";
        EXPECT_TRUE(signal != 0 ? WIFSIGNALED(status) && WTERMSIG(status) == signal
                                : WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << status;
        if (plain) {
            EXPECT_EQ(text.find('\x1b'), std::string::npos) << text;
        } else {
            // The alternate screen and a hidden cursor before the first frame; every frame from the
            // top left, clearing what the last one left; the screen, cursor and modes given back.
            const std::size_t firstFrame = text.find("\x1b[H");
            ASSERT_NE(firstFrame, std::string::npos) << text;
            EXPECT_LT(text.find("\x1b[?1049h\x1b[?25l"), firstFrame);
            EXPECT_EQ(count(text, "\x1b[H"), count(text, "\x1b[J"));
            EXPECT_THAT(text, HasSubstr("tessly watch · every 0.1 s · q or Ctrl-C quits"));
            EXPECT_GT(text.rfind("\x1b[?25h\x1b[?1049l"), text.rfind("\x1b[J"));
        }
        termios modes{};
        ASSERT_EQ(::tcgetattr(slave, &modes), 0);
        EXPECT_TRUE((modes.c_lflag & ECHO) != 0 && (modes.c_lflag & ICANON) != 0);
        ::close(master);
        ::close(slave);
    }
}

// ---- tessly export --listen, served for real ----------------------------------------------------

// A connected TCP socket to 127.0.0.1:port, or -1. Connecting, and each send, give up after 10 s.
int connectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const timeval wait{.tv_sec = 10, .tv_usec = 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Reads `fd` into `text` until the peer closes it (true), or `deadline` passes first (false).
bool readToClose(int fd, std::string& text, steady_clock::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
        char buffer[4096];
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) return true;  // closed, or reset after what was sent
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

// Sends `request` on a fresh loopback connection: everything the server answered before it
// closed the connection, or nothing when it was still open after `wait`.
std::optional<std::string> roundTrip(int port, std::string_view request,
                                     std::chrono::milliseconds wait = 10s) {
    const int fd = connectTo(port);
    if (fd < 0) return std::nullopt;
    (void)!::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string text;
    const bool closed = readToClose(fd, text, steady_clock::now() + wait);
    ::close(fd);
    return closed ? std::optional(text) : std::nullopt;
}

constexpr std::string_view scrape =
    "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";

const auto answeredCurrent = AllOf(StartsWith("HTTP/1.1 200 "), EndsWith("tessly_exporter_up 1\n"));

TEST(MetricsServer, AScrapeThatRunsOutOfMemoryIsAnswered503AndTheNextIsServed) {
    int requests = 0;  // on the server's thread only
    const auto server = MetricsServer::start({"127.0.0.1", 0}, [&](auto, auto) {
        if (++requests == 1) throw std::bad_alloc();
        return MetricsResponse{.contentType = "text/plain", .body = "served\n", .allow = ""};
    });
    ASSERT_TRUE(server) << server.error();
    EXPECT_THAT(roundTrip((*server)->port(), scrape).value_or("no answer"),
                StartsWith("HTTP/1.1 503 "));
    EXPECT_THAT(roundTrip((*server)->port(), scrape).value_or("no answer"),
                AllOf(StartsWith("HTTP/1.1 200 "), EndsWith("\r\n\r\nserved\n")));
}

using Exporter = TesslyProcess;

// Scrapes are answered while 50 clients say nothing and 8 send their head a byte a second; a head
// beyond the bound is refused and its connection closed. Requests sent together on one connection
// are answered in their order, HEAD without a body; a method that is not served gets 405 with
// Allow at once, its body unread. A second exporter on the same port says why it cannot start.
TEST_F(Exporter, ServesEveryScrapeWhateverOtherClientsSendAndKeepsItsPort) {
    SensorBridge::write({.thermal = ThermalReading{.cpuTemperatureC = 48.5},
                         .sampledAt = Clock::Default().wallNow()});
    startExporter();
    ASSERT_THAT(
        roundTrip(port, scrape).value_or("no answer"),
        AllOf(answeredCurrent, HasSubstr("tessly_temperature_celsius{sensor=\"cpu\"} 48.5\n")));

    std::vector<int> others;
    for (int i = 0; i < 58; ++i) {
        others.push_back(connectTo(port));
        ASSERT_GE(others.back(), 0);
    }
    std::atomic<bool> trickling = true;
    std::thread trickler([&] {
        for (std::string_view head = "GET /metrics HTTP/1.1\r\nX-Slow: "; trickling;
             head = "a", std::this_thread::sleep_for(1s)) {
            for (std::size_t i = 50; i < others.size(); ++i)
                (void)!::send(others[i], head.data(), head.size(), MSG_NOSIGNAL);
        }
    });
    EXPECT_THAT(roundTrip(port, scrape, 2s).value_or("not answered within 2 s"), answeredCurrent);

    const auto large = roundTrip(
        port, "GET /metrics HTTP/1.1\r\nX-Large: " + std::string(16 * 1024, 'a') + "\r\n\r\n");
    EXPECT_THAT(large.value_or("the connection stayed open"),
                AnyOf(StartsWith("HTTP/1.1 431 "), StartsWith("HTTP/1.1 400 ")));
    trickling = false;
    trickler.join();
    for (const int fd : others)
        ::close(fd);

    // The HEAD answer ends the reply at its blank line.
    EXPECT_THAT(roundTrip(port,
                          "GET /metrics HTTP/1.1\r\nHost: a\r\n\r\n"
                          "GET /nothing HTTP/1.1\r\nHost: a\r\n\r\n"
                          "HEAD /metrics HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n")
                    .value_or("still open"),
                ::testing::MatchesRegex("HTTP/1.1 200 .*HTTP/1.1 404 .*HTTP/1.1 200 .*\r\n\r\n"));
    EXPECT_THAT(roundTrip(port, "POST /metrics HTTP/1.1\r\nContent-Length: 1000000\r\n\r\n")
                    .value_or("still open"),
                AllOf(StartsWith("HTTP/1.1 405 "), HasSubstr("\r\nAllow: GET, HEAD\r\n")));

    const pid_t serving = pid;
    const int second =
        spawn({"export", "--format", "prometheus", "--listen", std::to_string(port)});
    ASSERT_GE(second, 0);
    std::string said;
    int status = 0;
    const bool ended = readUntil(second, said, nullptr, &status);
    ::close(second);
    if (!ended) ::kill(pid, SIGKILL), ::waitpid(pid, nullptr, 0);
    pid = serving;
    ASSERT_TRUE(ended) << "a second exporter on the same port kept running";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_EQ(said, "tessly: cannot listen on 127.0.0.1:" + std::to_string(port) +
                        ": Address already in use\n");
}

// A thousand clients that connect at once are all answered within 10 s, none left waiting in the
// listen queue.
TEST_F(Exporter, AnswersAThousandClientsConnectingAtOnce) {
    constexpr std::size_t clients = 1000;
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    if (limit.rlim_max < clients + 64)
        GTEST_SKIP() << "the hard limit of open files is " << limit.rlim_max;
    const rlimit raised{.rlim_cur = limit.rlim_max, .rlim_max = limit.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &raised), 0);
    startExporter();
    const auto deadline = steady_clock::now() + 10s;
    std::vector<int> sockets;
    for (std::size_t i = 0; i < clients && steady_clock::now() < deadline; ++i) {
        sockets.push_back(connectTo(port));
        (void)!::send(sockets.back(), scrape.data(), scrape.size(), MSG_NOSIGNAL);
    }
    std::size_t answered = 0;
    for (const int fd : sockets) {
        std::string reply;
        answered += fd >= 0 && readToClose(fd, reply, deadline) &&
                    reply.starts_with("HTTP/1.1 200 ") && reply.ends_with("tessly_exporter_up 0\n");
        ::close(fd);
    }
    ::setrlimit(RLIMIT_NOFILE, &limit);
    EXPECT_EQ(answered, clients) << "answered within 10 s";
}

}  // namespace
}  // namespace tessly::cli::testing
