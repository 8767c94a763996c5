#include "cli/Format.h"

#include "base/Utf8.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <utility>
#include <vector>

#include <TesslyKit/Records.h>

namespace tessly::cli {
namespace {

bool isContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The length of the escape sequence at the start of `text` (ESC [ parameters final byte, or ESC
// and one more byte), or 0 when it does not start with ESC.
std::size_t escapeLength(std::string_view text) {
    if (text.empty() || text[0] != '\x1b') return 0;
    if (text.size() < 2) return 1;
    if (text[1] != '[') return 2;
    std::size_t i = 2;
    while (i < text.size() && !(text[i] >= 0x40 && text[i] <= 0x7E))
        ++i;
    return i < text.size() ? i + 1 : i;
}

}  // namespace

std::string oneDecimal(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    char buffer[64];
    const int n = std::snprintf(buffer, sizeof buffer, "%.1f", value);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof buffer) return "?";
    return {buffer, static_cast<std::size_t>(n)};
}

std::string shortestNumber(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (ec != std::errc{}) return "NaN";
    return {buffer, end};
}

std::string wholeNumber(double value) {
    // Below 2^53 every whole double is exact, and llround cannot overflow.
    if (!std::isfinite(value) || std::fabs(value) >= 9007199254740992.0) {
        return shortestNumber(value);
    }
    return std::to_string(std::llround(value));
}

std::string speedText(double rpm) {
    FanReading reading;
    reading.rpm = rpm;
    return reading.shortDescription();
}

std::string durationText(double seconds) {
    if (std::isnan(seconds)) return "unknown";
    const double s = std::fabs(seconds);
    if (s < 59.95) return oneDecimal(s) + " s";
    if (std::isinf(s) || s >= 1e15) return "ages";
    // 59.95 s and more no longer shows as "60.0 s" but as a whole minute.
    const auto whole = std::max(static_cast<long long>(std::floor(s)), 60LL);
    const long long days = whole / 86400;
    const long long hours = whole % 86400 / 3600;
    const long long minutes = whole % 3600 / 60;
    const long long rest = whole % 60;
    if (whole < 3600) return std::to_string(minutes) + " min " + std::to_string(rest) + " s";
    if (whole < 86400) return std::to_string(hours) + " h " + std::to_string(minutes) + " min";
    return std::to_string(days) + " d " + std::to_string(hours) + " h";
}

std::string utcTime(double seconds, int fractionDigits) {
    // Beyond the year 9999 (or before 1) the fixed layout no longer holds.
    if (!std::isfinite(seconds) || seconds < -62135596800.0 || seconds >= 253402300800.0) {
        return "?";
    }
    const double whole = std::floor(seconds);
    const auto time = static_cast<std::time_t>(whole);
    std::tm parts{};
    if (::gmtime_r(&time, &parts) == nullptr) return "?";
    char buffer[64];
    const std::size_t n = std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S", &parts);
    if (n == 0) return "?";
    std::string text(buffer, n);
    if (fractionDigits > 0) {
        const int digits = fractionDigits > 3 ? 3 : fractionDigits;
        int scale = 1;
        for (int i = 0; i < digits; ++i)
            scale *= 10;
        // Truncated, and never rounded up to a full second.
        auto fraction = static_cast<int>((seconds - whole) * scale);
        if (fraction >= scale) fraction = scale - 1;
        std::string digitsText = std::to_string(fraction);
        text += '.';
        text.append(static_cast<std::size_t>(digits) - digitsText.size(), '0');
        text += digitsText;
    }
    return text + "Z";
}

int displayWidth(std::string_view text) {
    int width = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (const std::size_t skip = escapeLength(text.substr(i))) {
            i += skip;
            continue;
        }
        if (!isContinuationByte(text[i])) ++width;
        ++i;
    }
    return width;
}

std::string padRight(std::string_view text, int width) {
    std::string padded(text);
    const int missing = width - displayWidth(text);
    if (missing > 0) padded.append(static_cast<std::size_t>(missing), ' ');
    return padded;
}

std::string padLeft(std::string_view text, int width) {
    const int missing = width - displayWidth(text);
    std::string padded(missing > 0 ? static_cast<std::size_t>(missing) : 0, ' ');
    padded += text;
    return padded;
}

std::string fitToWidth(std::string_view text, int width) {
    // Escape sequences after the cut are kept too, so an attribute switched on before the cut
    // is still switched off.
    std::string fitted;
    int used = 0;
    bool full = false;
    for (std::size_t i = 0; i < text.size();) {
        if (const std::size_t skip = escapeLength(text.substr(i))) {
            fitted += text.substr(i, skip);
            i += skip;
            continue;
        }
        if (!isContinuationByte(text[i])) {
            full = used >= width;
            if (!full) ++used;
        }
        if (!full) fitted += text[i];
        ++i;
    }
    return fitted;
}

std::vector<std::string> wrapToWidth(std::string_view text, int width) {
    std::vector<std::string> lines;
    const int room = std::max(width, 1);
    std::string line;
    int used = 0;
    while (!text.empty()) {
        const std::size_t blank = text.find(' ');
        std::string_view word = text.substr(0, blank);
        text.remove_prefix(blank == std::string_view::npos ? text.size() : blank + 1);
        if (word.empty()) continue;
        const int length = displayWidth(word);
        if (used > 0 && used + 1 + length > room) {
            lines.push_back(std::move(line));
            line.clear();
            used = 0;
        }
        // A word wider than the line is cut into pieces of the line's width.
        while (used == 0 && displayWidth(word) > room) {
            std::string piece = fitToWidth(word, room);
            word.remove_prefix(piece.size());
            lines.push_back(std::move(piece));
        }
        if (word.empty()) continue;
        if (used > 0) {
            line += ' ';
            ++used;
        }
        line += word;
        used += displayWidth(word);
    }
    if (used > 0 || lines.empty()) lines.push_back(std::move(line));
    return lines;
}

std::size_t editDistance(std::string_view a, std::string_view b) {
    // Three rows of the optimal-string-alignment table: two rows back for a swap.
    std::vector<std::size_t> before(b.size() + 1), previous(b.size() + 1), current(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        previous[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        current[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t substitution = a[i - 1] == b[j - 1] ? 0 : 1;
            current[j] =
                std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + substitution});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                current[j] = std::min(current[j], before[j - 2] + 1);
        }
        std::swap(before, previous);
        std::swap(previous, current);
    }
    return previous[b.size()];
}

std::optional<std::string> closestWord(std::string_view word,
                                       std::span<const std::string> candidates) {
    std::optional<std::string> closest;
    std::size_t closestDistance = 0;
    for (const auto& candidate : candidates) {
        const std::size_t nearEnough = candidate.size() <= 5 ? 1 : 2;
        const std::size_t apart = word.size() > candidate.size() ? word.size() - candidate.size()
                                                                 : candidate.size() - word.size();
        if (apart > nearEnough) continue;
        const std::size_t distance = editDistance(word, candidate);
        if (distance <= nearEnough && (!closest || distance < closestDistance)) {
            closest = candidate;
            closestDistance = distance;
        }
    }
    return closest;
}

}  // namespace tessly::cli
