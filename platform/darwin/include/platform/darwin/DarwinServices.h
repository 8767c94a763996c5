#pragma once
// The macOS implementations behind the platform seams, reachable by name so that tests can run
// them against an emulation of the system frameworks. darwin/Defaults.cpp builds the seams'
// defaults on them (SMCDriver::Default, TemperatureSource::Default, FanSource::Default,
// Clock::Default).

#include <memory>

#include "base/Clock.h"
#include "hid/TemperatureServices.h"
#include "smc/SMCDriver.h"

namespace tessly::darwin {

// One user-client connection to the "AppleSMC" service, or null when there is no such service or
// the open delivers no connection. The service object is released right after the open; the
// connection is closed exactly once, when the driver is destroyed.
std::unique_ptr<SMCDriver> openAppleSMC() noexcept;

// A HID event-system client restricted to the temperature-sensor services, or null when the
// client cannot be created.
std::unique_ptr<TemperatureServices> makeHIDTemperatureServices() noexcept;

// Wall time from the kernel's calendar clock; monotonic time that keeps counting while the Mac
// sleeps and is never slewed. Lives for the whole process.
Clock& systemClock() noexcept;

}  // namespace tessly::darwin
