#pragma once
// Where the agent and a main application meet, and the housekeeping of temporaries that
// interrupted writes may leave there. Nothing here throws.
//
// On macOS both exchange files live in the application group's container. On Linux each lives
// where the XDG base directories put its kind: "sensors.json" (rewritten every second) and the
// agent's lock in "$XDG_RUNTIME_DIR/tessly", in memory; "control.json" (the user's wishes) in
// "$XDG_STATE_HOME/tessly", by default "~/.local/state/tessly", on disk. Where XDG_RUNTIME_DIR is
// missing or unfit, the payload goes beside control.json and payloadOnDisk() says why.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tessly::SharedContainer {

// The directory of "sensors.json" (and of the agent's lock), looked up afresh: on macOS the
// application-group container of SensorBridge::groupID where there is one, else
// "<home>/Library/Group Containers/<groupID>"; on Linux as above (home is $HOME when set and
// absolute, else the passwd entry's home). Nothing when no location can be found. Creates
// nothing; the directory need not exist.
std::optional<std::filesystem::path> directory() noexcept;

// The directory of "control.json", looked up the same way; the same as directory() on macOS.
std::optional<std::filesystem::path> controlDirectory() noexcept;

// Why the payload's directory is on disk although this platform keeps it in memory where it can
// ("XDG_RUNTIME_DIR is not set to an absolute path"); nothing when it is in memory, on macOS,
// or when there is no location at all.
std::optional<std::string> payloadOnDisk() noexcept;

// The same directories without a copy: each stays valid on the calling thread until that
// thread's next call of any function of SharedContainer or SensorBridge. Null when directory()
// (controlDirectory()) would give nothing. For callers that look them up every second.
const std::filesystem::path* lookUpDirectory() noexcept;
const std::filesystem::path* lookUpControlDirectory() noexcept;

// Removes the temporaries that interrupted writes of `fileName` (for example "sensors.json") left
// in that file's directory, when last modified at least `minAgeSeconds` ago, and returns how many
// it removed. Only names of this library's temporary pattern for that one file are touched, so
// another file's temporaries and a write in progress (younger than the age) stay. 0 when there is
// no location, `fileName` is not a plain file name, or `minAgeSeconds` is NaN.
std::size_t removeStaleTemporaries(std::string_view fileName, double minAgeSeconds) noexcept;

}  // namespace tessly::SharedContainer
