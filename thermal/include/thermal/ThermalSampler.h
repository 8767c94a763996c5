#pragma once
// CPU, GPU, battery and storage temperatures from the machine's temperature services, and memory
// temperature from SMC keys, as one ThermalReading at most once per minimumInterval. Not
// thread-safe: one sampler, one thread.

#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <TesslyKit/Records.h>

#include "base/Clock.h"
#include "smc/SMCBridge.h"
#include "smc/SMCDriver.h"
#include "smc/SMCKeys.h"
#include "thermal/TemperatureCategory.h"
#include "thermal/TemperatureServices.h"

namespace tessly {

class ThermalSampler {
  public:
    // The least time, in seconds on the monotonic clock, between two readings.
    static constexpr double minimumInterval = 2.0;

    // The platform's temperature services, its default SMC driver and the system clock, in that
    // order. Only an entry point, which links the platform, calls this.
    ThermalSampler() noexcept
        : client_(TemperatureServices::Default()), clock_(&Clock::Default()), smc_() {}
    // Injected services (null: none could be created), SMC driver (null: not open) and clock,
    // which must outlive the sampler.
    ThermalSampler(std::unique_ptr<TemperatureServices> services,
                   std::unique_ptr<SMCDriver> smcDriver, Clock& clock) noexcept;

    ThermalSampler(const ThermalSampler&) = delete;
    ThermalSampler& operator=(const ThermalSampler&) = delete;
    ThermalSampler(ThermalSampler&&) noexcept = default;
    ThermalSampler& operator=(ThermalSampler&&) noexcept = default;

    // A reading, or nothing when throttled or when the services cannot be listed. A present
    // reading may have every field absent.
    //
    // Throttle: the first call is never throttled; a later call within minimumInterval of the
    // last accepted one (on the monotonic clock, so setting the wall clock neither delays nor
    // hastens a reading) yields nothing and changes no state. An accepted call counts for the
    // throttle even when the services then cannot be listed.
    //
    // Each service's name is read first and its temperature only when the name falls in a
    // category, so ignored services cost one name read. Only finite values above 0 count; CPU
    // and GPU report the highest, battery and storage the mean (finite for any finite inputs).
    // Memory temperature is read after the walk, and only when the services could be listed.
    std::optional<ThermalReading> sample() noexcept;

    // The highest finite temperature above 0 among the memory keys kept by a probe of the 21
    // candidate keys (smc::memoryKeys), or nothing. Nothing, and no key
    // read, while the SMC is not open. The probe runs once, on the first call that finds the SMC
    // open, and keeps the keys of type "flt " with at least 4 value bytes; every later call reads
    // only the kept keys, passing over any that fail or no longer qualify on that call.
    std::optional<double> readMemoryTemperature() noexcept;

  private:
    void probeMemoryKeys() noexcept;
    // The category of the service at `index` named `name`: the one found at the same index in an
    // earlier listing when the name there was the same, else classified now (and kept).
    std::optional<TemperatureCategory> categoryAt(std::size_t index, std::string_view name,
                                                  SensorNaming naming) noexcept;

    std::unique_ptr<TemperatureServices> client_;
    Clock* clock_;
    std::optional<double> previousTimestamp_;  // monotonic time of the last accepted call
    SMCBridge smc_;
    bool memoryKeysProbed_ = false;
    // The kept candidates, in candidate order; views of static names, so a probe allocates
    // nothing.
    std::array<std::string_view, smc::memoryKeys.size()> memoryKeys_{};
    std::size_t memoryKeyCount_ = 0;
    // Each index's last name and category: services keep their places from one listing to the
    // next until devices change, so most listings classify nothing.
    struct Classified {
        bool known = false;  // false until first classified
        std::string name;
        std::optional<TemperatureCategory> category;
    };
    std::vector<Classified> classified_;
};

}  // namespace tessly
