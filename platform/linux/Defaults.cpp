// Linux defaults until the hwmon-backed driver and services exist: no SMC, no services.
#include "platform/SMCDriver.h"
#include "platform/TemperatureServices.h"

namespace tessly {

std::unique_ptr<SMCDriver> SMCDriver::openDefault() noexcept { return nullptr; }

std::unique_ptr<TemperatureServices> TemperatureServices::makeDefault() noexcept { return nullptr; }

}  // namespace tessly
