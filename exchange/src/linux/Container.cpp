// Linux has no application groups; the files go where the XDG base directories put each kind:
//   - the payload, rewritten every second and worthless after six, and the agent's lock in
//     "$XDG_RUNTIME_DIR/tessly": the per-user tmpfs the login manager makes, so a tick writes
//     nothing to a disk;
//   - control.json, the user's wishes (a login item, a stop), in "$XDG_STATE_HOME/tessly"
//     (default "~/.local/state/tessly"): state that programs write and that must outlive a
//     reboot, not configuration a person edits, so not the config directory.
// Where XDG_RUNTIME_DIR is unset, relative, or not a directory of this user's closed to others
// (mode 0700), the payload goes beside control.json, and the places say why.
// Home is $HOME when it is set and absolute, else the passwd entry of the real user.

#include "Container.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace tessly::detail {

namespace {

std::optional<std::filesystem::path> passwdHome() {
    const long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::size_t size = hint > 0 ? static_cast<std::size_t>(hint) : 4096;
    constexpr std::size_t largestBuffer = std::size_t{1} << 20;
    while (size <= largestBuffer) {
        std::vector<char> buffer(size);
        passwd entry{};
        passwd* found = nullptr;
        const int rc = getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found);
        if (rc == EINTR) continue;
        if (rc == ERANGE) {
            size *= 2;
            continue;
        }
        if (rc != 0 || found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] != '/') {
            return std::nullopt;
        }
        return std::filesystem::path(found->pw_dir);
    }
    return std::nullopt;
}

}  // namespace

// The variable's value when it is set and an absolute path, else empty.
std::string_view absoluteVariable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] == '/' ? std::string_view(value) : std::string_view();
}

// Why `runtime` cannot hold the payload, or empty when it can.
std::string unfitRuntimeDirectory(std::string_view runtime) {
    if (runtime.empty()) return "XDG_RUNTIME_DIR is not set to an absolute path";
    struct stat info {};
    const std::string path(runtime);
    if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return "XDG_RUNTIME_DIR (" + path + ") is not a directory";
    }
    if (info.st_uid != ::getuid() || (info.st_mode & 07777) != 0700) {
        return "XDG_RUNTIME_DIR (" + path + ") is not this user's with mode 0700";
    }
    return {};
}

const ContainerPlaces* containerPlaces(std::string_view) {
    // What the places were built from; rebuilt only when one of these changes, so the
    // run-time directory is judged once per value, not every second.
    struct Kept {
        std::string home, state, runtime;
        ContainerPlaces places;
    };
    thread_local std::optional<Kept> kept;
    const std::string_view runtime = absoluteVariable("XDG_RUNTIME_DIR");
    const std::string_view state = absoluteVariable("XDG_STATE_HOME");
    std::optional<std::filesystem::path> passwd;
    std::string_view home = absoluteVariable("HOME");
    if (home.empty()) {
        passwd = passwdHome();
        if (!passwd) return nullptr;
        home = passwd->native();
    }
    if (kept && kept->home == home && kept->state == state && kept->runtime == runtime) {
        return &kept->places;
    }
    kept.reset();
    ContainerPlaces places;
    places.control = (state.empty() ? std::filesystem::path(home) / ".local" / "state"
                                    : std::filesystem::path(state)) /
                     "tessly";
    places.payloadOnDisk = unfitRuntimeDirectory(runtime);
    places.payload =
        places.payloadOnDisk.empty() ? std::filesystem::path(runtime) / "tessly" : places.control;
    kept.emplace(
        Kept{std::string(home), std::string(state), std::string(runtime), std::move(places)});
    return &kept->places;
}

}  // namespace tessly::detail
