#pragma once
// The payload as people read it: the aligned form of `tessly read`, the one-line form that
// `tessly watch` logs when its output is not a terminal, and the sentence that says why there is
// no current payload. The caller hands in its own current time. Every text from the files or the
// system (the version, paths, error messages) comes out made safe for a terminal.

#include <filesystem>
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
// says that the payload is current. Where a parent of the file is no directory it looks up
// which one, to say so.
std::string absenceText(const PayloadStatus& status);

// Why a file in the container cannot be there although nothing failed: "<path> is not a
// directory" for the first of its parents that exists but is no directory; empty when there is
// none.
std::string blockedPathText(const std::filesystem::path& file);

// The message of an errno, for people.
std::string errorText(int error);

// One line (no newline) for logs: the UTC time of `now`, then "cpu=48.5" style fields for the
// temperatures present, "fan=1320" (the representative speed in whole rpm) and "fans=1320,1276"
// when there are several, "age=0.5" in seconds, and " STALE" for a stale payload; or
// "no payload: <why>" when there is none.
std::string logLine(const PayloadStatus& status, double now);

}  // namespace tessly::cli
