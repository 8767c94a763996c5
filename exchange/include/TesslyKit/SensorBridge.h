#pragma once
// The file exchange between the agent and a main application: "sensors.json" (written by the
// agent, read by the application) and "control.json" (the other way round), both directly inside
// the shared container directory. Every operation looks the container up anew, never throws and
// never reports an error: a failed write leaves the previous file in place, a failed read yields
// nothing. Each write replaces its file atomically, so a reader sees a whole record or the
// previous one.

#include <optional>
#include <string_view>

#include <TesslyKit/Records.h>

namespace tessly::SensorBridge {

// The application-group identifier that names the shared container.
inline constexpr std::string_view groupID = "group.app.tessly.sensors";

// The greatest age, in seconds, at which a payload still counts as current for read().
inline constexpr double staleAfter = 6.0;

// Encodes the payload and atomically replaces "sensors.json", creating the container directory
// when needed. Nothing is written when the payload holds a non-finite number.
void write(const SensorsPayload& payload) noexcept;

// The payload in "sensors.json" when it decodes and `now - sampledAt <= staleAfter` (a payload
// from the future counts as current; a NaN age counts as stale). Nothing otherwise.
std::optional<SensorsPayload> read(double now) noexcept;

// The record in "control.json" whatever its age, or nothing when it is missing or invalid.
std::optional<SensorControl> readControl() noexcept;

// Encodes the record and atomically replaces "control.json", flushed to stable storage.
void writeControl(const SensorControl& control) noexcept;

}  // namespace tessly::SensorBridge
