// The text helpers and the sparkline: durations, UTC times, whole numbers, column widths.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "cli/Format.h"
#include "cli/Sparkline.h"

namespace tessly::cli {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(Format, Durations) {
    // 273659 s is 3 d 4 h 0 min 59 s.
    const std::pair<double, const char*> cases[] = {
        {0, "0.0 s"},        {0.04, "0.0 s"},      {0.5, "0.5 s"},        {-0.3, "0.3 s"},
        {59.9, "59.9 s"},    {59.96, "1 min 0 s"}, {192.7, "3 min 12 s"}, {3599, "59 min 59 s"},
        {3600, "1 h 0 min"}, {7530, "2 h 5 min"},  {273659, "3 d 4 h"},   {kNaN, "unknown"},
        {kInf, "ages"}};
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(durationText(seconds), text) << seconds;
}

TEST(Format, UTCTimesAreTruncatedNotRounded) {
    EXPECT_EQ(utcTime(1767225600.0), "2026-01-01T00:00:00Z");
    EXPECT_EQ(utcTime(1767225600.9999), "2026-01-01T00:00:00Z");
    EXPECT_EQ(utcTime(1767225600.25, 3), "2026-01-01T00:00:00.250Z");
    EXPECT_EQ(utcTime(1767225659.9996, 3), "2026-01-01T00:00:59.999Z");
    EXPECT_EQ(utcTime(1767225600.05, 1), "2026-01-01T00:00:00.0Z");
    EXPECT_EQ(utcTime(0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(utcTime(-0.5, 1), "1969-12-31T23:59:59.5Z");
    EXPECT_EQ(utcTime(kNaN), "?");
    EXPECT_EQ(utcTime(1e300), "?");
}

TEST(Format, NumbersRoundAsPeopleExpectAndStayExactForMachines) {
    EXPECT_EQ(wholeNumber(1275.5), "1276");
    EXPECT_EQ(wholeNumber(-0.4), "0");
    EXPECT_EQ(wholeNumber(1e300), "1e+300");
    EXPECT_EQ(wholeNumber(kNaN), "NaN");
    EXPECT_EQ(oneDecimal(41.25), "41.2");  // printf rounds the exact binary value, half to even
    EXPECT_EQ(oneDecimal(41.26), "41.3");
    EXPECT_EQ(oneDecimal(-kInf), "-inf");
    EXPECT_EQ(shortestNumber(1767225600.5), "1767225600.5");
    EXPECT_EQ(shortestNumber(0.1), "0.1");
    EXPECT_EQ(shortestNumber(kInf), "+Inf");
    EXPECT_EQ(speedText(1234.5), "1235 rpm");
    EXPECT_EQ(speedText(0), "Off");
}

TEST(Format, WidthsCountCodePointsAndSkipEscapes) {
    EXPECT_EQ(displayWidth("48.5 °C"), 7);
    EXPECT_EQ(displayWidth("\x1b[7m STALE \x1b[0m"), 7);
    EXPECT_EQ(displayWidth("▁▂▃"), 3);
    EXPECT_EQ(padRight("°C", 4), "°C  ");
    EXPECT_EQ(padLeft("1.5", 5), "  1.5");
    EXPECT_EQ(padLeft("123456", 5), "123456");
    EXPECT_EQ(fitToWidth("▁▂▃▄", 2), "▁▂");
    // The attribute switched on before the cut is still switched off after it.
    EXPECT_EQ(fitToWidth("\x1b[7mABCDEF\x1b[0mGH", 3), "\x1b[7mABC\x1b[0m");
    EXPECT_EQ(fitToWidth("abc", 0), "");
}

TEST(Sparkline, ScalesBetweenLowestAndHighestWithBlanksForGaps) {
    const std::vector<std::optional<double>> rising{0, 1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(sparkline(rising, 0), "▁▂▃▄▅▆▇█");

    const std::vector<std::optional<double>> gaps{10, std::nullopt, 20, kNaN, 15};
    EXPECT_EQ(sparkline(gaps, 0), "▁ █ ▅");

    // Noise of a tenth of a degree on a steady value stays flat at the middle.
    const std::vector<std::optional<double>> steady{50.0, 50.1, 49.9, 50.0};
    EXPECT_EQ(sparkline(steady, 2.0), "▅▅▄▅");

    const std::vector<std::optional<double>> none{std::nullopt, std::nullopt};
    EXPECT_EQ(sparkline(none, 2.0), "  ");
    const std::vector<std::optional<double>> extremes{-1e308, 1e308};
    EXPECT_EQ(sparkline(extremes, 0), "▅▅");
}

}  // namespace
}  // namespace tessly::cli
