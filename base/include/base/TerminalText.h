#pragma once
// Text from a file or the system (a version, a chip name, a label, a path, an error message)
// made safe to print on a terminal or to write as one log line. One rule for every program.

#include <string>
#include <string_view>

#include "base/Utf8.h"

namespace tessly {

namespace detail {

inline char hexDigit(unsigned value) {
    return "0123456789abcdef"[value & 0xFu];
}

inline bool isUnsafeCodePoint(char32_t code) {
    return code < 0x20 || code == 0x7F || (code >= 0x80 && code <= 0x9F) ||
           (code >= 0x2028 && code <= 0x2029) || (code >= 0x202A && code <= 0x202E) ||
           (code >= 0x2066 && code <= 0x2069);
}

}  // namespace detail

// Valid UTF-8 comes through as it is, except that C0 controls (ESC, BEL, CR, line feed, ...), DEL,
// C1 controls (U+0080..U+009F) and the invisible direction overrides (U+202A..U+202E,
// U+2066..U+2069) and line separators (U+2028, U+2029) are shown as escapes: "\x1b", "\u009b",
// "\u202e"; every byte that is not part of valid UTF-8 is shown as "\xNN". The result holds no
// byte a terminal would act on, and is as wide as it looks. May throw std::bad_alloc.
inline std::string terminalSafe(std::string_view text) {
    std::string safe;
    safe.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto [length, code] = utf8::firstSequence(text.substr(i));
        if (length == 0 || (length == 1 && detail::isUnsafeCodePoint(code))) {
            const auto byte = static_cast<unsigned char>(text[i]);
            safe += "\\x";
            safe += detail::hexDigit(byte >> 4u);
            safe += detail::hexDigit(byte);
            ++i;
            continue;
        }
        if (detail::isUnsafeCodePoint(code)) {
            safe += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4) {
                safe +=
                    detail::hexDigit(static_cast<unsigned>(code >> static_cast<unsigned>(shift)));
            }
        } else {
            safe.append(text.substr(i, length));
        }
        i += length;
    }
    return safe;
}

}  // namespace tessly
