#pragma once
// The JSON form of the records: UTF-8, one compact object, no trailing newline. Optional fields
// are written only when present and read as absent when missing or null; required keys, JSON
// types and whole-number fanCount are checked strictly. Nothing here throws.

#include <optional>
#include <string>
#include <string_view>

#include <TesslyKit/Records.h>

namespace tessly {

// The bytes of "sensors.json" / "control.json", or nothing when a written number is not finite.
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
