#include <TesslyKit/SensorBridge.h>
#include <TesslyKit/SharedContainer.h>

#include "Container.h"
#include "ContainerFiles.h"

#include <new>

namespace tessly::SharedContainer {

std::optional<std::filesystem::path> directory() noexcept {
    const auto* container = lookUpDirectory();
    if (container == nullptr) return std::nullopt;
    try {
        return *container;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

const std::filesystem::path* lookUpDirectory() noexcept {
    return detail::containerDirectory(SensorBridge::groupID);
}

std::size_t removeStaleTemporaries(std::string_view fileName, double minAgeSeconds) noexcept {
    const auto* container = lookUpDirectory();
    if (!container) return 0;
    return detail::removeStaleTemporaries(*container, fileName, minAgeSeconds);
}

}  // namespace tessly::SharedContainer
