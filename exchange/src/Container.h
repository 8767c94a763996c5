#pragma once
// The per-OS seam of the container lookup, internal to TesslyKit. exchange/CMakeLists.txt
// compiles exactly one implementation:
//   linux/Container.cpp   XDG places: the payload in $XDG_RUNTIME_DIR/tessly (memory), the
//                         control file in $XDG_STATE_HOME/tessly (disk)
//   darwin/Container.mm   containerURLForSecurityApplicationGroupIdentifier:, else the fallback
//                         below homeDirectoryForCurrentUser, for both files

#include <filesystem>
#include <string>
#include <string_view>

namespace tessly::detail {

// Where the exchange files of one application group live.
struct ContainerPlaces {
    // "sensors.json", its temporaries and the agent's lock: rewritten every second, so where
    // the platform offers a place in memory it is there.
    std::filesystem::path payload;
    // "control.json": the user's wishes, which outlive a reboot.
    std::filesystem::path control;
    // Why the payload is on disk although the platform would keep it in memory; empty otherwise.
    std::string payloadOnDisk;
};

// The places of the application group `groupID`, or null when the platform names none and no
// home directory is known. Looked up afresh on every call; nothing is created, and whether the
// directories exist is not looked at (except that a run-time directory must be fit for the
// payload: a directory of this user's, closed to others). The places are held for the calling
// thread and stay valid until that thread's next call, which rebuilds them only when the lookup
// gives other places, so the every-second lookup copies nothing and makes no system call. Reads
// the process environment, so it must not race with setenv. Throws only std::bad_alloc, which
// the public call that asked turns into its answer for "no location".
const ContainerPlaces* containerPlaces(std::string_view groupID);

// The looked-up directory that holds the exchange file `fileName`: control.json's own directory
// for it, the payload's for every other file (sensors.json and its temporaries). Null where
// there is no location. Valid as the pointers of SharedContainer::lookUpDirectory(). Throws as
// containerPlaces does.
const std::filesystem::path* directoryOf(std::string_view fileName);

// Where macOS names no container: "<home>/Library/Group Containers/<groupID>".
inline std::filesystem::path fallbackContainer(const std::filesystem::path& home,
                                               std::string_view groupID) {
    return home / "Library" / "Group Containers" / groupID;
}

}  // namespace tessly::detail
