// The Linux platform defaults: the machine's hwmon sensors under /sys.
#include "platform/SMCDriver.h"
#include "platform/TemperatureServices.h"
#include "platform/linux/HwmonSensors.h"

namespace tessly {

std::unique_ptr<SMCDriver> SMCDriver::openDefault() noexcept {
    return hwmon::openHwmonSMCDriver();
}

std::unique_ptr<TemperatureServices> TemperatureServices::makeDefault() noexcept {
    return hwmon::makeHwmonTemperatureServices();
}

}  // namespace tessly
