#pragma once
// Seam: the machine's temperature services (the HID event system's temperature sensors on macOS,
// hwmon and power_supply temperature inputs on Linux, scripted services in tests).
//
// The seam reports names and values; it never decides what a sensor means. The sampler sorts
// services into categories from the product name under the naming scheme the services declare.
//
// Threading: used from one thread. Ownership: a ServiceList owns whatever the platform handed out
// for one listing and releases it when destroyed.

#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>

namespace tessly {

// How product names are to be read.
enum class SensorNaming {
    apple,  // Apple HID product names ("PMU tdie1", "gas gauge battery", "NAND CH0 temp")
    hwmon,  // "<chip> <label>" of a Linux hwmon or power_supply input (see TemperatureCategory.h)
};

// One listing of the services, valid until destroyed.
class TemperatureServiceList {
  public:
    virtual ~TemperatureServiceList() = default;

    virtual std::size_t count() const noexcept = 0;
    // The service's product name, or nothing when it has none or it is not a string. The view
    // stays valid until the next call on this list.
    virtual std::optional<std::string_view> productName(std::size_t index) noexcept = 0;
    // The service's current temperature in degrees Celsius, unfiltered, or nothing when the
    // service gives no temperature event.
    virtual std::optional<double> temperature(std::size_t index) noexcept = 0;
};

class TemperatureServices {
  public:
    virtual ~TemperatureServices() = default;

    virtual SensorNaming naming() const noexcept = 0;
    // A listing of the current services, or null when they cannot be listed.
    virtual std::unique_ptr<TemperatureServiceList> copyServices() noexcept = 0;

    // A new client of the platform's temperature services, or null when the platform has none
    // (creation failed). Defined by each platform.
    static std::unique_ptr<TemperatureServices> Default() noexcept;
};

// The services of `first` followed by those of `second`, which must share its naming, as one
// client: a listing holds what each part can list, and fails only when neither part can be
// listed. A null part is no part.
std::unique_ptr<TemperatureServices> joinTemperatureServices(
    std::unique_ptr<TemperatureServices> first,
    std::unique_ptr<TemperatureServices> second) noexcept;

}  // namespace tessly
