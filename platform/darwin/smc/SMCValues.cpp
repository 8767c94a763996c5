#include "smc/SMCValues.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace tessly::smc {

std::optional<float> decodeFlt(std::span<const std::uint8_t> bytes) noexcept {
    if (bytes.size() < 4) return std::nullopt;
    const std::uint32_t bits =
        static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
        static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    return std::bit_cast<float>(bits);
}

std::array<std::uint8_t, 4> encodeFlt(float value) noexcept {
    const auto bits = std::bit_cast<std::uint32_t>(value);
    return {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
            static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)};
}

std::optional<double> decodeFpe2(std::span<const std::uint8_t> bytes) noexcept {
    if (bytes.size() < 2) return std::nullopt;
    const unsigned raw = static_cast<unsigned>(bytes[0]) << 8 | bytes[1];
    return static_cast<double>(raw) / 4.0;
}

std::array<std::uint8_t, 2> encodeFpe2(double value) noexcept {
    // NaN fails both comparisons of the clamp and becomes 0.
    const double quarters = value > 0 ? std::min(value * 4.0, 65535.0) : 0.0;
    const auto raw = static_cast<std::uint16_t>(std::lround(quarters));
    return {static_cast<std::uint8_t>(raw >> 8), static_cast<std::uint8_t>(raw & 0xFF)};
}

std::optional<std::uint8_t> decodeUi8(std::span<const std::uint8_t> bytes) noexcept {
    if (bytes.empty()) return std::nullopt;
    return bytes.front();
}

}  // namespace tessly::smc
