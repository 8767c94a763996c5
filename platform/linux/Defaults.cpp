// The Linux platform defaults: the machine's hwmon sensors under /sys.
#include "platform/linux/HwmonSensors.h"
#include "smc/SMCDriver.h"
#include "thermal/TemperatureServices.h"

namespace tessly {

std::unique_ptr<SMCDriver> SMCDriver::Default() noexcept {
    return hwmon::openHwmonSMCDriver();
}

std::unique_ptr<TemperatureServices> TemperatureServices::Default() noexcept {
    return hwmon::makeHwmonTemperatureServices();
}

}  // namespace tessly
