#pragma once
// UTF-8 as text from files and the system is judged everywhere: one decoder.

#include <cstddef>
#include <string_view>

namespace tessly::utf8 {

// The valid UTF-8 sequence at the start of `text`: its length and code point; length 0 when the
// text does not start with one (a stray continuation byte, an overlong form, a surrogate, a value
// beyond U+10FFFF, or a sequence cut short) or is empty.
struct Sequence {
    std::size_t length = 0;
    char32_t code = 0;
};

constexpr Sequence firstSequence(std::string_view text) noexcept {
    if (text.empty()) return {};
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return {1, lead};
    std::size_t length = 0;
    char32_t code = 0;
    unsigned char low = 0x80;  // bounds of the second byte, narrowed for overlongs and surrogates
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0Fu;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07u;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return {};
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) return {};
    for (std::size_t i = 1; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) return {};
        code = (code << 6) | (byte(i) & 0x3Fu);
    }
    return {length, code};
}

// Whether the whole text is valid UTF-8.
constexpr bool isValid(std::string_view text) noexcept {
    while (!text.empty()) {
        const Sequence sequence = firstSequence(text);
        if (sequence.length == 0) return false;
        text.remove_prefix(sequence.length);
    }
    return true;
}

}  // namespace tessly::utf8
