#include "platform/linux/XdgAutostart.h"

#include "base/Expected.h"
#include "base/Utf8.h"

#include <TesslyKit/AtomicFile.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <vector>

namespace tessly::linux_host {
namespace {

std::string errnoText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

std::optional<std::filesystem::path> homeDirectory() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') return home;
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* result = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 &&
        result != nullptr && result->pw_dir != nullptr && result->pw_dir[0] == '/') {
        return result->pw_dir;
    }
    return std::nullopt;
}

// The path of the running executable, or why the entry cannot name it. The kernel keeps the
// path the program was started from; once that file is deleted or replaced (a package upgrade)
// the path starts something else or nothing, and the kernel appends " (deleted)" to it. Rather
// than trust that text, the file now at the path must be the very file that is running.
Expected<std::string, std::string> runningExecutable() {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return unexpected("cannot locate the running program: " + error.message());
    struct stat running {
    }, atPath{};
    if (::stat("/proc/self/exe", &running) != 0 || ::stat(path.c_str(), &atPath) != 0 ||
        running.st_dev != atPath.st_dev || running.st_ino != atPath.st_ino) {
        return unexpected(std::string(
            "the running program has been deleted or replaced since it started; an entry would "
            "not start this agent"));
    }
    return path.string();
}

// Why `program` cannot be named by a desktop entry, or nothing when it can: entries are UTF-8
// text, and a control character in an Exec line is refused or misread by launchers.
std::optional<std::string> unusableInEntry(std::string_view program) {
    if (!utf8::isValid(program)) return "the program's path is not valid UTF-8";
    for (const char c : program) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) return "the program's path holds control characters";
    }
    // C1 controls, U+0080..U+009F, are C2 80..C2 9F in UTF-8.
    for (std::size_t i = 0; i + 1 < program.size(); ++i) {
        if (static_cast<unsigned char>(program[i]) == 0xC2 &&
            static_cast<unsigned char>(program[i + 1]) < 0xA0) {
            return "the program's path holds control characters";
        }
    }
    return std::nullopt;
}

bool isReserved(char c) {
    return std::string_view(" \t\n\"'\\><~|&;$*?#()`").find(c) != std::string_view::npos;
}

}  // namespace

std::string desktopExecValue(std::string_view program) {
    std::string exec;
    bool quote = program.empty();
    for (char c : program)
        quote = quote || isReserved(c);
    if (quote) exec += '"';
    for (char c : program) {
        if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) exec += '\\';
        if (c == '%') exec += '%';  // a literal percent, not a field code
        exec += c;
    }
    if (quote) exec += '"';

    // The key's value is a desktop-entry string: backslashes and control characters are escaped.
    std::string value;
    for (char c : exec) {
        switch (c) {
            case '\\':
                value += "\\\\";
                break;
            case '\n':
                value += "\\n";
                break;
            case '\t':
                value += "\\t";
                break;
            case '\r':
                value += "\\r";
                break;
            default:
                value += c;
        }
    }
    return value;
}

std::string autostartEntry(std::string_view program) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Tessly Helper\n"
           "Comment=Publishes the machine's sensor readings for Tessly\n"
           "Exec=" +
           desktopExecValue(program) +
           "\n"
           "NoDisplay=true\n"
           "Terminal=false\n";
}

std::optional<std::filesystem::path> autostartEntryPath() {
    std::filesystem::path config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        config = xdg;
    } else if (auto home = homeDirectory()) {
        config = *home / ".config";
    } else {
        return std::nullopt;
    }
    return config / "autostart" / autostartEntryName;
}

XdgAutostart::XdgAutostart(std::string program) : program_(std::move(program)) {}

LoginItemOutcome XdgAutostart::registerMainApp() {
    const auto path = autostartEntryPath();
    if (!path) return LoginItemOutcome::failure("no home directory for the autostart entry");
    const auto program =
        program_.empty() ? runningExecutable() : Expected<std::string, std::string>(program_);
    if (!program) return LoginItemOutcome::failure(program.error());
    if (program->empty()) return LoginItemOutcome::failure("no program to start");
    if (const auto reason = unusableInEntry(*program)) {
        return LoginItemOutcome::failure(*reason + "; no autostart entry written");
    }

    std::error_code error;
    std::filesystem::create_directories(path->parent_path(), error);
    if (error) {
        return LoginItemOutcome::failure("cannot create " + path->parent_path().string() + ": " +
                                         error.message());
    }
    // Atomic and flushed: the entry is the user's wish and must survive a crash whole.
    if (!replaceFileAtomically(path->parent_path(), path->filename().string(),
                               autostartEntry(*program), Durability::synced)) {
        return LoginItemOutcome::failure("cannot write " + path->string());
    }
    return LoginItemOutcome::success();
}

LoginItemOutcome XdgAutostart::unregisterMainApp() {
    const auto path = autostartEntryPath();
    if (!path) return LoginItemOutcome::failure("no home directory for the autostart entry");
    if (::unlink(path->c_str()) != 0) {
        const int error = errno;
        // ENOTDIR: a file squats where the folder should be, so there is no entry either.
        if (error == ENOENT || error == ENOTDIR) return LoginItemOutcome::success();
        return LoginItemOutcome::failure("cannot remove " + path->string() + ": " +
                                         errnoText(error));
    }
    return LoginItemOutcome::success();
}

}  // namespace tessly::linux_host

namespace tessly {

LoginItems& LoginItems::Default() {
    static linux_host::XdgAutostart autostart;
    return autostart;
}

}  // namespace tessly
