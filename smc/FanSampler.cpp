#include "smc/FanSampler.h"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <new>
#include <utility>
#include <vector>

namespace tessly {

namespace {

// "F" + decimal index + two-letter suffix, formatted in place so a steady-state sample builds no
// strings. A fan count is one byte, so the index has at most three digits. An index of 10 or more
// gives a five- or six-character name, which fourCC reduces to its last four characters.
class FanKey {
  public:
    FanKey(std::int64_t index, const char (&suffix)[3]) noexcept {
        text_[0] = 'F';
        const auto [end, ec] = std::to_chars(text_.data() + 1, text_.data() + 1 + maxDigits, index);
        char* out = ec == std::errc{} ? end : text_.data() + 1;
        *out++ = suffix[0];
        *out++ = suffix[1];
        size_ = static_cast<std::size_t>(out - text_.data());
    }
    std::string_view view() const noexcept { return {text_.data(), size_}; }

  private:
    static constexpr std::size_t maxDigits = 3;
    std::array<char, 1 + maxDigits + 2> text_{};
    std::size_t size_ = 0;
};

// Non-finite values (NaN, ±infinity) are no value: one of them would make the reading impossible
// to publish, and a cached infinite limit would do so for the sampler's whole life.
std::optional<double> finiteOrNothing(float value) noexcept {
    if (!std::isfinite(value)) return std::nullopt;
    return static_cast<double>(value);
}

}  // namespace

FanSampler::FanSampler() noexcept = default;

FanSampler::FanSampler(SMCBridge smc) noexcept : smc_(std::move(smc)) {}

std::optional<FanReading> FanSampler::sample() noexcept {
    if (!smc_.isOpen()) return std::nullopt;
    const auto count = fanCount();
    if (!count || *count <= 0) return std::nullopt;

    std::vector<double> speeds;
    try {
        speeds.reserve(static_cast<std::size_t>(*count));
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    for (std::int64_t i = 0; i < *count; ++i) {
        speeds.push_back(readSpeed(FanKey(i, "Ac").view()).value_or(0.0));
    }
    double highest = speeds.front();
    for (const double speed : speeds) {
        if (speed > highest) highest = speed;
    }

    const auto range = fanRange(*count);
    FanReading reading;
    reading.rpm = highest;
    reading.fanCount = *count;
    reading.rpms = std::move(speeds);
    if (range) {
        reading.minRPM = range->min;
        reading.maxRPM = range->max;
    }
    return reading;
}

std::optional<std::int64_t> FanSampler::fanCount() noexcept {
    if (!cachedFanCount_) {
        const auto count = smc_.readUInt8("FNum");
        if (!count) return std::nullopt;
        cachedFanCount_ = *count;
    }
    return cachedFanCount_;
}

std::optional<RPMRange> FanSampler::fanRange(std::int64_t count) noexcept {
    if (cachedRange_) return *cachedRange_;

    // Lowest minimum and highest maximum over all fans; a fan may contribute to one side only.
    std::optional<double> lowest;
    std::optional<double> highest;
    for (std::int64_t i = 0; i < count; ++i) {
        if (const auto min = readSpeed(FanKey(i, "Mn").view())) {
            if (!lowest || *min < *lowest) lowest = min;
        }
        if (const auto max = readSpeed(FanKey(i, "Mx").view())) {
            if (!highest || *max > *highest) highest = max;
        }
    }
    std::optional<RPMRange> range;
    if (lowest && highest && *lowest < *highest) range = RPMRange{*lowest, *highest};
    cachedRange_ = range;
    return range;
}

std::optional<double> FanSampler::readSpeed(std::string_view key) const noexcept {
    // "flt ": IEEE 754 single precision, little-endian.
    if (const auto value = smc_.readKey(key);
        value && value->dataType == "flt " && value->bytes.size() >= 4) {
        const auto& b = value->bytes;
        const auto bits = static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
                          static_cast<std::uint32_t>(b[2]) << 16 |
                          static_cast<std::uint32_t>(b[3]) << 24;
        return finiteOrNothing(std::bit_cast<float>(bits));
    }
    // Anything else is read once more as "fpe2": unsigned 16-bit big-endian, two fraction bits.
    if (const auto value = smc_.readKey(key);
        value && value->dataType == "fpe2" && value->bytes.size() >= 2) {
        const auto raw = static_cast<unsigned>(value->bytes[0]) * 256U + value->bytes[1];
        return static_cast<double>(raw) / 4.0;
    }
    return std::nullopt;
}

}  // namespace tessly
