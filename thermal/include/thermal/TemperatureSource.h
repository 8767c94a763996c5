#pragma once
// Seam: the machine's temperatures, already classified (the HID event system's services and the
// SMC's memory keys on macOS; hwmon, power_supply and NVML on Linux; scripted machines in tests).
//
// A platform decides what each of its sensors measures when it finds the sensor, by its own
// naming rules, and hands over only the readings of sensors that feed a category. The domain
// filters and reduces them (TemperatureTally) and throttles the readings (ThermalSampler).
//
// Threading: used from one thread. Ownership: the sampler owns its source.

#include <cstddef>
#include <memory>

#include <TesslyKit/Records.h>

#include "thermal/TemperatureCategory.h"

namespace tessly {

// Where a source hands over its readings, one at a time.
class TemperatureSink {
  public:
    virtual void add(TemperatureCategory category, double celsius) noexcept = 0;

  protected:
    ~TemperatureSink() = default;
};

// The temperatures of one reading, reduced per category as they arrive, so adding allocates
// nothing: CPU, GPU and memory report the highest value, battery and storage the mean (finite
// for any finite values).
class TemperatureTally final : public TemperatureSink {
  public:
    // Counts `celsius` for `category` when it is finite and above 0; any other value is no
    // reading (a sensor that reports 0 or a NaN has no temperature to give).
    void add(TemperatureCategory category, double celsius) noexcept override;

    // Every category, absent where nothing was counted.
    ThermalReading reading() const noexcept;

  private:
    class Reduction {
      public:
        void add(double value) noexcept;
        double maximum() const noexcept { return maximum_; }
        double mean() const noexcept;
        bool empty() const noexcept { return count_ == 0; }

      private:
        std::size_t count_ = 0;
        double maximum_ = 0.0;
        double sum_ = 0.0;
        double scaledSum_ = 0.0;
    };

    Reduction reductions_[5];
};

class TemperatureSource {
  public:
    virtual ~TemperatureSource() = default;

    // Hands the current temperature of every sensor that feeds a category to `sink`. False when
    // the sensors cannot be listed at all: the reading then counts as no reading. Throws nothing
    // but std::bad_alloc.
    virtual bool readTemperatures(TemperatureSink& sink) = 0;

    // A new source over the platform's sensors, or null when the platform has none (creation
    // failed). Defined by each platform.
    static std::unique_ptr<TemperatureSource> Default() noexcept;
};

// The readings of `first` and then of `second` as one source: it lists when either part lists.
// A null part is no part.
std::unique_ptr<TemperatureSource> joinTemperatureSources(
    std::unique_ptr<TemperatureSource> first, std::unique_ptr<TemperatureSource> second);

}  // namespace tessly
