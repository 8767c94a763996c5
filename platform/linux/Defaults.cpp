// The Linux platform defaults: the machine's hwmon sensors under /sys, rediscovered on the
// device events the application's loop receives, and NVIDIA GPUs through NVML where NVIDIA's
// driver is installed.
#include "platform/linux/HwmonSensors.h"
#include "platform/linux/NvidiaGPUs.h"
#include "smc/SMCDriver.h"
#include "thermal/TemperatureServices.h"

namespace tessly {

std::unique_ptr<SMCDriver> SMCDriver::Default() noexcept {
    return hwmon::openHwmonSMCDriver("/sys", hwmon::FileReader::Default(), Clock::Default(),
                                     &hwmon::DeviceChanges::machine());
}

std::unique_ptr<TemperatureServices> TemperatureServices::Default() noexcept {
    return joinTemperatureServices(
        hwmon::makeHwmonTemperatureServices("/sys", hwmon::FileReader::Default(), Clock::Default(),
                                            &hwmon::DeviceChanges::machine()),
        hwmon::makeNvidiaTemperatureServices(Clock::Default()));
}

}  // namespace tessly
