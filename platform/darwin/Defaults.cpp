// The platform seams' defaults on macOS.
#include "platform/darwin/DarwinServices.h"

namespace tessly {

std::unique_ptr<SMCDriver> SMCDriver::Default() noexcept {
    return darwin::openAppleSMC();
}

std::unique_ptr<TemperatureServices> TemperatureServices::Default() noexcept {
    return darwin::makeHIDTemperatureServices();
}

Clock& Clock::Default() noexcept {
    return darwin::systemClock();
}

}  // namespace tessly
