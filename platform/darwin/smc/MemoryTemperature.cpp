#include "smc/MemoryTemperature.h"

#include <cmath>

#include "smc/SMCValues.h"

namespace tessly {
namespace {

// A memory key's temperature in degrees Celsius: the first 4 bytes of a "flt " value as a
// little-endian IEEE 754 single, widened. Nothing when the key cannot be read, has another type
// or holds fewer than 4 bytes. The value itself is not judged here.
std::optional<double> readFloatKey(const SMCBridge& smc, std::string_view key) noexcept {
    const auto value = smc.readKey(key);
    if (!value || !value->hasType(smc::typeFlt)) return std::nullopt;
    const auto celsius = smc::decodeFlt(value->bytes());
    if (!celsius) return std::nullopt;
    return static_cast<double>(*celsius);
}

}  // namespace

std::optional<double> MemoryTemperature::readMemoryTemperature() noexcept {
    if (!smc_.isOpen()) return std::nullopt;
    if (!probed_) probe();

    // Only finite values compete: an infinite maximum would make the reading unpublishable for
    // as long as the key reports it.
    double highest = 0.0;
    for (std::size_t i = 0; i < keyCount_; ++i) {
        const auto celsius = readFloatKey(smc_, keys_[i]);
        if (celsius && std::isfinite(*celsius) && highest < *celsius) highest = *celsius;
    }
    if (highest > 0.0) return highest;
    return std::nullopt;
}

void MemoryTemperature::probe() noexcept {
    // Marked first: the probe runs once in the reader's life, whatever it finds.
    probed_ = true;
    for (const std::string_view key : smc::memoryKeys) {
        if (readFloatKey(smc_, key)) keys_[keyCount_++] = key;
    }
}

}  // namespace tessly
