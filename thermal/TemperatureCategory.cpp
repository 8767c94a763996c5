#include "thermal/TemperatureCategory.h"

namespace tessly {

std::string_view payloadField(TemperatureCategory category) noexcept {
    switch (category) {
        case TemperatureCategory::cpu:
            return "cpuTemperatureC";
        case TemperatureCategory::gpu:
            return "gpuTemperatureC";
        case TemperatureCategory::memory:
            return "memoryTemperatureC";
        case TemperatureCategory::battery:
            return "batteryTemperatureC";
        case TemperatureCategory::storage:
            return "storageTemperatureC";
    }
    return {};
}

}  // namespace tessly
