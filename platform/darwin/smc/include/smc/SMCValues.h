#pragma once
// The SMC's value encodings, as pure functions over the value bytes of a key. The one codec of
// the project: the readers of SMC keys decode with it and the scripted SMC of the tests encodes
// with it, so both sides of the driver protocol agree by construction.
//
//   "flt "  IEEE 754 single precision, little-endian (4 bytes)
//   "fpe2"  unsigned fixed point, 14 integer and 2 fraction bits, big-endian (2 bytes)
//   "ui8 "  one unsigned byte

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "smc/FourCC.h"

namespace tessly::smc {

// The type names, as SMCValue::dataType spells them; fourCC packs them for the driver.
inline constexpr std::string_view typeFlt = "flt ";
inline constexpr std::string_view typeFpe2 = "fpe2";
inline constexpr std::string_view typeUi8 = "ui8 ";

// The float in the first 4 bytes; nothing with fewer. The value itself (NaN, infinities) is
// passed on as it is: judging it is the caller's business.
std::optional<float> decodeFlt(std::span<const std::uint8_t> bytes) noexcept;
std::array<std::uint8_t, 4> encodeFlt(float value) noexcept;

// The value of the first 2 bytes, from 0 to 16383.75 in steps of 0.25; nothing with fewer.
std::optional<double> decodeFpe2(std::span<const std::uint8_t> bytes) noexcept;
// The nearest representable value; below 0 gives 0, above the range its largest value.
std::array<std::uint8_t, 2> encodeFpe2(double value) noexcept;

// The first byte; nothing without one.
std::optional<std::uint8_t> decodeUi8(std::span<const std::uint8_t> bytes) noexcept;

}  // namespace tessly::smc
