#pragma once
// The payload as people read it: the aligned form of `tessly read`, the one-line form that
// `tessly watch` logs when its output is not a terminal, and the sentence that says why there is
// no current payload. Pure functions: the caller hands in its own current time.

#include <string>

#include <TesslyKit/PayloadStatus.h>
#include <TesslyKit/Records.h>

namespace tessly::cli {

// One aligned line per temperature (one decimal, °C), the fans (the short description, then
// each fan's speed), the limits as a range, the sample's age at `now` and the agent's version.
// Every line ends in a newline.
std::string payloadText(const SensorsPayload& payload, double now);

// Why there is no current payload, as a sentence without a final newline, e.g.
// "the last payload, in /home/u/.../sensors.json, is 42.3 s old (…)". For a current status it
// says that the payload is current.
std::string absenceText(const PayloadStatus& status);

// One line (no newline) for logs: the UTC time of `now`, then "cpu=48.5" style fields for the
// temperatures present, "fan=1320" (the representative speed in whole rpm) and "fans=1320,1276"
// when there are several, "age=0.5" in seconds, and " STALE" for a stale payload; or
// "no payload: <why>" when there is none.
std::string logLine(const PayloadStatus& status, double now);

}  // namespace tessly::cli
