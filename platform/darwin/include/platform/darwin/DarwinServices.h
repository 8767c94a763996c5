#pragma once
// The macOS implementations behind the platform seams, reachable by name so that tests can run
// them against an emulation of the system frameworks. darwin/Defaults.cpp makes them the seams'
// defaults (SMCDriver::Default, TemperatureServices::Default, Clock::Default).

#include <memory>

#include "base/Clock.h"
#include "smc/SMCDriver.h"
#include "thermal/TemperatureServices.h"

namespace tessly::darwin {

// One user-client connection to the "AppleSMC" service, or null when there is no such service or
// the open delivers no connection. The service object is released right after the open; the
// connection is closed exactly once, when the driver is destroyed.
std::unique_ptr<SMCDriver> openAppleSMC() noexcept;

// A HID event-system client restricted to the temperature-sensor services, or null when the
// client cannot be created. Product names are Apple HID names (SensorNaming::apple).
std::unique_ptr<TemperatureServices> makeHIDTemperatureServices() noexcept;

// Wall time from the kernel's calendar clock; monotonic time that keeps counting while the Mac
// sleeps and is never slewed. Lives for the whole process.
Clock& systemClock() noexcept;

}  // namespace tessly::darwin
