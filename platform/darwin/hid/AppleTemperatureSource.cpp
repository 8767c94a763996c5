#include "hid/AppleTemperatureSource.h"

#include <utility>

#include "hid/AppleNaming.h"

namespace tessly {

AppleTemperatureSource::AppleTemperatureSource(std::unique_ptr<TemperatureServices> services,
                                               SMCBridge smc) noexcept
    : services_(std::move(services)), memory_(std::move(smc)) {}

bool AppleTemperatureSource::readTemperatures(TemperatureSink& sink) {
    if (!services_) return false;
    const auto list = services_->copyServices();
    if (!list) return false;

    for (std::size_t i = 0, n = list->count(); i < n; ++i) {
        const auto name = list->productName(i);
        if (!name) continue;
        const auto category = appleCategory(*name);
        if (!category) continue;
        if (const auto celsius = list->temperature(i)) sink.add(*category, *celsius);
    }
    if (const auto celsius = memory_.readMemoryTemperature()) {
        sink.add(TemperatureCategory::memory, *celsius);
    }
    return true;
}

}  // namespace tessly
