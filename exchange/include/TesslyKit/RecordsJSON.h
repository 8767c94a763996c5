#pragma once
// The JSON form of the records: UTF-8, one compact object, keys in declaration order,
// no trailing newline. Nothing here throws.
//
// Writing: optional fields only when present, never null; every finite double is written so that
// it reads back as exactly the same double (whole values below 2^53 without a fraction, -0.0 with
// its sign); a helperVersion that is not valid UTF-8 gets U+FFFD for each byte that starts no
// sequence and for each sequence cut short, rather than failing. A NaN or infinite number in any
// written field fails the whole record: no bytes.
//
// Reading is strict: the text must be one JSON object (RFC 8259, valid UTF-8, no raw NUL; a
// leading byte-order mark and surrounding whitespace are allowed); a required key must be present,
// not null and of its JSON type; an optional key that is missing or null is absent, any other
// value must be of its type; fanCount must be a whole number within signed 64-bit; autostart must
// be true or false. Unknown keys are ignored; a key given twice keeps its last value. The first
// failure anywhere, nested records included, fails the whole text.

#include <optional>
#include <string>
#include <string_view>

#include <TesslyKit/Records.h>

namespace tessly {

// The bytes of "sensors.json" / "control.json" (or of one nested record), or nothing when a
// written number is not finite.
std::optional<std::string> encodeJSON(const SensorsPayload& payload) noexcept;
std::optional<std::string> encodeJSON(const SensorControl& control) noexcept;
std::optional<std::string> encodeJSON(const ThermalReading& reading) noexcept;
std::optional<std::string> encodeJSON(const FanReading& reading) noexcept;

// The record held by the text, or nothing when it is not a valid record of that kind.
std::optional<SensorsPayload> decodeSensorsPayload(std::string_view text) noexcept;
std::optional<SensorControl> decodeSensorControl(std::string_view text) noexcept;
std::optional<ThermalReading> decodeThermalReading(std::string_view text) noexcept;
std::optional<FanReading> decodeFanReading(std::string_view text) noexcept;

}  // namespace tessly
