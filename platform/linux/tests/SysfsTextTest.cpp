#include "platform/linux/SysfsText.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

#include <gtest/gtest.h>

namespace tessly::hwmon {
namespace {

using namespace std::string_view_literals;

TEST(SysfsText, IntegersAsTheKernelPrintsThemAndNothingElse) {
    // Negative millidegrees parse; the sampler filters them.
    const std::pair<std::string_view, std::int64_t> integers[] = {
        {"49000\n", 49000},
        {"49000", 49000},
        {" \t49000 \n\n", 49000},
        {"-273150\n", -273150},
        {"9223372036854775807\n", std::numeric_limits<std::int64_t>::max()}};
    for (const auto& [text, value] : integers)
        EXPECT_EQ(parseSysfsInteger(text), value) << '"' << text << '"';
    for (const auto text : {"9223372036854775808\n"sv, "-9223372036854775809\n"sv, ""sv, "\n"sv,
                            "12abc\n"sv, "12 34\n"sv, "+12\n"sv, "-\n"sv, "1.5\n"sv, "12\0"sv})
        EXPECT_EQ(parseSysfsInteger(text), std::nullopt) << '"' << text << '"';
}

TEST(SysfsText, AttributeTextDropsTheNewlineAndRepairsBrokenUtf8) {
    // One U+FFFD per bad byte: stray continuation, overlong, surrogate, beyond U+10FFFF, cut short.
    const std::string_view r = "\xEF\xBF\xBD";
    const std::pair<std::string_view, std::string> cases[] = {
        {"Package id 0\n", "Package id 0"},
        {"  kept\n", "  kept"},
        {"\n", ""},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x94\xA5\n",
         "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x94\xA5"},
        {"N1\xFF\xFE", "N1" + std::string(r) + std::string(r)},
        {"\x80x", std::string(r) + "x"},
        {"\xC0\xAF", std::string(r) + std::string(r)},
        {"\xED\xA0\x80", std::string(r) + std::string(r) + std::string(r)},
        {"\xF4\x90\x80\x80", std::string(r) + std::string(r) + std::string(r) + std::string(r)},
        {"ab\xE2\x82", "ab" + std::string(r) + std::string(r)},
    };
    for (const auto& [raw, expected] : cases)
        EXPECT_EQ(attributeText(raw), expected) << '"' << raw << '"';
}

TEST(SysfsText, OnlyIndexedTemperatureAndFanFilesAreSensorAttributes) {
    using T = SensorType;
    using I = SensorItem;
    EXPECT_EQ(parseSensorAttribute("temp1_input"), (SensorAttribute{T::temp, 1, I::input}));
    EXPECT_EQ(parseSensorAttribute("temp33_label"), (SensorAttribute{T::temp, 33, I::label}));
    EXPECT_EQ(parseSensorAttribute("fan10_input"), (SensorAttribute{T::fan, 10, I::input}));
    EXPECT_EQ(parseSensorAttribute("fan1_min"), (SensorAttribute{T::fan, 1, I::min}));
    EXPECT_EQ(parseSensorAttribute("fan1_max"), (SensorAttribute{T::fan, 1, I::max}));
    // "temp" is a thermal zone's own file, without an index.
    for (const char* name :
         {"temp", "temp0_input", "temp01_input", "temp1000000_input", "temp1_crit_alarm",
          "fan1_target", "in0_input", "pwm1_min", "bogus1_input"})
        EXPECT_EQ(parseSensorAttribute(name), std::nullopt) << name;
    EXPECT_EQ(parseIndex("10"), 10u);
    EXPECT_EQ(parseIndex("0"), 0u);
    EXPECT_EQ(parseIndex("1a"), std::nullopt);
}

}  // namespace
}  // namespace tessly::hwmon
