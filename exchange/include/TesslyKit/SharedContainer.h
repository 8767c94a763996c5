#pragma once
// The shared container directory in which the agent and a main application meet, and the
// housekeeping of temporaries that interrupted writes may leave there. Nothing here throws.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string_view>

namespace tessly::SharedContainer {

// The container directory of SensorBridge::groupID, looked up afresh: the platform's
// application-group container where there is one, else "<home>/Library/Group Containers/<groupID>"
// (on Linux, home is $HOME when set and absolute, else the passwd entry's home). Nothing when no
// location can be found. Creates nothing; the directory need not exist.
std::optional<std::filesystem::path> directory() noexcept;

// The same directory, looked up the same way, without a copy: it stays valid on the calling
// thread until that thread's next call of any function of SharedContainer or SensorBridge. Null
// when directory() would give nothing. For callers that look it up every second.
const std::filesystem::path* lookUpDirectory() noexcept;

// Removes the temporaries that interrupted writes of `fileName` (for example "sensors.json") left
// in the container, when last modified at least `minAgeSeconds` ago, and returns how many it
// removed. Only names of this library's temporary pattern for that one file are touched, so
// another file's temporaries and a write in progress (younger than the age) stay. 0 when there is
// no container, `fileName` is not a plain file name, or `minAgeSeconds` is NaN.
std::size_t removeStaleTemporaries(std::string_view fileName, double minAgeSeconds) noexcept;

}  // namespace tessly::SharedContainer
