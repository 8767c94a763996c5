#include <TesslyKit/SensorBridge.h>
#include <TesslyKit/SharedContainer.h>

#include "Container.h"
#include "ContainerFiles.h"

#include <new>

namespace tessly::SharedContainer {
namespace {

std::optional<std::filesystem::path> copied(const std::filesystem::path* directory) noexcept {
    if (directory == nullptr) return std::nullopt;
    try {
        return *directory;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

}  // namespace

std::optional<std::filesystem::path> directory() noexcept {
    return copied(lookUpDirectory());
}

std::optional<std::filesystem::path> controlDirectory() noexcept {
    return copied(lookUpControlDirectory());
}

std::optional<std::string> payloadOnDisk() noexcept {
    const auto* places = detail::containerPlaces(SensorBridge::groupID);
    if (places == nullptr || places->payloadOnDisk.empty()) return std::nullopt;
    try {
        return places->payloadOnDisk;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

const std::filesystem::path* lookUpDirectory() noexcept {
    const auto* places = detail::containerPlaces(SensorBridge::groupID);
    return places ? &places->payload : nullptr;
}

const std::filesystem::path* lookUpControlDirectory() noexcept {
    const auto* places = detail::containerPlaces(SensorBridge::groupID);
    return places ? &places->control : nullptr;
}

std::size_t removeStaleTemporaries(std::string_view fileName, double minAgeSeconds) noexcept {
    const auto* directory = detail::directoryOf(fileName);
    if (!directory) return 0;
    return detail::removeStaleTemporaries(*directory, fileName, minAgeSeconds);
}

}  // namespace tessly::SharedContainer

namespace tessly::detail {

const std::filesystem::path* directoryOf(std::string_view fileName) noexcept {
    return fileName == "control.json" ? SharedContainer::lookUpControlDirectory()
                                      : SharedContainer::lookUpDirectory();
}

}  // namespace tessly::detail
