#include "NumberText.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace tessly::detail {
namespace {

bool isDigit(char c) noexcept {
    return c >= '0' && c <= '9';
}

// The digits at the front of `text`, removed from it.
std::string_view takeDigits(std::string_view& text) noexcept {
    std::size_t n = 0;
    while (n < text.size() && isDigit(text[n]))
        ++n;
    const std::string_view digits = text.substr(0, n);
    text.remove_prefix(n);
    return digits;
}

}  // namespace

std::optional<std::int64_t> wholeInt64FromJSONNumber(std::string_view text) noexcept {
    const bool negative = text.starts_with('-');
    if (negative) text.remove_prefix(1);
    const std::string_view integer = takeDigits(text);
    if (integer.empty() || (integer.size() > 1 && integer.front() == '0')) return std::nullopt;
    std::string_view fraction;
    if (text.starts_with('.')) {
        text.remove_prefix(1);
        fraction = takeDigits(text);
        if (fraction.empty()) return std::nullopt;
    }
    // The exponent, saturated far beyond any digit count that could still matter.
    constexpr long saturated = 1'000'000;
    long exponent = 0;
    if (text.starts_with('e') || text.starts_with('E')) {
        text.remove_prefix(1);
        const bool negativeExponent = text.starts_with('-');
        if (text.starts_with('-') || text.starts_with('+')) text.remove_prefix(1);
        const std::string_view digits = takeDigits(text);
        if (digits.empty()) return std::nullopt;
        for (const char c : digits) {
            exponent = exponent * 10 + (c - '0');
            if (exponent > saturated) exponent = saturated;
        }
        if (negativeExponent) exponent = -exponent;
    }
    if (!text.empty()) return std::nullopt;

    // The significant digits (the integer's, then the fraction's, read where they stand), and how
    // many of them stand before the decimal point.
    const std::size_t count = integer.size() + fraction.size();
    const auto digitAt = [&](std::size_t at) {
        return at < integer.size() ? integer[at] : fraction[at - integer.size()];
    };
    long point = static_cast<long>(integer.size()) + exponent;
    std::size_t first = 0;
    while (first < count && digitAt(first) == '0') {
        ++first;
        --point;
    }
    std::size_t end = count;
    while (end > first && digitAt(end - 1) == '0')
        --end;
    if (first == end) return 0;  // every digit is zero
    const auto significant = static_cast<long>(end - first);
    if (point < significant) return std::nullopt;  // a digit after the point: not whole
    if (point > 19) return std::nullopt;           // 10^19 and more: beyond 64 bits

    // At most 19 digits: fits an unsigned 64-bit value without overflow.
    std::uint64_t magnitude = 0;
    for (long i = 0; i < point; ++i) {
        const std::size_t at = first + static_cast<std::size_t>(i);
        const unsigned digit = at < end ? static_cast<unsigned>(digitAt(at) - '0') : 0;
        magnitude = magnitude * 10 + digit;
    }
    constexpr auto largest = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (negative) {
        if (magnitude > largest + 1) return std::nullopt;
        return magnitude == largest + 1 ? std::numeric_limits<std::int64_t>::min()
                                        : -static_cast<std::int64_t>(magnitude);
    }
    if (magnitude > largest) return std::nullopt;
    return static_cast<std::int64_t>(magnitude);
}

char* floatText(double value, char (&out)[floatTextSize]) noexcept {
    // Most values are sensor readings in thousandths (millidegrees and the like). Below 1e9 two
    // decimals of at most three places never round to the same double, so when k / 1000 gives
    // back the value exactly, "k / 1000" with its trailing zeros dropped is the one text of the
    // fewest digits, the same the general path below finds, at a fraction of its cost.
    if (std::fabs(value) < 1e9) {
        const double thousandths = std::nearbyint(value * 1000.0);
        if (thousandths != 0 && thousandths / 1000.0 == value) {
            char* o = out;
            auto k = static_cast<std::int64_t>(thousandths);
            if (k < 0) {
                *o++ = '-';
                k = -k;
            }
            o = std::to_chars(o, out + floatTextSize, k / 1000).ptr;
            *o++ = '.';
            int fraction = static_cast<int>(k % 1000);
            for (int place = 100; fraction != 0; place /= 10) {
                *o++ = static_cast<char>('0' + fraction / place);
                fraction %= place;
            }
            return o;
        }
    }

    // The fewest digits, as "-d.ddde±X".
    char scientific[floatTextSize];
    const char* const end =
        std::to_chars(scientific, scientific + floatTextSize, value, std::chars_format::scientific)
            .ptr;
    const char* p = scientific;
    char* o = out;
    if (*p == '-') {
        *o++ = *p++;
    }
    char digits[floatTextSize];
    int count = 0;
    for (; p != end && *p != 'e'; ++p) {
        if (*p != '.') digits[count++] = *p;
    }
    int exponent = 0;
    if (p != end) {
        const bool negative = *++p == '-';
        for (++p; p != end; ++p)
            exponent = exponent * 10 + (*p - '0');
        if (negative) exponent = -exponent;
    }

    constexpr int plainBelow = 15;   // the largest exponent written plainly, plus one
    const int point = exponent + 1;  // digits before the decimal point
    const auto copy = [&o, &digits](int from, int to) {
        for (int i = from; i < to; ++i)
            *o++ = digits[i];
    };
    const auto zeros = [&o](int n) {
        for (int i = 0; i < n; ++i)
            *o++ = '0';
    };
    if (count <= point && point <= plainBelow) {  // 1500.0
        copy(0, count);
        zeros(point - count);
        *o++ = '.';
        *o++ = '0';
    } else if (0 < point && point <= plainBelow) {  // 41.25
        copy(0, point);
        *o++ = '.';
        copy(point, count);
    } else if (-4 < point && point <= 0) {  // 0.0001
        *o++ = '0';
        *o++ = '.';
        zeros(-point);
        copy(0, count);
    } else {  // 1.5e+300
        copy(0, 1);
        if (count > 1) {
            *o++ = '.';
            copy(1, count);
        }
        *o++ = 'e';
        *o++ = exponent < 0 ? '-' : '+';
        const int magnitude = exponent < 0 ? -exponent : exponent;
        if (magnitude < 10) *o++ = '0';
        o = std::to_chars(o, out + floatTextSize, magnitude).ptr;
    }
    return o;
}

}  // namespace tessly::detail
