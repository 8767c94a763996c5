#include <TesslyKit/SensorBridge.h>
#include <TesslyKit/SharedContainer.h>

#include "Container.h"
#include "ContainerFiles.h"

namespace tessly::SharedContainer {

std::optional<std::filesystem::path> directory() noexcept {
    return detail::containerDirectory(SensorBridge::groupID);
}

std::size_t removeStaleTemporaries(std::string_view fileName, double minAgeSeconds) noexcept {
    const auto container = directory();
    if (!container) return 0;
    return detail::removeStaleTemporaries(*container, fileName, minAgeSeconds);
}

}  // namespace tessly::SharedContainer
