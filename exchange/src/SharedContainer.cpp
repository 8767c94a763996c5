#include <TesslyKit/SensorBridge.h>
#include <TesslyKit/SharedContainer.h>

#include "Container.h"
#include "ContainerFiles.h"

#include <new>

// Each public call answers an allocation failure inside it as it answers "no location": nothing
// crosses the library's interface.
namespace tessly::SharedContainer {

std::optional<std::filesystem::path> directory() noexcept {
    try {
        const auto* places = detail::containerPlaces(SensorBridge::groupID);
        if (places == nullptr) return std::nullopt;
        return places->payload;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

std::optional<std::filesystem::path> controlDirectory() noexcept {
    try {
        const auto* places = detail::containerPlaces(SensorBridge::groupID);
        if (places == nullptr) return std::nullopt;
        return places->control;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

std::optional<std::string> payloadOnDisk() noexcept {
    try {
        const auto* places = detail::containerPlaces(SensorBridge::groupID);
        if (places == nullptr || places->payloadOnDisk.empty()) return std::nullopt;
        return places->payloadOnDisk;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

const std::filesystem::path* lookUpDirectory() noexcept {
    try {
        const auto* places = detail::containerPlaces(SensorBridge::groupID);
        return places ? &places->payload : nullptr;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

const std::filesystem::path* lookUpControlDirectory() noexcept {
    try {
        const auto* places = detail::containerPlaces(SensorBridge::groupID);
        return places ? &places->control : nullptr;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

std::size_t removeStaleTemporaries(std::string_view fileName, double minAgeSeconds) noexcept {
    try {
        const auto* directory = detail::directoryOf(fileName);
        if (!directory) return 0;
        return detail::removeStaleTemporaries(*directory, fileName, minAgeSeconds);
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

}  // namespace tessly::SharedContainer

namespace tessly::detail {

const std::filesystem::path* directoryOf(std::string_view fileName) {
    const auto* places = containerPlaces(SensorBridge::groupID);
    if (places == nullptr) return nullptr;
    return fileName == "control.json" ? &places->control : &places->payload;
}

}  // namespace tessly::detail
