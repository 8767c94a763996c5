#pragma once
// Seam: the temperature services of the IOKit HID event system (HIDTemperatureServices.cpp on
// macOS, scripted services in tests). The seam reports product names and values; what a sensor
// measures is decided by its name (AppleNaming.h).
//
// Threading: used from one thread. Ownership: a TemperatureServiceList owns whatever the platform
// handed out for one listing and releases it when destroyed.

#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>

namespace tessly {

// One listing of the services, valid until destroyed.
class TemperatureServiceList {
  public:
    virtual ~TemperatureServiceList() = default;

    virtual std::size_t count() const noexcept = 0;
    // The service's product name, or nothing when it has none or it is not a string. The view
    // stays valid until the next call on this list. Throws nothing but std::bad_alloc.
    virtual std::optional<std::string_view> productName(std::size_t index) = 0;
    // The service's current temperature in degrees Celsius, unfiltered, or nothing when the
    // service gives no temperature event.
    virtual std::optional<double> temperature(std::size_t index) noexcept = 0;
};

class TemperatureServices {
  public:
    virtual ~TemperatureServices() = default;

    // A listing of the current services, or null when they cannot be listed. Throws nothing but
    // std::bad_alloc.
    virtual std::unique_ptr<TemperatureServiceList> copyServices() = 0;
};

}  // namespace tessly
