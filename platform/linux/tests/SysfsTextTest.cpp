#include "platform/linux/SysfsText.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

#include <gtest/gtest.h>

namespace tessly::hwmon {
namespace {

TEST(SysfsText, IntegersAsTheKernelPrintsThemAndNothingElse) {
    constexpr auto max = std::numeric_limits<std::int64_t>::max();
    constexpr auto min = std::numeric_limits<std::int64_t>::min();
    const struct {
        std::string_view text;
        std::optional<std::int64_t> expected;
    } cases[] = {
        {"49000\n", 49000},
        {"49000", 49000},
        {"  49000 \n\n", 49000},
        {"\t-1000\n", -1000},  // negative millidegrees parse; the sampler filters them
        {"0\n", 0},
        {"-273150\n", -273150},
        {"65261850\n", 65261850},
        {"9223372036854775807\n", max},
        {"-9223372036854775808", min},
        {"9223372036854775808\n", std::nullopt},  // overflow
        {"-9223372036854775809\n", std::nullopt},
        {"99999999999999999999999\n", std::nullopt},
        {"", std::nullopt},
        {"\n", std::nullopt},
        {"   ", std::nullopt},
        {"abc\n", std::nullopt},
        {"12abc\n", std::nullopt},
        {"12 34\n", std::nullopt},
        {"+12\n", std::nullopt},
        {"-\n", std::nullopt},
        {"1.5\n", std::nullopt},
        {"0x10\n", std::nullopt},
        {std::string_view("12\0", 3), std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseSysfsInteger(c.text), c.expected) << '"' << c.text << '"';
    }
}

TEST(SysfsText, AttributeTextDropsTheNewlineAndRepairsBrokenUtf8) {
    const struct {
        std::string_view raw;
        std::string_view expected;
    } cases[] = {
        {"coretemp\n", "coretemp"},
        {"Package id 0\n", "Package id 0"},
        {"  leading kept\n", "  leading kept"},
        {"\n", ""},
        {"", ""},
        {"WiFi/BT Module Temperature", "WiFi/BT Module Temperature"},
        {"caf\xC3\xA9\n", "caf\xC3\xA9"},                        // valid two-byte sequence
        {"\xE2\x82\xAC", "\xE2\x82\xAC"},                        // valid three-byte sequence
        {"\xF0\x9F\x94\xA5", "\xF0\x9F\x94\xA5"},                // valid four-byte sequence
        {"LNV-45N1\xFF\xFE\n", "LNV-45N1\xEF\xBF\xBD\xEF\xBF\xBD"},  // one U+FFFD per bad byte
        {"\x80x", "\xEF\xBF\xBDx"},                              // stray continuation byte
        {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},                // overlong '/'
        {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate
        {"\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // > U+10FFFF
        {"ab\xE2\x82", "ab\xEF\xBF\xBD\xEF\xBF\xBD"},            // cut short
    };
    for (const auto& c : cases) {
        EXPECT_EQ(attributeText(c.raw), c.expected) << '"' << c.raw << '"';
    }
}

TEST(SysfsText, IndicesAreCanonicalDecimals) {
    EXPECT_EQ(parseIndex("0"), 0u);
    EXPECT_EQ(parseIndex("10"), 10u);
    EXPECT_EQ(parseIndex("999999"), 999999u);
    for (const std::string_view bad : {"", "01", "-1", "+1", "1a", "1000000", "99999999999"}) {
        EXPECT_EQ(parseIndex(bad), std::nullopt) << bad;
    }
}

TEST(SysfsText, OnlyTemperatureAndFanAttributesAreSensorAttributes) {
    using T = SensorType;
    using I = SensorItem;
    const struct {
        std::string_view name;
        std::optional<SensorAttribute> expected;
    } cases[] = {
        {"temp1_input", SensorAttribute{T::temp, 1, I::input}},
        {"temp9_label", SensorAttribute{T::temp, 9, I::label}},
        {"temp33_input", SensorAttribute{T::temp, 33, I::input}},
        {"fan10_input", SensorAttribute{T::fan, 10, I::input}},
        {"fan1_min", SensorAttribute{T::fan, 1, I::min}},
        {"fan1_max", SensorAttribute{T::fan, 1, I::max}},
        {"fan1_label", SensorAttribute{T::fan, 1, I::label}},
        {"temp", std::nullopt},  // a thermal zone's own file, no index
        {"temp_input", std::nullopt},
        {"temp0_input", std::nullopt},
        {"temp01_input", std::nullopt},
        {"temp1_crit_alarm", std::nullopt},
        {"temp1_max_hyst", std::nullopt},
        {"fan1_target", std::nullopt},
        {"fan1_alarm", std::nullopt},
        {"in0_input", std::nullopt},
        {"pwm1_min", std::nullopt},
        {"power1_input", std::nullopt},
        {"bogus1_input", std::nullopt},
        {"freq1_input", std::nullopt},
        {"name", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseSensorAttribute(c.name), c.expected) << c.name;
    }
}

}  // namespace
}  // namespace tessly::hwmon
