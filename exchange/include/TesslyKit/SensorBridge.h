#pragma once
// The file exchange between the agent and a main application: "sensors.json" (written
// by the agent, read by the application) and "control.json" (the other way round), in the
// directories SharedContainer names: SharedContainer::directory() and controlDirectory(), the one
// container on macOS, memory and disk on Linux.
//
// Every operation looks its file's directory up anew and never throws; none but writeReporting
// reports an error: a failed write leaves the previous file in place, a failed read yields
// nothing. Each write goes to a uniquely named temporary beside its file and is renamed over it, so
// a reader sees a whole record or the previous one, never a mix, and a failed write leaves no
// temporary behind. Reads accept only regular files (or symlinks to them) of at most 1 MiB; a FIFO,
// a device, a directory or a larger file reads as absent, without blocking. Calls may come from
// several threads at once (while nothing changes the process environment); each file is meant to
// have one writing process.

#include <optional>
#include <string_view>

#include <TesslyKit/Records.h>

namespace tessly::SensorBridge {

// The application-group identifier that names the shared container.
inline constexpr std::string_view groupID = "group.app.tessly.sensors";

// The greatest age, in seconds, at which a payload still counts as current for read().
inline constexpr double staleAfter = 6.0;

// Encodes the payload and atomically replaces "sensors.json", creating its directory (with
// missing parents) when needed. Nothing is written when the payload holds a non-finite
// number. Not flushed to disk: the file is rewritten every second and stale after six.
void write(const SensorsPayload& payload) noexcept;

// What one write of "sensors.json" came to, for a writer that must tell when it cannot publish.
struct WriteOutcome {
    enum class State {
        written,       // the file was replaced
        failed,        // the write failed; `error` is the errno that stopped it
        noContainer,   // no container location is known (no home directory)
        notEncodable,  // the payload holds a non-finite number: nothing was written
    };
    State state = State::written;
    int error = 0;
};

// write(), saying how it went. Never throws.
WriteOutcome writeReporting(const SensorsPayload& payload) noexcept;

// The payload in "sensors.json" when it decodes and its age `now - sampledAt` lies within
// [-staleAfter, staleAfter] (see isCurrentAge in PayloadStatus.h; a NaN age counts as stale).
// Nothing otherwise.
std::optional<SensorsPayload> read(double now) noexcept;

// The record in "control.json" whatever its age, or nothing when it is missing or invalid.
std::optional<SensorControl> readControl() noexcept;

// Encodes the record and atomically replaces "control.json", creating its directory when
// needed; the file is flushed to stable storage before the rename and the directory after.
void writeControl(const SensorControl& control) noexcept;

}  // namespace tessly::SensorBridge
