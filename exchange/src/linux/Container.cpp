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

std::optional<std::filesystem::path> containerDirectory(std::string_view groupID) noexcept {
    try {
        // Built once per HOME and group on each thread (the agent asks twice a second): only a
        // changed HOME builds it anew.
        struct Cache {
            std::string home;
            std::string group;
            std::filesystem::path directory;
        };
        thread_local std::optional<Cache> cache;
        if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
            if (!cache || cache->home != home || cache->group != groupID) {
                cache.reset();
                cache.emplace(Cache{home, std::string(groupID),
                                    fallbackContainer(std::filesystem::path(home), groupID)});
            }
            return cache->directory;
        }
        const auto home = passwdHome();
        if (!home) return std::nullopt;
        return fallbackContainer(*home, groupID);
    } catch (const std::bad_alloc&) {  // no container then
        return std::nullopt;
    }
}

}  // namespace tessly::detail
