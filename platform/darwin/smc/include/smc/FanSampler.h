#pragma once
// The fans of a Mac from SMC keys: fan count, per-fan speeds and speed limits, as one FanReading
// per call. The fan count and the limits are read once and cached for the sampler's life; speeds
// are read on every call. Not thread-safe.

#include <cstdint>
#include <optional>
#include <string_view>

#include <TesslyKit/Records.h>

#include "fans/FanSource.h"
#include "smc/SMCBridge.h"

namespace tessly {

class FanSampler final : public FanSource {
  public:
    // Owns a bridge over the platform's default SMC driver. Reads no key. Only an entry point,
    // which links the platform, calls this.
    FanSampler() noexcept : smc_() {}
    // Owns `smc`; a bridge that is not open makes a sampler that never yields a reading.
    explicit FanSampler(SMCBridge smc) noexcept;

    // One reading, or nothing when the bridge is not open, the fan count ("FNum") cannot be read,
    // or there are no fans. An unreadable count is asked for again on the next call; a count once
    // read, 0 included, stays. The first call that finds fans also reads the limits, and keeps
    // them (or their absence) for good; every later call reads only the speed keys, one key read
    // per fan of type "flt " and two for any other fan. A speed key without a finite value counts
    // as 0 and a limit key without one is left out. Throws nothing but std::bad_alloc.
    std::optional<FanReading> readFans() override;

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
