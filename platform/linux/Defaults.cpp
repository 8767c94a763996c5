// The Linux platform defaults: the machine's hwmon sensors under /sys, rediscovered on the
// device events the application's loop receives, and NVIDIA GPUs through NVML where NVIDIA's
// driver is installed.
#include "platform/linux/HwmonSensors.h"
#include "platform/linux/NvidiaGPUs.h"

#include <memory>
#include <new>
#include "smc/SMCDriver.h"
#include "thermal/TemperatureServices.h"

namespace tessly {
namespace {

// This machine's /sys, walked once for the temperature services and both SMC drivers whenever
// they discover at the same moment. Null when its memory cannot be had: each walks alone then.
std::shared_ptr<hwmon::SharedScan> machineScan() noexcept {
    try {
        static const auto scan = std::make_shared<hwmon::SharedScan>(
            "/sys", hwmon::FileReader::Default(), &hwmon::DeviceChanges::machine());
        return scan;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace

std::unique_ptr<SMCDriver> SMCDriver::Default() noexcept {
    return hwmon::openHwmonSMCDriver("/sys", hwmon::FileReader::Default(), Clock::Default(),
                                     &hwmon::DeviceChanges::machine(), machineScan());
}

std::unique_ptr<TemperatureServices> TemperatureServices::Default() noexcept {
    return joinTemperatureServices(
        hwmon::makeHwmonTemperatureServices("/sys", hwmon::FileReader::Default(), Clock::Default(),
                                            &hwmon::DeviceChanges::machine(), machineScan()),
        hwmon::makeNvidiaTemperatureServices(Clock::Default()));
}

}  // namespace tessly
