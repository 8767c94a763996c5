#pragma once
// Text helpers shared by the commands: numbers, ages, UTC times and column layout. Pure functions
// of their arguments (no locale, no time zone), so their output is the same everywhere.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/TerminalText.h"

namespace tessly::cli {

// One decimal, rounded as printf does: "48.5", "-3.0". "nan"/"inf" for non-finite values.
std::string oneDecimal(double value);

// The shortest text that reads back as exactly `value` ("1320", "41.25", "1767225600.5"); "NaN",
// "+Inf" and "-Inf" for non-finite values (the Prometheus spelling).
std::string shortestNumber(double value);

// A whole number, rounded half away from zero ("1276" for 1275.5); the shortest text for values
// too large to round exactly, and "NaN"/"+Inf"/"-Inf" as shortestNumber.
std::string wholeNumber(double value);

// A speed as the payload's own short description gives it: "1320 rpm", or "Off" when not
// spinning.
std::string speedText(double rpm);

// A duration for people: "0.5 s" below a minute, "3 min 12 s" below an hour, "2 h 5 min" below
// a day, then "3 d 4 h". Negative durations are given by their magnitude; "unknown" for NaN.
std::string durationText(double seconds);

// The UTC time of `seconds` since 1970 as "2026-01-01T00:00:00Z", with `fractionDigits` digits of
// the second (0 to 3), truncated. "?" for a time that is not finite or out of range.
std::string utcTime(double seconds, int fractionDigits = 0);

// Text from files and the system made safe for a terminal (base/TerminalText.h).
using tessly::terminalSafe;

// The number of terminal columns the text takes: one per code point, none for the bytes of
// escape sequences (ESC [ ... final byte) and UTF-8 continuation bytes.
int displayWidth(std::string_view text);

// The text padded with blanks to `width` columns (unchanged when already as wide or wider).
std::string padRight(std::string_view text, int width);
std::string padLeft(std::string_view text, int width);

// The text cut to at most `width` columns, keeping escape sequences whole.
std::string fitToWidth(std::string_view text, int width);

// One line of text (no line feeds) broken at blanks into lines of at most `width` columns (at
// least 1); a word wider than a line is cut. Runs of blanks collapse; one empty line for blank
// text. Text with escape sequences is not for this: fitToWidth keeps those whole, this does not.
std::vector<std::string> wrapToWidth(std::string_view text, int width);
// The fewest single-byte insertions, deletions, substitutions and swaps of two neighbouring bytes
// that turn `a` into `b` ("raed" is 1 from "read"). Takes time in proportion to the product of
// the lengths.
std::size_t editDistance(std::string_view a, std::string_view b);

// The candidate that `word` most likely misspells: the one nearest by editDistance, the first of
// equally near ones, and only where it is near enough to be meant (1 edit for names of up to 5
// bytes, 2 for longer ones); nothing otherwise. Candidates that cannot be near enough by their
// length alone are never compared, so a long word costs little.
std::optional<std::string> closestWord(std::string_view word,
                                       std::span<const std::string> candidates);

}  // namespace tessly::cli
