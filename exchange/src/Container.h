#pragma once
// The per-OS seam of the container lookup (containerURL), internal to TesslyKit.
// exchange/CMakeLists.txt compiles exactly one implementation:
//   linux/Container.cpp   the home-relative fallback below ($HOME, else the passwd entry)
//   darwin/Container.mm   (its own issue) containerURLForSecurityApplicationGroupIdentifier:,
//                         else the fallback below homeDirectoryForCurrentUser

#include <filesystem>
#include <string_view>

namespace tessly::detail {

// The shared container directory of the application group `groupID`, or null when the platform
// names none and no home directory is known. Looked up afresh on every call; nothing is created,
// and whether the directory exists is not looked at. The directory is held for the calling
// thread and stays valid until that thread's next call, which rebuilds it only when the lookup
// gives another place, so the every-second lookup copies nothing. Reads the process environment,
// so it must not race with setenv. Never throws.
const std::filesystem::path* containerDirectory(std::string_view groupID) noexcept;

// Where the platform names no container: "<home>/Library/Group Containers/<groupID>".
inline std::filesystem::path fallbackContainer(const std::filesystem::path& home,
                                               std::string_view groupID) {
    return home / "Library" / "Group Containers" / groupID;
}

}  // namespace tessly::detail
