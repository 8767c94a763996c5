// The Linux platform defaults: the machine's hwmon sensors under /sys, and NVIDIA GPUs through
// NVML where NVIDIA's driver is installed.
#include "platform/linux/HwmonSensors.h"
#include "platform/linux/NvidiaGPUs.h"
#include "smc/SMCDriver.h"
#include "thermal/TemperatureServices.h"

namespace tessly {

std::unique_ptr<SMCDriver> SMCDriver::Default() noexcept {
    return hwmon::openHwmonSMCDriver();
}

std::unique_ptr<TemperatureServices> TemperatureServices::Default() noexcept {
    return joinTemperatureServices(hwmon::makeHwmonTemperatureServices(),
                                   hwmon::makeNvidiaTemperatureServices(Clock::Default()));
}

}  // namespace tessly
