// `tessly watch`: the live view. On a terminal it takes the alternate screen, hides the cursor and
// redraws in place, and gives all of that back on every way out (q, Ctrl-C, SIGTERM, SIGHUP, and
// for the duration of a Ctrl-Z); elsewhere it writes one line per refresh so the output can be
// piped and logged.
//
// A terminal that cannot or must not be sent escape sequences (TERM=dumb or no TERM at all, or
// NO_COLOR set and not empty) gets no escape sequence at all: one plain line per refresh, the form
// of the pipe, while q and Ctrl-C still end it. A dumb terminal (an editor's shell buffer, a serial
// console) cannot move the cursor, so a screen written out anew each time would only scroll a
// dozen lines past per refresh and bury the readings; one line each leaves a scrollback in which
// every refresh reads at a glance and lines up with the one before. Whoever sets NO_COLOR asks for
// text without terminal styling, and gets the same lines.
//
// Signals are turned into bytes on a pipe that the loop polls, so the terminal is restored by the
// loop itself, never inside a signal handler. A signal that ends the view is raised again once
// the terminal is restored, so the caller sees the process end by that signal, as it expects.

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <TesslyKit/PayloadStatus.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Commands.h"
#include "cli/WatchView.h"

namespace tessly::cli {
namespace {

constexpr std::string_view enterScreen = "\x1b[?1049h\x1b[?25l";  // alternate screen, no cursor
constexpr std::string_view leaveScreen = "\x1b[?25h\x1b[?1049l";  // cursor back, main screen
constexpr std::string_view cursorHome = "\x1b[H";
constexpr std::string_view clearLine = "\x1b[K";
constexpr std::string_view clearBelow = "\x1b[J";

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// ---- signals as bytes on a pipe -----------------------------------------------------------------

int signalPipeWrite = -1;

extern "C" void onSignal(int signalNumber) {
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t ignored = ::write(signalPipeWrite, &byte, 1);
    errno = savedErrno;
}

class SignalPipe {
  public:
    explicit SignalPipe(std::vector<int> signals) : signals_(std::move(signals)) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        for (const int fd : fds) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
        readFd_ = fds[0];
        writeFd_ = fds[1];
        signalPipeWrite = writeFd_;
        for (const int signalNumber : signals_)
            catchSignal(signalNumber);
    }
    SignalPipe(const SignalPipe&) = delete;
    SignalPipe& operator=(const SignalPipe&) = delete;
    ~SignalPipe() {
        for (std::size_t i = 0; i < previous_.size(); ++i) {
            ::sigaction(previous_[i].first, &previous_[i].second, nullptr);
        }
        signalPipeWrite = -1;
        if (readFd_ >= 0) ::close(readFd_);
        if (writeFd_ >= 0) ::close(writeFd_);
    }

    int fd() const { return readFd_; }

    // The signals that arrived since the last call, in order.
    std::vector<int> take() {
        std::vector<int> arrived;
        unsigned char buffer[64];
        ssize_t got = 0;
        while ((got = ::read(readFd_, buffer, sizeof buffer)) > 0) {
            arrived.insert(arrived.end(), buffer, buffer + got);
        }
        return arrived;
    }

    // Stops the process as Ctrl-Z asks, with the default action, and catches the signal again
    // once the process continues.
    void suspendNow() {
        struct sigaction defaultAction {};
        defaultAction.sa_handler = SIG_DFL;
        sigemptyset(&defaultAction.sa_mask);
        ::sigaction(SIGTSTP, &defaultAction, nullptr);
        ::raise(SIGTSTP);
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGTSTP, &action, nullptr);
    }

  private:
    void catchSignal(int signalNumber) {
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        struct sigaction old {};
        if (::sigaction(signalNumber, &action, &old) == 0)
            previous_.emplace_back(signalNumber, old);
    }

    std::vector<int> signals_;
    std::vector<std::pair<int, struct sigaction>> previous_;
    int readFd_ = -1;
    int writeFd_ = -1;
};

// ---- the terminal ---------------------------------------------------------------------------

// Whether the terminal on standard output may be sent escape sequences.
bool escapesAllowed() {
    const char* term = std::getenv("TERM");
    const char* noColor = std::getenv("NO_COLOR");
    return term != nullptr && *term != '\0' && std::string_view(term) != "dumb" &&
           (noColor == nullptr || *noColor == '\0');
}

// How the view is drawn on a terminal.
enum class Style {
    fullScreen,  // the alternate screen, redrawn in place
    plainLines,  // one line per refresh, no escape sequence
};

class Screen {
  public:
    explicit Screen(Style style) : style_(style), keys_(::isatty(STDIN_FILENO) == 1) { enter(); }
    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;
    ~Screen() { leave(); }

    // Keys without echo and without waiting for Return; Ctrl-C still signals.
    void enter() {
        if (entered_) return;
        if (keys_ && ::tcgetattr(STDIN_FILENO, &saved_) == 0) {
            termios raw = saved_;
            raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
            raw.c_cc[VMIN] = 0;
            raw.c_cc[VTIME] = 0;
            restoreModes_ = ::tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
        }
        if (style_ == Style::fullScreen) writeAll(STDOUT_FILENO, enterScreen);
        entered_ = true;
    }

    void leave() {
        if (!entered_) return;
        if (style_ == Style::fullScreen) writeAll(STDOUT_FILENO, leaveScreen);
        if (restoreModes_) ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
        restoreModes_ = false;
        entered_ = false;
    }

    bool readsKeys() const { return keys_; }
    Style style() const { return style_; }

    // The screen again, as it was, after the terminal changed size or the process continued: a
    // full screen is drawn anew; plain lines already written stay as they are.
    void redraw(const WatchView& view) const {
        if (style_ == Style::fullScreen) draw(view);
    }

    void draw(const WatchView& view) const {
        winsize size{};
        int width = 80;
        int height = 24;
        if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0) {
            width = size.ws_col;
            height = size.ws_row;
        }
        const auto lines = view.screen(width);
        // One line fewer than the screen holds, so the last newline never scrolls it.
        std::string frame(cursorHome);
        for (std::size_t i = 0; i < lines.size() && static_cast<int>(i) + 1 < height; ++i) {
            frame += lines[i];
            frame += clearLine;
            frame += '\n';
        }
        frame += clearBelow;
        writeAll(STDOUT_FILENO, frame);
    }

  private:
    Style style_;
    bool keys_;
    bool entered_ = false;
    bool restoreModes_ = false;
    termios saved_{};
};

// Whether the keys read now ask to quit.
bool quitKeyPressed() {
    char buffer[64];
    const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
    for (ssize_t i = 0; i < got; ++i) {
        if (buffer[i] == 'q' || buffer[i] == 'Q') return true;
    }
    return false;
}

}  // namespace

int runWatch(Console& console, double interval) {
    WatchView view(interval, sensorlessHint(console.sysfsRoot, console.program));
    const bool terminal = ::isatty(STDOUT_FILENO) == 1;
    // Off a terminal the default actions of the signals are right: nothing to restore.
    std::optional<SignalPipe> signals;
    std::optional<Screen> screen;
    if (terminal) {
        signals.emplace(
            std::vector<int>{SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGWINCH, SIGTSTP, SIGCONT});
        screen.emplace(escapesAllowed() ? Style::fullScreen : Style::plainLines);
    }

    int endingSignal = 0;
    bool quit = false;
    bool noted = false;  // in lines, the sensorless note goes to standard error, once
    bool keys = screen && screen->readsKeys();
    double next = console.clock.monotonicNow();
    while (!quit && endingSignal == 0) {
        const double now = console.clock.wallNow();
        view.update(payloadStatus(now), now);
        if (screen && screen->style() == Style::fullScreen) {
            screen->draw(view);
        } else {
            if (!writeAll(STDOUT_FILENO, view.line() + "\n")) return exitFailure;  // reader gone
            if (!noted) {
                const std::string note = view.sensorlessNote();
                noted = !note.empty();
                if (noted) (void)writeAll(STDERR_FILENO, note);
            }
        }

        // A fixed schedule; a refresh that comes late is not made up by extra ones.
        next = std::max(next + interval, console.clock.monotonicNow());
        for (;;) {
            const double remaining = next - console.clock.monotonicNow();
            if (remaining <= 0) break;
            std::array<pollfd, 2> fds{};
            nfds_t count = 0;
            if (signals) fds[count++] = {signals->fd(), POLLIN, 0};
            const nfds_t keysAt = count;
            if (keys) fds[count++] = {STDIN_FILENO, POLLIN, 0};
            const int timeout = static_cast<int>(std::ceil(remaining * 1000));
            if (count == 0) {
                ::poll(nullptr, 0, timeout);
                continue;
            }
            if (::poll(fds.data(), count, timeout) <= 0) continue;

            if (signals && (fds[0].revents & POLLIN) != 0) {
                for (const int signalNumber : signals->take()) {
                    if (signalNumber == SIGWINCH || signalNumber == SIGCONT) {
                        screen->redraw(view);
                    } else if (signalNumber == SIGTSTP) {
                        screen->leave();
                        signals->suspendNow();  // returns when the shell continues the process
                        screen->enter();
                        screen->redraw(view);
                    } else {
                        endingSignal = signalNumber;
                    }
                }
            }
            if (keys) {
                const short events = fds[keysAt].revents;
                if ((events & POLLIN) != 0 && quitKeyPressed()) quit = true;
                // A terminal that hung up stays "ready" forever: stop asking it for keys.
                if ((events & (POLLHUP | POLLERR | POLLNVAL)) != 0) keys = false;
            }
            if (quit || endingSignal != 0) break;
        }
    }

    screen.reset();   // the terminal as it was
    signals.reset();  // and the signals' previous actions
    if (endingSignal != 0) {
        std::signal(endingSignal, SIG_DFL);
        std::raise(endingSignal);
    }
    return exitOK;
}

}  // namespace tessly::cli
