#pragma once
// CPU, GPU, battery and storage temperatures from the machine's temperature services, and memory
// temperature from SMC keys, as one ThermalReading at most once per minimumInterval. Not
// thread-safe.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <TesslyKit/Records.h>

#include "platform/Clock.h"
#include "platform/SMCDriver.h"
#include "platform/TemperatureServices.h"
#include "smc/SMCBridge.h"

namespace tessly {

class ThermalSampler {
public:
    // The least time, in seconds on the monotonic clock, between two readings.
    static constexpr double minimumInterval = 2.0;

    // The platform's temperature services, its default SMC driver and the system clock.
    ThermalSampler() noexcept;
    // Injected services (null: none could be created), SMC driver (null: not open) and clock,
    // which must outlive the sampler.
    ThermalSampler(std::unique_ptr<TemperatureServices> services,
                   std::unique_ptr<SMCDriver> smcDriver, Clock& clock) noexcept;

    // A reading, or nothing when throttled or when the services cannot be listed. A present
    // reading may have every field absent.
    std::optional<ThermalReading> sample();

    // The highest finite positive temperature of the memory keys kept by a one-time probe.
    std::optional<double> readMemoryTemperature();

    // The payload field ("cpuTemperatureC", ...) a service of that name feeds, or nothing when
    // the sampler ignores it. For reports; the sampler itself classifies privately.
    static std::optional<std::string_view> fieldForSensorName(SensorNaming naming,
                                                              std::string_view name) noexcept;

private:
    enum class Category { cpu, gpu, battery, storage };

    static std::optional<Category> category(std::string_view forSensorName) noexcept;
    static std::optional<Category> hwmonCategory(std::string_view name) noexcept;

    std::unique_ptr<TemperatureServices> client_;
    Clock* clock_;
    std::optional<double> previousTimestamp_;  // monotonic time of the last accepted call
    SMCBridge smc_;
    bool memoryKeysProbed_ = false;
    std::vector<std::string> memoryKeys_;
};

}  // namespace tessly
