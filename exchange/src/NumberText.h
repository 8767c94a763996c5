#pragma once
// What a JSON number's text denotes, judged from its digits rather than from the double they
// round to. Internal to TesslyKit.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tessly::detail {

// The integer that a JSON number text (RFC 8259: -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?)
// denotes exactly, when it is whole and within signed 64-bit; nothing for a fraction, for a
// value out of range, and for text that is not a JSON number. "2.0" and "2e0" give 2, "-0.0"
// gives 0; "2.0000000000000001" and "1e-400" give nothing however close their double is.
std::optional<std::int64_t> wholeInt64FromJSONNumber(std::string_view text) noexcept;

// Room for any text floatText writes.
inline constexpr std::size_t floatTextSize = 32;

// A finite double as JSON float text, into `out`; returns the end. The digits are the fewest that
// read back as the same double; they are laid out with a point and never as an integer text:
// plainly from 1e-4 up to 1e15 ("0.0001", "41.25", "123456789012345.0"), else with an exponent
// of at least two digits ("1e-05", "1.5e+300"). Negative zero is "-0.0".
char* floatText(double value, char (&out)[floatTextSize]) noexcept;

}  // namespace tessly::detail
