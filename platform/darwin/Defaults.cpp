// The platform seams' defaults on macOS.
#include <new>
#include <utility>

#include "hid/AppleTemperatureSource.h"
#include "platform/darwin/DarwinServices.h"
#include "smc/FanSampler.h"
#include "smc/SMCBridge.h"

namespace tessly {

std::unique_ptr<SMCDriver> SMCDriver::Default() noexcept {
    return darwin::openAppleSMC();
}

// The temperature source opens an SMC connection of its own for the memory keys, then its HID
// client; the fan source (FanSource::Default) opens the second connection.
std::unique_ptr<TemperatureSource> TemperatureSource::Default() noexcept {
    SMCBridge smc;
    auto services = darwin::makeHIDTemperatureServices();
    return std::unique_ptr<TemperatureSource>(
        new (std::nothrow) AppleTemperatureSource(std::move(services), std::move(smc)));
}

std::unique_ptr<FanSource> FanSource::Default() noexcept {
    return std::unique_ptr<FanSource>(new (std::nothrow) FanSampler());
}

Clock& Clock::Default() noexcept {
    return darwin::systemClock();
}

}  // namespace tessly
