#include "platform/linux/SysfsText.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

#include <gtest/gtest.h>

namespace tessly::hwmon {
namespace {

TEST(SysfsText, IntegersAsTheKernelPrintsThemAndNothingElse) {
    const struct {
        std::string_view text;
        std::optional<std::int64_t> expected;
    } cases[] = {
        {"49000\n", 49000},
        {"49000", 49000},
        {" \t49000 \n\n", 49000},
        {"-273150\n", -273150},  // negative millidegrees parse; the sampler filters them
        {"9223372036854775807\n", std::numeric_limits<std::int64_t>::max()},
        {"9223372036854775808\n", std::nullopt},  // overflow
        {"-9223372036854775809\n", std::nullopt},
        {"", std::nullopt},
        {"\n", std::nullopt},
        {"12abc\n", std::nullopt},
        {"12 34\n", std::nullopt},
        {"+12\n", std::nullopt},
        {"-\n", std::nullopt},
        {"1.5\n", std::nullopt},
        {std::string_view("12\0", 3), std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseSysfsInteger(c.text), c.expected) << '"' << c.text << '"';
    }
}

TEST(SysfsText, AttributeTextDropsTheNewlineAndRepairsBrokenUtf8) {
    const struct {
        std::string_view raw, expected;
    } cases[] = {
        {"Package id 0\n", "Package id 0"},
        {"  kept\n", "  kept"},
        {"\n", ""},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x94\xA5\n", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x94\xA5"},
        {"N1\xFF\xFE", "N1\xEF\xBF\xBD\xEF\xBF\xBD"},  // one U+FFFD per bad byte
        {"\x80x", "\xEF\xBF\xBDx"},                  // stray continuation byte
        {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},    // overlong
        {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate
        {"\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // > U+10FFFF
        {"ab\xE2\x82", "ab\xEF\xBF\xBD\xEF\xBF\xBD"},  // cut short
    };
    for (const auto& c : cases) {
        EXPECT_EQ(attributeText(c.raw), c.expected) << '"' << c.raw << '"';
    }
}

TEST(SysfsText, OnlyIndexedTemperatureAndFanFilesAreSensorAttributes) {
    using T = SensorType;
    using I = SensorItem;
    const struct {
        std::string_view name;
        std::optional<SensorAttribute> expected;
    } cases[] = {
        {"temp1_input", SensorAttribute{T::temp, 1, I::input}},
        {"temp33_label", SensorAttribute{T::temp, 33, I::label}},
        {"fan10_input", SensorAttribute{T::fan, 10, I::input}},
        {"fan1_min", SensorAttribute{T::fan, 1, I::min}},
        {"fan1_max", SensorAttribute{T::fan, 1, I::max}},
        {"temp", std::nullopt},  // a thermal zone's own file, no index
        {"temp0_input", std::nullopt},
        {"temp01_input", std::nullopt},
        {"temp1000000_input", std::nullopt},
        {"temp1_crit_alarm", std::nullopt},
        {"fan1_target", std::nullopt},
        {"in0_input", std::nullopt},
        {"pwm1_min", std::nullopt},
        {"bogus1_input", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseSensorAttribute(c.name), c.expected) << c.name;
    }
    EXPECT_EQ(parseIndex("10"), 10u);
    EXPECT_EQ(parseIndex("0"), 0u);
    EXPECT_EQ(parseIndex("1a"), std::nullopt);
}

}  // namespace
}  // namespace tessly::hwmon
