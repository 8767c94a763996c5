// The platform seams' defaults on macOS.
#include "platform/darwin/DarwinServices.h"

namespace tessly {

std::unique_ptr<SMCDriver> SMCDriver::openDefault() noexcept {
    return darwin::openAppleSMC();
}

std::unique_ptr<TemperatureServices> TemperatureServices::makeDefault() noexcept {
    return darwin::makeHIDTemperatureServices();
}

Clock& Clock::system() noexcept {
    return darwin::systemClock();
}

}  // namespace tessly
