#pragma once
// CPU, GPU, memory, battery and storage temperatures from the platform's temperature source, as
// one ThermalReading at most once per minimumInterval. Not thread-safe: one sampler, one thread.

#include <memory>
#include <optional>

#include <TesslyKit/Records.h>

#include "base/Clock.h"
#include "thermal/TemperatureSource.h"

namespace tessly {

class ThermalSampler {
  public:
    // The least time, in seconds on the monotonic clock, between two readings.
    static constexpr double minimumInterval = 2.0;

    // The platform's temperature source and the system clock. Only an entry point, which links
    // the platform, calls this.
    ThermalSampler() noexcept : source_(TemperatureSource::Default()), clock_(&Clock::Default()) {}
    // An injected source (null: none could be created) and a clock, which must outlive the
    // sampler.
    ThermalSampler(std::unique_ptr<TemperatureSource> source, Clock& clock) noexcept
        : source_(std::move(source)), clock_(&clock) {}

    ThermalSampler(const ThermalSampler&) = delete;
    ThermalSampler& operator=(const ThermalSampler&) = delete;
    ThermalSampler(ThermalSampler&&) noexcept = default;
    ThermalSampler& operator=(ThermalSampler&&) noexcept = default;

    // A reading, or nothing when throttled or when the source cannot list its sensors. A present
    // reading may have every field absent.
    //
    // Throttle: the first call is never throttled; a later call within minimumInterval of the
    // last accepted one (on the monotonic clock, so setting the wall clock neither delays nor
    // hastens a reading) yields nothing and changes no state. An accepted call counts for the
    // throttle even when the source then fails. Throws nothing but std::bad_alloc.
    std::optional<ThermalReading> sample();

  private:
    std::unique_ptr<TemperatureSource> source_;
    Clock* clock_;
    std::optional<double> previousTimestamp_;  // monotonic time of the last accepted call
};

}  // namespace tessly
