#include "smc/FanSampler.h"

#include "smc/SMCKeys.h"
#include "smc/SMCValues.h"

#include <cmath>
#include <utility>
#include <vector>

namespace tessly {

namespace {

using smc::FanKey;
using smc::FanValue;

// Non-finite values (NaN, ±infinity) are no value: one of them would make the reading impossible
// to publish, and a cached infinite limit would do so for the sampler's whole life.
std::optional<double> finiteOrNothing(float value) noexcept {
    if (!std::isfinite(value)) return std::nullopt;
    return static_cast<double>(value);
}

}  // namespace

FanSampler::FanSampler(SMCBridge smc) noexcept : smc_(std::move(smc)) {}

std::optional<FanReading> FanSampler::readFans() {
    if (!smc_.isOpen()) return std::nullopt;
    const auto count = fanCount();
    if (!count || *count <= 0) return std::nullopt;

    std::vector<double> speeds;
    speeds.reserve(static_cast<std::size_t>(*count));
    for (std::int64_t i = 0; i < *count; ++i) {
        speeds.push_back(
            readSpeed(FanKey(static_cast<std::size_t>(i), FanValue::speed).name()).value_or(0.0));
    }
    const auto range = fanRange(*count);
    return fanReadingOf(std::move(speeds), range);
}

std::optional<std::int64_t> FanSampler::fanCount() noexcept {
    if (!cachedFanCount_) {
        const auto count = smc_.readUInt8(smc::fanCountKey);
        if (!count) return std::nullopt;
        cachedFanCount_ = *count;
    }
    return cachedFanCount_;
}

std::optional<RPMRange> FanSampler::fanRange(std::int64_t count) noexcept {
    if (cachedRange_) return *cachedRange_;

    FanLimits limits;
    for (std::int64_t i = 0; i < count; ++i) {
        const auto index = static_cast<std::size_t>(i);
        const auto min = readSpeed(FanKey(index, FanValue::minimum).name());
        const auto max = readSpeed(FanKey(index, FanValue::maximum).name());
        limits.add(min, max);
    }
    const auto range = limits.range();
    cachedRange_ = range;
    return range;
}

std::optional<double> FanSampler::readSpeed(std::string_view key) const noexcept {
    if (const auto value = smc_.readKey(key); value && value->hasType(smc::typeFlt)) {
        if (const auto speed = smc::decodeFlt(value->bytes())) return finiteOrNothing(*speed);
    }
    // Anything else is read once more as "fpe2".
    if (const auto value = smc_.readKey(key); value && value->hasType(smc::typeFpe2)) {
        return smc::decodeFpe2(value->bytes());
    }
    return std::nullopt;
}

}  // namespace tessly
