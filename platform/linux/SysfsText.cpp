#include "platform/linux/SysfsText.h"

#include "base/Utf8.h"

#include <array>
#include <charconv>
#include <utility>

namespace tessly::hwmon {
namespace {

constexpr std::string_view whitespace = " \t\n\v\f\r";

// The ASCII whitespace above: space, and tab through carriage return.
constexpr bool isWhitespace(char c) noexcept {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Every value read goes through here, so it is a plain scan rather than a set search per byte.
std::string_view trimmed(std::string_view text) noexcept {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && isWhitespace(text[first]))
        ++first;
    while (last > first && isWhitespace(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

}  // namespace

std::optional<std::int64_t> parseSysfsInteger(std::string_view text) noexcept {
    // Every value read comes through here: the usual "<digits>\n" of at most 18 digits, which
    // cannot overflow, is taken in one scan; anything else takes the general path below.
    {
        const char* p = text.data();
        const char* const end = p + text.size();
        const bool negative = p != end && *p == '-';
        if (negative) ++p;
        const char* const digits = p;
        const char* const stop = end - p > 18 ? p + 18 : end;
        std::int64_t value = 0;
        for (unsigned digit; p != stop && (digit = static_cast<unsigned char>(*p) - 48u) < 10u;
             ++p) {
            value = value * 10 + digit;
        }
        if (p != digits && (p == end || (*p == '\n' && p + 1 == end))) {
            return negative ? -value : value;
        }
    }
    const std::string_view number = trimmed(text);
    if (number.empty()) return std::nullopt;
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc{} || end != number.data() + number.size()) return std::nullopt;
    return value;
}

std::string attributeText(std::string_view raw) {
    const auto last = raw.find_last_not_of(whitespace);
    std::string_view text = last == std::string_view::npos ? "" : raw.substr(0, last + 1);
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const std::size_t length = utf8::firstSequence(text).length;
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            text.remove_prefix(1);
        } else {
            out += text.substr(0, length);
            text.remove_prefix(length);
        }
    }
    return out;
}

std::optional<unsigned> parseIndex(std::string_view digits) noexcept {
    if (digits.empty() || digits.size() > 6) return std::nullopt;
    if (digits.size() > 1 && digits.front() == '0') return std::nullopt;
    unsigned value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value;
}

std::optional<SensorAttribute> parseSensorAttribute(std::string_view fileName) noexcept {
    static constexpr std::array<std::pair<std::string_view, SensorType>, 2> types{{
        {"temp", SensorType::temp},
        {"fan", SensorType::fan},
    }};
    static constexpr std::array<std::pair<std::string_view, SensorItem>, 4> items{{
        {"_input", SensorItem::input},
        {"_label", SensorItem::label},
        {"_min", SensorItem::min},
        {"_max", SensorItem::max},
    }};
    for (const auto& [prefix, type] : types) {
        if (!fileName.starts_with(prefix)) continue;
        const std::string_view rest = fileName.substr(prefix.size());
        for (const auto& [suffix, item] : items) {
            if (!rest.ends_with(suffix)) continue;
            const auto index = parseIndex(rest.substr(0, rest.size() - suffix.size()));
            if (!index || *index == 0) return std::nullopt;
            return SensorAttribute{type, *index, item};
        }
    }
    return std::nullopt;
}

}  // namespace tessly::hwmon
