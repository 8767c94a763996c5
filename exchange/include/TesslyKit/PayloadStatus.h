#pragma once
// Why the exchange files yield what they yield, told apart for people and for the agent.
// SensorBridge answers only "a record" or "nothing"; these answer which of the reasons for nothing
// it is: no container, a missing file, one that is not a small regular file, a read that failed
// for a reason that says nothing about the file (out of descriptors or memory, an I/O error),
// content that is no valid record, or (for the payload) a sample that is not current.
//
// Each call looks the file's directory up anew and reads its file once, by the same rules as
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
        current,      // a valid payload at most staleAfter old, or at most staleAfter ahead
        stale,        // a valid payload older than that, further in the future, or of NaN age
        missing,      // no "sensors.json" (or a path through something that is no directory)
        unreadable,   // not a regular file of at most 1 MiB
        unavailable,  // the read failed for a reason that says nothing about the file; see error
        invalid,      // the content is not a valid payload
        noContainer,  // no container location (no home directory)
    };

    State state = State::noContainer;
    // "sensors.json" in its directory; empty with noContainer.
    std::filesystem::path file;
    // The decoded payload, current or stale; absent in every other state.
    std::optional<SensorsPayload> payload;
    // `now - sampledAt`, signed, for a current or stale payload; absent otherwise.
    std::optional<double> age;
    // The errno behind missing (ENOENT, or ENOTDIR where a parent is no directory) and
    // unavailable; 0 otherwise.
    int error = 0;
};

struct ControlStatus {
    enum class State {
        present,      // a valid control record
        missing,      // no "control.json" (or a path through something that is no directory)
        unreadable,   // not a regular file of at most 1 MiB
        unavailable,  // the read failed for a reason that says nothing about the file; see error
        invalid,      // the content is not a valid control record
        noContainer,  // no container location (no home directory)
    };

    State state = State::noContainer;
    // "control.json" in its directory; empty with noContainer.
    std::filesystem::path file;
    // The record when present; absent in every other state.
    std::optional<SensorControl> control;
    // The errno behind missing and unavailable; 0 otherwise.
    int error = 0;

    // Whether the status says anything about the main application's wish. Every state but
    // `unavailable` does: a missing, unreadable, invalid or unlocatable file means "no record".
    // An unavailable one must not be taken for "no record": acting on it would, for example,
    // unregister a login item that the user asked for only because descriptors ran out.
    bool isConclusive() const noexcept { return state != State::unavailable; }
};

// Whether a payload of this age (`now - sampledAt`, seconds) counts as current: at most
// SensorBridge::staleAfter old and at most that far in the future. A payload from further ahead
// comes from a clock that was set back since, and would otherwise look live for as long as the
// step; a small step does not blank a live agent. NaN is not current.
bool isCurrentAge(double age) noexcept;

// The state of "sensors.json" judged at `now` (seconds since 1970, the caller's clock).
PayloadStatus payloadStatus(double now) noexcept;

// The state of "control.json"; a control record of any age is present.
ControlStatus controlStatus() noexcept;

}  // namespace tessly
