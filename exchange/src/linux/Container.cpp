// Linux has no application groups: the container is the home-relative fallback,
// below the user's home directory as Linux programs find it ($HOME when it is set and absolute,
// else the passwd entry of the real user).

#include "Container.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <new>
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

const std::filesystem::path* containerDirectory(std::string_view groupID) noexcept {
    try {
        struct Kept {
            std::string home;
            std::string group;
            std::filesystem::path directory;
        };
        thread_local std::optional<Kept> kept;
        std::optional<std::filesystem::path> passwd;
        std::string_view home;
        if (const char* variable = std::getenv("HOME"); variable != nullptr && variable[0] == '/') {
            home = variable;
        } else {
            passwd = passwdHome();
            if (!passwd) return nullptr;
            home = passwd->native();
        }
        if (!kept || kept->home != home || kept->group != groupID) {
            kept.reset();
            kept.emplace(Kept{std::string(home), std::string(groupID),
                              fallbackContainer(std::filesystem::path(home), groupID)});
        }
        return &kept->directory;
    } catch (const std::bad_alloc&) {  // no container then
        return nullptr;
    }
}

}  // namespace tessly::detail
