// The Linux platform defaults: the machine's sensors under /sys, discovered once for temperatures
// and fans alike and again on the device events the application's loop receives, and NVIDIA GPUs
// through NVML where NVIDIA's driver is installed.
#include <memory>
#include <new>

#include "fans/FanSource.h"
#include "platform/linux/NvidiaGPUs.h"
#include "platform/linux/SysfsSensors.h"
#include "thermal/TemperatureSource.h"

namespace tessly {
namespace {

// This machine's /sys: one discovery feeds the temperature source and the fan source.
std::shared_ptr<hwmon::SysfsSensors> machineSensors() {
    static const auto sensors = std::make_shared<hwmon::SysfsSensors>(
        "/sys", hwmon::FileReader::Default(), Clock::Default(), &hwmon::DeviceChanges::machine());
    return sensors;
}

}  // namespace

std::unique_ptr<TemperatureSource> TemperatureSource::Default() noexcept {
    try {
        return joinTemperatureSources(hwmon::temperatureSourceOf(machineSensors()),
                                      hwmon::makeNvidiaTemperatureSource(Clock::Default()));
    } catch (const std::bad_alloc&) {  // the agent starts without temperatures
        return nullptr;
    }
}

std::unique_ptr<FanSource> FanSource::Default() noexcept {
    try {
        return hwmon::fanSourceOf(machineSensors());
    } catch (const std::bad_alloc&) {  // the agent starts without fans
        return nullptr;
    }
}

}  // namespace tessly
