#pragma once
// Why the exchange files yield what they yield, told apart for people. SensorBridge answers only
// "a record" or "nothing"; these answer which of the reasons for nothing it is: no container, a
// missing file, one that cannot be read, content that is no valid record, or (for the payload) a
// sample older than SensorBridge::staleAfter.
//
// Each call looks the container up anew and reads its file once, by the same rules as
// SensorBridge (regular files of at most 1 MiB, the strict JSON form), so for the same file a
// payload status is `current` exactly when SensorBridge::read(now) yields the payload, and a
// control status is `present` exactly when SensorBridge::readControl() yields the record.
// Nothing here writes, throws or logs.

#include <filesystem>
#include <optional>

#include <TesslyKit/Records.h>

namespace tessly {

struct PayloadStatus {
    enum class State {
        current,      // a valid payload at most staleAfter old (or from the future)
        stale,        // a valid payload older than staleAfter, or of unknown (NaN) age
        missing,      // no "sensors.json" in the container
        unreadable,   // not a regular file of at most 1 MiB, or it cannot be read
        invalid,      // the content is not a valid payload
        noContainer,  // no container location (no home directory)
    };

    State state = State::noContainer;
    // "sensors.json" in the container; empty with noContainer.
    std::filesystem::path file;
    // The decoded payload, current or stale; absent in every other state.
    std::optional<SensorsPayload> payload;
    // `now - sampledAt`, signed, for a current or stale payload; absent otherwise.
    std::optional<double> age;
};

struct ControlStatus {
    enum class State {
        present,      // a valid control record
        missing,      // no "control.json" in the container
        unreadable,   // not a regular file of at most 1 MiB, or it cannot be read
        invalid,      // the content is not a valid control record
        noContainer,  // no container location (no home directory)
    };

    State state = State::noContainer;
    // "control.json" in the container; empty with noContainer.
    std::filesystem::path file;
    // The record when present; absent in every other state.
    std::optional<SensorControl> control;
};

// The state of "sensors.json" judged at `now` (seconds since 1970, the caller's clock).
PayloadStatus payloadStatus(double now) noexcept;

// The state of "control.json"; a control record of any age is present.
ControlStatus controlStatus() noexcept;

}  // namespace tessly
