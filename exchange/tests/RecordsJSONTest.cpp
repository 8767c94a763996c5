// The JSON form: the documented examples both ways, the rules for writing, and what a strict
// reader accepts and refuses.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

#include "TestSupport.h"

namespace tessly {
namespace {

using namespace std::string_view_literals;
using test::sameBits;
using List = std::vector<double>;
using Texts = std::initializer_list<std::string_view>;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

constexpr std::string_view kFullExample =
    R"({"thermal":{"cpuTemperatureC":48.5,"gpuTemperatureC":41.25,"batteryTemperatureC":30.5,)"
    R"("storageTemperatureC":36},"fan":{"rpm":1320,"fanCount":2,"rpms":[1320,1275.5],)"
    R"("minRPM":1000,"maxRPM":4900},"sampledAt":1767225600.5,"helperVersion":"1.4.0"})";

SensorsPayload fullExample() {
    return {.thermal = ThermalReading{.cpuTemperatureC = 48.5,
                                      .gpuTemperatureC = 41.25,
                                      .batteryTemperatureC = 30.5,
                                      .storageTemperatureC = 36},
            .fan = FanReading{.rpm = 1320,
                              .fanCount = 2,
                              .rpms = List{1320, 1275.5},
                              .minRPM = 1000,
                              .maxRPM = 4900},
            .sampledAt = 1767225600.5,
            .helperVersion = "1.4.0"};
}

template <class Record>
void expectBothWays(const Record& record, std::string_view text,
                    std::optional<Record> (*decode)(std::string_view) noexcept) {
    EXPECT_EQ(encodeJSON(record), text);
    const auto decoded = decode(text);
    ASSERT_TRUE(decoded) << text;
    EXPECT_TRUE(sameBits(*decoded, record)) << text;
}

TEST(JSONExamples, PayloadsAndControlFilesBothWays) {
    expectBothWays(fullExample(), kFullExample, decodeSensorsPayload);
    expectBothWays(
        SensorsPayload{.thermal = ThermalReading{.cpuTemperatureC = 44}, .sampledAt = 1767225601.5},
        R"({"thermal":{"cpuTemperatureC":44},"sampledAt":1767225601.5})", decodeSensorsPayload);
    expectBothWays(SensorControl{.autostart = true}, R"({"autostart":true})", decodeSensorControl);
    expectBothWays(SensorControl{.autostart = false, .stopRequestedAt = 1767225700.25},
                   R"({"autostart":false,"stopRequestedAt":1767225700.25})", decodeSensorControl);
}

// ---- writing ----------------------------------------------------------------------------------

TEST(JSONEncoding, OptionalFieldsAreLeftOutAndNestedRecordsAreAlwaysObjects) {
    const std::pair<SensorsPayload, std::string_view> cases[] = {
        {{.sampledAt = 0}, R"({"sampledAt":0})"},
        {{.thermal = ThermalReading{}, .sampledAt = 1}, R"({"thermal":{},"sampledAt":1})"},
        {{.fan = FanReading{}, .sampledAt = 1}, R"({"fan":{"rpm":0,"fanCount":0},"sampledAt":1})"},
        {{.fan = FanReading{.rpms = List{}}, .sampledAt = 1},
         R"({"fan":{"rpm":0,"fanCount":0,"rpms":[]},"sampledAt":1})"},
        {{.sampledAt = 2, .helperVersion = ""}, R"({"sampledAt":2,"helperVersion":""})"},
        {{.thermal = ThermalReading{.memoryTemperatureC = 50.5}, .sampledAt = -1.5},
         R"({"thermal":{"memoryTemperatureC":50.5},"sampledAt":-1.5})"},
    };
    for (const auto& [payload, text] : cases)
        EXPECT_EQ(encodeJSON(payload), text);
}

TEST(JSONEncoding, NumbersAreWrittenCompactlyAndExactly) {
    // Each text is the written form of its own value: whole values below 2^53 without a fraction,
    // the sign of zero kept, otherwise the shortest form that reads back exactly.
    for (const std::string text :
         {"36", "-40", "0", "-0.0", "0.1", "1767225600.5", "9007199254740991",
          "9.007199254740992e+15", "1e+300", "5e-324", "1.7976931348623157e+308"}) {
        EXPECT_EQ(encodeJSON(SensorControl{.stopRequestedAt = std::strtod(text.c_str(), nullptr)}),
                  R"({"autostart":false,"stopRequestedAt":)" + text + "}");
    }
}

TEST(JSONEncoding, FanCountIsAnInteger) {
    for (const std::int64_t count : {std::int64_t{0}, std::int64_t{-3}, kMax, kMin}) {
        const auto text = encodeJSON(FanReading{.fanCount = count});
        EXPECT_EQ(text, R"({"rpm":0,"fanCount":)" + std::to_string(count) + "}");
        EXPECT_EQ(decodeFanReading(*text).value().fanCount, count);
    }
}

TEST(JSONEncoding, AnyNonFiniteWrittenNumberFailsTheWholeRecord) {
    using T = ThermalReading;
    for (const double bad : {kNaN, kInf, -kInf}) {
        for (const auto field : {&T::cpuTemperatureC, &T::gpuTemperatureC, &T::memoryTemperatureC,
                                 &T::batteryTemperatureC, &T::storageTemperatureC}) {
            SensorsPayload payload = fullExample();
            (*payload.thermal).*field = bad;
            EXPECT_FALSE(encodeJSON(payload) || encodeJSON(*payload.thermal)) << bad;
        }
        std::vector<FanReading> fans(4, *fullExample().fan);
        fans[0].rpm = bad;
        fans[1].rpms->back() = bad;
        fans[2].minRPM = bad;
        fans[3].maxRPM = bad;
        for (const FanReading& fan : fans) {
            SensorsPayload payload = fullExample();
            payload.fan = fan;
            EXPECT_FALSE(encodeJSON(payload) || encodeJSON(fan)) << bad;
        }
        EXPECT_FALSE(encodeJSON(SensorsPayload{.sampledAt = bad}));
        EXPECT_FALSE(encodeJSON(SensorControl{.autostart = true, .stopRequestedAt = bad}));
    }
}

TEST(JSONEncoding, VersionTextIsEscapedAndBadUTF8IsReplacedNotRefused) {
    // Each bad byte (a stray one, a truncated sequence, an encoded surrogate) becomes one U+FFFD;
    // a replaced text reads back as written.
    const struct {
        std::string version;
        std::string json;
        bool replaced;
    } cases[] = {{"1.4.0 \"beta\" \\ /", R"("1.4.0 \"beta\" \\ /")", false},
                 {std::string("a\0b\n\t\x1f", 6), R"("a\u0000b\n\t\u001f")", false},
                 {"caf\xc3\xa9 \xe2\x9c\x93", "\"caf\xc3\xa9 \xe2\x9c\x93\"", false},
                 {"1.\xff", "\"1.\xef\xbf\xbd\"", true},
                 {"\xc3", "\"\xef\xbf\xbd\"", true},
                 {"\xed\xa0\x80", "\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\"", true}};
    for (const auto& [version, json, replaced] : cases) {
        const auto text = encodeJSON(SensorsPayload{.sampledAt = 1, .helperVersion = version});
        ASSERT_EQ(text, R"({"sampledAt":1,"helperVersion":)" + json + "}");
        EXPECT_EQ(decodeSensorsPayload(*text).value().helperVersion,
                  replaced ? json.substr(1, json.size() - 2) : version);
    }
}

// ---- reading ----------------------------------------------------------------------------------

void expectControls(bool accepted, Texts texts) {
    for (const auto text : texts)
        EXPECT_EQ(decodeSensorControl(text).has_value(), accepted) << text;
}

// Each text is decoded as `open` + text + `close`.
void expectPayloads(bool accepted, Texts texts, std::string_view open = "",
                    std::string_view close = "") {
    for (const auto text : texts) {
        const std::string whole = std::string(open) + std::string(text) + std::string(close);
        EXPECT_EQ(decodeSensorsPayload(whole).has_value(), accepted) << whole;
    }
}
constexpr std::string_view kInPayload = R"({"sampledAt":1,)";
constexpr std::string_view kInFan = R"({"sampledAt":1,"fan":{"rpm":1,"fanCount":1,)";

TEST(JSONDecoding, ControlStrictness) {
    // Any key order, unknown keys, whitespace between tokens, a byte-order mark, a null optional.
    expectControls(true, {R"({"autostart":true})", R"({"autostart":false,"stopRequestedAt":null})",
                          R"({"stopRequestedAt":5,"autostart":true})",
                          R"({"autostart":true,"extra":[1,{"x":null}],"more":"y"})",
                          " \n\t{ \"autostart\" : true } \r\n", "\xef\xbb\xbf{\"autostart\":true}",
                          R"({"autostart":true,"stopRequestedAt":-0})",
                          R"({"autostart":true,"x":"a\u0000b"})"});
    // Not one object; autostart missing, null, not a boolean or under another case.
    expectControls(false,
                   {"", "   ", "{", R"({"autostart":tru)", "null", "true", "[]",
                    R"([{"autostart":true}])", R"("{\"autostart\":true}")", "{}",
                    R"({"autostart":null})", R"({"autostart":1})", R"({"autostart":0})",
                    R"({"autostart":"true"})", R"({"autostart":[true]})", R"({"Autostart":true})"});
    // A stop time that is no number a double holds; not strict JSON; trailing bytes; raw NUL
    // bytes anywhere; bad UTF-8 even in an ignored key; a lone surrogate escape.
    expectControls(
        false, {R"({"autostart":true,"stopRequestedAt":"1767225700"})",
                R"({"autostart":true,"stopRequestedAt":true})",
                R"({"autostart":true,"stopRequestedAt":[1]})",
                R"({"autostart":true,"stopRequestedAt":1e400})",
                R"({"autostart":true,"stopRequestedAt":NaN})",
                R"({"autostart":true,"stopRequestedAt":Infinity})", R"({"autostart":true,})",
                R"({'autostart':true})", R"({"autostart":true} /* comment */)",
                R"({"autostart":true}{"autostart":true})", R"({"autostart":true} x)",
                "{\"autostart\":true}\0"sv, "{\"autostart\":true}\0junk"sv,
                "{\"autostart\":true,\"x\":\"a\0b\"}"sv, "\0{\"autostart\":true}"sv, "\0\0\0\0"sv,
                "{\"autostart\":true,\"x\":\"\xff\"}", R"({"autostart":true,"x":"\ud800"})"});
}

TEST(JSONDecoding, ControlValues) {
    EXPECT_FALSE(decodeSensorControl(R"({"autostart":true,"stopRequestedAt":null})")
                     .value()
                     .stopRequestedAt);
    EXPECT_EQ(
        decodeSensorControl(R"({"autostart":false,"stopRequestedAt":17})").value().stopRequestedAt,
        17);
    EXPECT_EQ(decodeSensorControl(R"({"autostart":true,"stopRequestedAt":1.5e3})")
                  .value()
                  .stopRequestedAt,
              1500);
    // A key that occurs twice keeps its last value.
    EXPECT_FALSE(decodeSensorControl(R"({"autostart":true,"autostart":false})").value().autostart);
}

TEST(JSONDecoding, PayloadStrictness) {
    // Beyond 64-bit integers a number is still a double.
    expectPayloads(true, {R"({"sampledAt":1})", R"({"sampledAt":18446744073709551616})"});
    expectPayloads(true,
                   {R"("thermal":null,"fan":null,"helperVersion":null)", R"("thermal":{})",
                    R"("thermal":{"cpuTemperatureC":null,"gpuTemperatureC":-3})",
                    R"("fan":{"rpm":1,"fanCount":1})", R"("helperVersion":"\u00e9\ud83d\ude00")"},
                   kInPayload, "}");
    expectPayloads(true,
                   {R"("rpms":null,"minRPM":null)", R"("rpms":[])", R"("rpms":[1,2.5,3e2,-0.0])",
                    R"("extra":{"deep":[1]})"},
                   kInFan, "}}");
    expectPayloads(false, {"{}", "[]", R"([{"sampledAt":1}])", R"({"sampledAt":null})",
                           R"({"sampledAt":"1767225600.5"})", R"({"sampledAt":true})",
                           "\x00\x01\x02\xff\xfe{}"sv});
    // A nested record missing a required key, or any member of the wrong type or not UTF-8.
    expectPayloads(
        false,
        {R"("thermal":5)", R"("thermal":[])", R"("thermal":"{}")",
         R"("thermal":{"cpuTemperatureC":"48.5"})", R"("thermal":{"storageTemperatureC":false})",
         R"("fan":{})", R"("fan":{"rpm":1})", R"("fan":{"fanCount":1})",
         R"("fan":{"rpm":null,"fanCount":1})", R"("fan":{"rpm":1,"fanCount":null})",
         R"("fan":{"rpm":"1","fanCount":1})", R"("fan":[1,1])", R"("helperVersion":5)",
         R"("helperVersion":["1.4"])", "\"helperVersion\":\"\xc3\x28\""},
        kInPayload, "}");
    expectPayloads(false,
                   {R"("rpms":[1,null])", R"("rpms":[1,"2"])", R"("rpms":[[1]])", R"("rpms":{})",
                    R"("rpms":1)", R"("minRPM":"0")", R"("maxRPM":[])"},
                   kInFan, "}}");
}

std::optional<std::int64_t> fanCountOf(std::string_view number) {
    const auto fan = decodeFanReading(R"({"rpm":0,"fanCount":)" + std::string(number) + "}");
    return fan ? std::optional(fan->fanCount) : std::nullopt;
}

TEST(JSONDecoding, FanCountMustBeWholeAndWithinInt64) {
    // Whole in value, whatever the form.
    const std::pair<std::string_view, std::int64_t> whole[] = {
        {"2", 2},       {"-2", -2},     {"0", 0},
        {"-0", 0},      {"2.0", 2},     {"1e3", 1000},
        {"1E+3", 1000}, {"2000e-3", 2}, {"9.2e18", 9200000000000000000}};
    for (const auto& [number, count] : whole)
        EXPECT_EQ(fanCountOf(number), count) << number;
    // Judged by the digits written, not by the double they round to.
    for (const std::string_view number : {"9223372036854775807", "9223372036854775807.0",
                                          "9.223372036854775807e18", "922337203685477580700e-2"}) {
        EXPECT_EQ(fanCountOf(number), kMax) << number;
    }
    for (const std::string_view number :
         {"-9223372036854775808", "-9223372036854775808.000", "-9.223372036854775808e18"}) {
        EXPECT_EQ(fanCountOf(number), kMin) << number;
    }
    EXPECT_EQ(fanCountOf("-0.0e5"), 0);
    EXPECT_EQ(fanCountOf("0.000e999999999999999999"), 0);
    for (const std::string_view number : {"2.5",
                                          "-0.5",
                                          "1e-3",
                                          "9.3e18",
                                          "1e30",
                                          "-1e30",
                                          "9223372036854775808",
                                          "9223372036854775808.0",
                                          "18446744073709551615",
                                          "-9223372036854775809",
                                          "9.223372036854775808e18",
                                          "-9.223372036854775809e18",
                                          "2.0000000000000001",
                                          "1e-400",
                                          "-1e-400",
                                          "1e999999999999999999",
                                          "1e400",
                                          "\"2\"",
                                          "true",
                                          "[2]"}) {
        EXPECT_EQ(fanCountOf(number), std::nullopt) << number;
    }
}

TEST(JSONDecoding, PresentAbsentAndEmptyStayDistinct) {
    EXPECT_FALSE(decodeFanReading(R"({"rpm":1,"fanCount":1})").value().rpms);
    EXPECT_FALSE(decodeFanReading(R"({"rpm":1,"fanCount":1,"rpms":null})").value().rpms);
    EXPECT_EQ(decodeFanReading(R"({"rpm":1,"fanCount":1,"rpms":[]})").value().rpms, List{});
    const auto thermal = decodeSensorsPayload(R"({"thermal":{},"sampledAt":3})").value();
    EXPECT_EQ(thermal.thermal, ThermalReading{});
    EXPECT_FALSE(thermal.fan);
    EXPECT_TRUE(std::signbit(decodeFanReading(R"({"rpm":-0.0,"fanCount":0})").value().rpm));
}

TEST(JSONDecoding, NumbersOfEveryJSONFormReadAsTheirValue) {
    // Integers beyond int64 stay positive; below the smallest subnormal rounds to zero.
    for (const std::string number :
         {"36", "-36", "36.0", "3.6e1", "360E-1", "9223372036854775807", "9223372036854775808",
          "18446744073709551615", "-9223372036854775808", "123456789012345678901234567890",
          "5e-324", "1e-400"}) {
        const auto payload = decodeSensorsPayload(R"({"sampledAt":)" + number + "}");
        ASSERT_TRUE(payload) << number;
        EXPECT_TRUE(sameBits(payload->sampledAt, std::strtod(number.c_str(), nullptr)))
            << number << " read as " << payload->sampledAt;
    }
}

TEST(JSONDecoding, EveryProperPrefixOfAValidFileFails) {
    for (std::size_t length = 0; length < kFullExample.size(); ++length)
        EXPECT_FALSE(decodeSensorsPayload(kFullExample.substr(0, length))) << length;
}

TEST(JSONDecoding, DeepNestingIsRefusedWithoutCrashing) {
    const std::string arrays = std::string(100000, '[') + std::string(100000, ']');
    EXPECT_FALSE(decodeSensorsPayload(arrays));
    // An ignored key may hold anything valid.
    EXPECT_TRUE(decodeSensorsPayload(R"({"sampledAt":1,"extra":)" + arrays + "}"));
}

}  // namespace
}  // namespace tessly
