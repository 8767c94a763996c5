#pragma once
// Fan count, per-fan speeds and speed limits from SMC keys, as one FanReading per call. The fan
// count and the limits are read once and cached for the sampler's life; speeds are read on every
// call. Not thread-safe.

#include <cstdint>
#include <optional>

#include <TesslyKit/Records.h>

#include "smc/SMCBridge.h"

namespace tessly {

class FanSampler {
public:
    // Owns a bridge over the platform's default SMC driver.
    FanSampler() noexcept;
    explicit FanSampler(SMCBridge smc) noexcept;

    // One reading, or nothing when the bridge is not open, the fan count cannot be read, or there
    // are no fans.
    std::optional<FanReading> sample();

private:
    std::optional<std::int64_t> fanCount();
    std::optional<RPMRange> fanRange();
    std::optional<double> readSpeed(const char* key);

    SMCBridge smc_;
    std::optional<std::int64_t> cachedFanCount_;
    std::optional<std::optional<RPMRange>> cachedRange_;
};

}  // namespace tessly
