#include <TesslyKit/Records.h>

#include <array>
#include <charconv>
#include <cmath>
#include <new>
#include <string_view>

namespace tessly {

namespace {

// 2^63: the first whole double that no longer fits a signed 64-bit integer.
constexpr double twoToThe63 = 9223372036854775808.0;

// The decimal digits of a whole, finite, non-negative double, exactly (no exponent, no fraction).
std::string wholeDigits(double whole) {
    if (whole < twoToThe63) {
        std::array<char, 24> buffer{};
        const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(),
                                          static_cast<std::int64_t>(whole));
        return std::string(buffer.data(), result.ptr);
    }
    // Beyond int64 the whole number cannot be held as an integer; the exact digits of the double's
    // value (at most 309 of them) are still a faithful display text.
    std::array<char, 320> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), whole,
                                      std::chars_format::fixed, 0);
    if (result.ec != std::errc{}) return "over 9223372036854775807";
    return std::string(buffer.data(), result.ptr);
}

}  // namespace

bool FanReading::isSpinning() const noexcept {
    return rpm > 0;
}

std::vector<double> FanReading::perFanRPMs() const noexcept {
    try {
        if (rpms && !rpms->empty()) return *rpms;
        return {rpm};
    } catch (const std::bad_alloc&) {
        return {};
    }
}

std::optional<RPMRange> FanReading::range() const noexcept {
    if (minRPM && maxRPM && *minRPM < *maxRPM) return RPMRange{.min = *minRPM, .max = *maxRPM};
    return std::nullopt;
}

std::string FanReading::shortDescription() const noexcept {
    try {
        if (!(rpm > 0)) return "Off";  // 0, negative and NaN
        if (std::isinf(rpm)) return "inf rpm";
        // std::round rounds halves away from zero and, unlike floor(x + 0.5), is exact for every
        // double (0.49999999999999994 gives 0, 2^52 + 1 stays itself).
        return wholeDigits(std::round(rpm)) + " rpm";
    } catch (const std::bad_alloc&) {
        return {};
    }
}

}  // namespace tessly
