#pragma once
// Fan count, per-fan speeds and speed limits from SMC keys, as one FanReading per call. The fan
// count and the limits are read once and cached for the sampler's life; speeds are read on every
// call. Not thread-safe.

#include <cstdint>
#include <optional>
#include <string_view>

#include <TesslyKit/Records.h>

#include "smc/SMCBridge.h"

namespace tessly {

class FanSampler {
  public:
    // Owns a bridge over the platform's default SMC driver. Reads no key. Only an entry point,
    // which links the platform, calls this.
    FanSampler() noexcept : smc_() {}
    // Owns `smc`; a bridge that is not open makes a sampler that never yields a reading.
    explicit FanSampler(SMCBridge smc) noexcept;

    // One reading, or nothing when the bridge is not open, the fan count cannot be read, or there
    // are no fans. The first call that finds fans also reads the limits; every later call reads
    // only the speed keys, one key read per fan of type "flt " and two for any other fan. Every
    // value in a reading is finite: a speed key without a finite value counts as 0 and a limit
    // key without one is left out.
    std::optional<FanReading> sample() noexcept;

  private:
    // The cached fan count, or "FNum" read (and cached when readable).
    std::optional<std::int64_t> fanCount() noexcept;
    // The cached limits, or the limits of fans 0..count-1 computed and cached, also when absent.
    std::optional<RPMRange> fanRange(std::int64_t count) noexcept;
    // A finite speed in revolutions per minute from a "flt " or "fpe2" key, or nothing.
    std::optional<double> readSpeed(std::string_view key) const noexcept;

    SMCBridge smc_;
    std::optional<std::int64_t> cachedFanCount_;
    // Outer absent: not computed yet. Inner absent: computed, no usable limits.
    std::optional<std::optional<RPMRange>> cachedRange_;
};

}  // namespace tessly
