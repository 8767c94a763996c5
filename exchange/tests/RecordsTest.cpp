// The records and their JSON form: the documented examples both ways, the derived fan values,
// exact numbers, and what a strict reader refuses.

#include <gtest/gtest.h>

#include <TesslyKit/Records.h>
#include <TesslyKit/RecordsJSON.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

namespace tessly::testing {
namespace {

using namespace std::string_literals;
using namespace std::string_view_literals;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr std::int64_t int64Max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t int64Min = std::numeric_limits<std::int64_t>::min();

constexpr std::string_view fullText =
    R"({"thermal":{"cpuTemperatureC":48.5,"gpuTemperatureC":41.25,"batteryTemperatureC":30.5,)"
    R"("storageTemperatureC":36},"fan":{"rpm":1320,"fanCount":2,"rpms":[1320,1275.5],)"
    R"("minRPM":1000,"maxRPM":4900},"sampledAt":1767225600.5,"helperVersion":"1.4.0"})";

TEST(Records, TheExamplesReadAndWriteBothWays) {
    const SensorsPayload full{.thermal = ThermalReading{.cpuTemperatureC = 48.5,
                                                        .gpuTemperatureC = 41.25,
                                                        .batteryTemperatureC = 30.5,
                                                        .storageTemperatureC = 36},
                              .fan = FanReading{.rpm = 1320,
                                                .fanCount = 2,
                                                .rpms = std::vector<double>{1320, 1275.5},
                                                .minRPM = 1000,
                                                .maxRPM = 4900},
                              .sampledAt = 1767225600.5,
                              .helperVersion = "1.4.0"};
    EXPECT_EQ(encodeJSON(full), fullText);
    EXPECT_EQ(encodeJSON(decodeSensorsPayload(fullText).value()), fullText);
    EXPECT_EQ(encodeJSON(SensorsPayload{.sampledAt = 2}), R"({"sampledAt":2})");
    EXPECT_EQ(encodeJSON(FanReading{.rpm = 0, .rpms = std::vector<double>{}}),
              R"({"rpm":0,"fanCount":0,"rpms":[]})");
    for (const auto text :
         {R"({"autostart":true})"sv, R"({"autostart":false,"stopRequestedAt":1767225700.25})"sv}) {
        EXPECT_EQ(encodeJSON(decodeSensorControl(text).value()), text);
    }
    // Absent, present and empty stay apart; a key given twice keeps its last value.
    EXPECT_FALSE(decodeFanReading(R"({"rpm":1,"fanCount":1})")->rpms);
    EXPECT_TRUE(decodeFanReading(R"({"rpm":1,"fanCount":1,"rpms":[]})")->rpms->empty());
    EXPECT_FALSE(decodeSensorControl(R"({"autostart":true,"autostart":false})")->autostart);
}

TEST(Records, FanReadingsDeriveWhatTheyShow) {
    const auto fan = [](double rpm) { return FanReading{.rpm = rpm, .fanCount = 1}; };
    const std::pair<double, std::string_view> descriptions[] = {
        {1234.5, "1235 rpm"}, {1234.4, "1234 rpm"}, {0.5, "1 rpm"},
        {0, "Off"},           {-5, "Off"},          {nan, "Off"}};
    for (const auto& [rpm, text] : descriptions) {
        EXPECT_EQ(fan(rpm).shortDescription(), text) << rpm;
        EXPECT_EQ(fan(rpm).isSpinning(), text != "Off") << rpm;
    }
    EXPECT_EQ(fan(1e300).shortDescription().substr(0, 5), "10000");
    EXPECT_EQ(fan(inf).shortDescription(), "inf rpm");

    FanReading limited = fan(1000);
    EXPECT_EQ(limited.perFanRPMs(), std::vector<double>{1000});
    limited.rpms = std::vector<double>{900, 1000};
    EXPECT_EQ(limited.perFanRPMs(), (std::vector<double>{900, 1000}));
    const std::tuple<std::optional<double>, std::optional<double>, bool> ranges[] = {
        {1000, 4900, true},
        {1000, 1000, false},
        {4900, 1000, false},
        {std::nullopt, 4900, false},
        {nan, 4900, false}};
    for (const auto& [min, max, hasRange] : ranges) {
        limited.minRPM = min;
        limited.maxRPM = max;
        EXPECT_EQ(limited.range().has_value(), hasRange);
    }
}

// Every finite double comes back bit for bit, -0.0 with its sign; a non-finite one fails the
// whole record.
TEST(Records, NumbersComeBackExactlyAndOnlyFiniteOnesAreWritten) {
    const double chosen[] = {-0.0, 0.0, 1e-310, 9007199254740993.0, 1.0 / 3, -1e308, 4.9e-324, 36};
    std::mt19937_64 random(20261206);
    for (std::size_t i = 0; i < 20000; ++i) {
        const double value = i < std::size(chosen) ? chosen[i] : std::bit_cast<double>(random());
        if (!std::isfinite(value)) continue;
        const auto back =
            decodeSensorsPayload(encodeJSON(SensorsPayload{.sampledAt = value}).value());
        ASSERT_TRUE(back);
        ASSERT_EQ(std::bit_cast<std::uint64_t>(back->sampledAt),
                  std::bit_cast<std::uint64_t>(value))
            << value;
    }
    // The fewest digits that come back, always as a float, plainly from 1e-4 up to 1e15.
    const std::pair<double, std::string_view> texts[] = {
        {-0.0, "-0.0"},
        {41.25, "41.25"},
        {-0.001, "-0.001"},
        {999999999.999, "999999999.999"},
        {1000000000.5, "1000000000.5"},
        {0.1 + 0.2, "0.30000000000000004"},
        {0.0001, "0.0001"},
        {1e-5, "1e-05"},
        {123456789012345.6, "123456789012345.6"},
        {9007199254740994.0, "9.007199254740994e+15"},
        {-3.556169393814842e-26, "-3.556169393814842e-26"},
        {4.9e-324, "5e-324"}};
    for (const auto& [value, text] : texts) {
        EXPECT_EQ(encodeJSON(SensorsPayload{.sampledAt = value}),
                  "{\"sampledAt\":" + std::string(text) + "}");
    }
    for (const double bad : {nan, inf, -inf}) {
        EXPECT_FALSE(encodeJSON(SensorsPayload{.sampledAt = bad}));
        EXPECT_FALSE(encodeJSON(SensorsPayload{.thermal = ThermalReading{.gpuTemperatureC = bad}}));
        EXPECT_FALSE(encodeJSON(
            SensorsPayload{.fan = FanReading{.rpm = 1, .rpms = std::vector<double>{1, bad}}}));
        EXPECT_FALSE(encodeJSON(SensorControl{.stopRequestedAt = bad}));
    }
}

// The exact bytes of the version text, and what a reader gets back from them: \" and \\, the
// short escapes \b \t \n \f \r, \u00XX in lower-case hex for the other characters below U+0020
// (NUL included), DEL and all other UTF-8 as it is. Each byte that can start no sequence, and
// each sequence cut short, is written as one U+FFFD, which then reads back as such.
TEST(Records, VersionTextIsWrittenWithTheStandardEscapesAndComesBack) {
    struct Case {
        std::string written, escaped, read;
    };
    const auto same = [](std::string written, std::string escaped) {
        return Case{written, std::move(escaped), written};
    };
    const std::string bad = "\xEF\xBF\xBD";
    std::string tenBad;
    for (int i = 0; i < 10; ++i)
        tenBad += bad;
    const std::string unicode = "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBF\xBF\xE2\x80\xA8";
    const Case cases[] = {
        same("1.4.0+sim", "1.4.0+sim"),
        same(R"(C:\tessly\"2.0"/\u0041)", R"(C:\\tessly\\\"2.0\"/\\u0041)"),
        same("\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f"
             "\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1a\x1b\x1c\x1d\x1e\x1f\x20\x7f"s,
             R"(\u0000\u0001\u0002\u0003\u0004\u0005\u0006\u0007\b\t\n\u000b\f\r\u000e\u000f)"
             R"(\u0010\u0011\u0012\u0013\u0014\u0015\u0016\u0017\u0018\u0019\u001a\u001b\u001c)"
             "\\u001d\\u001e\\u001f \x7f"),
        same(unicode, unicode),
        {"a\xFF\\\x80\"", "a" + bad + "\\\\" + bad + "\\\"", "a" + bad + "\\" + bad + "\""},
        // Overlong, a surrogate, beyond U+10FFFF, never a lead byte.
        {"\xC0\xAF\xED\xA0\x80\xF4\x90\x80\x80\xF5", tenBad, tenBad},
        {"\xC3\x28\n\xE2\x82", bad + "(\\n" + bad, bad + "(\n" + bad},  // cut short
    };
    for (const Case& c : cases) {
        const auto text = encodeJSON(SensorsPayload{.sampledAt = 1, .helperVersion = c.written});
        ASSERT_EQ(text, R"({"sampledAt":1,"helperVersion":")" + c.escaped + "\"}") << c.written;
        const auto back = decodeSensorsPayload(*text);
        ASSERT_TRUE(back) << *text;
        EXPECT_EQ(back->helperVersion, c.read) << *text;
        EXPECT_EQ(encodeJSON(*back), text);
    }
}

TEST(Records, AStrictReaderRefusesWhatIsNotARecordOrAFanCountNotWholeWithinInt64) {
    for (const auto text :
         {""sv, "{}"sv, "[]"sv, R"({"sampledAt":null})"sv, R"({"sampledAt":"1"})"sv,
          R"({"sampledAt":1)"sv, R"({"sampledAt":1}x)"sv, "{\"sampledAt\":1}\0"sv,
          R"({"sampledAt":1e400})"sv, R"({"sampledAt":1,"thermal":5})"sv,
          R"({"sampledAt":1,"thermal":{"cpuTemperatureC":"48"}})"sv,
          R"({"sampledAt":1,"fan":{"rpm":1}})"sv, R"({"sampledAt":1,"fan":{"fanCount":1}})"sv,
          R"({"sampledAt":1,"fan":{"rpm":1,"fanCount":1,"rpms":[1,null]}})"sv,
          R"({"sampledAt":1,"helperVersion":5})"sv,
          "{\"sampledAt\":1,\"helperVersion\":\"\xc3\x28\"}"sv}) {
        EXPECT_FALSE(decodeSensorsPayload(text)) << text;
    }
    EXPECT_TRUE(
        decodeSensorsPayload("\xEF\xBB\xBF {\"sampledAt\":1,\"x\":[{}],\"thermal\":null} \n"));
    for (const auto text :
         {R"({})"sv, R"({"autostart":1})"sv, R"({"autostart":"true"})"sv, R"({"autostart":null})"sv,
          R"({"autostart":true,"stopRequestedAt":"1"})"sv}) {
        EXPECT_FALSE(decodeSensorControl(text)) << text;
    }
    EXPECT_FALSE(decodeSensorsPayload(std::string(100000, '[') + std::string(100000, ']')));

    // fanCount is judged by the digits written, not by the double they round to.
    const auto countOf = [](std::string_view number) -> std::optional<std::int64_t> {
        const auto fan = decodeFanReading(R"({"rpm":0,"fanCount":)" + std::string(number) + "}");
        return fan ? std::optional(fan->fanCount) : std::nullopt;
    };
    const std::pair<std::string_view, std::int64_t> whole[] = {
        {"2", 2},
        {"-0.0", 0},
        {"2.0", 2},
        {"1E+3", 1000},
        {"2000e-3", 2},
        {"9223372036854775807", int64Max},
        {"9223372036854775807.0", int64Max},
        {"-9.223372036854775808e18", int64Min},
        {"0.0e999999999999999999", 0}};
    for (const auto& [number, count] : whole)
        EXPECT_EQ(countOf(number), count) << number;
    for (const auto number : {"2.5", "1e-3", "2.0000000000000001", "1e-400", "9223372036854775808",
                              "9223372036854775808.0", "-9223372036854775809", "1e30", "\"2\""}) {
        EXPECT_EQ(countOf(number), std::nullopt) << number;
    }
}

}  // namespace
}  // namespace tessly::testing
