// The JSON form. The documented examples as exact texts both ways, the rules for writing,
// and tables of what a strict reader accepts and refuses.

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "TestSupport.h"

namespace tessly {
namespace {

using test::sameBits;
using List = std::vector<double>;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// ---- the documented examples --------------------------------------------------------------------

constexpr std::string_view kFullExample =
    R"({"thermal":{"cpuTemperatureC":48.5,"gpuTemperatureC":41.25,"batteryTemperatureC":30.5,)"
    R"("storageTemperatureC":36},"fan":{"rpm":1320,"fanCount":2,"rpms":[1320,1275.5],)"
    R"("minRPM":1000,"maxRPM":4900},"sampledAt":1767225600.5,"helperVersion":"1.4.0"})";

SensorsPayload fullExample() {
    return {
        .thermal = ThermalReading{.cpuTemperatureC = 48.5,
                                  .gpuTemperatureC = 41.25,
                                  .batteryTemperatureC = 30.5,
                                  .storageTemperatureC = 36},
        .fan = FanReading{.rpm = 1320,
                          .fanCount = 2,
                          .rpms = List{1320, 1275.5},
                          .minRPM = 1000,
                          .maxRPM = 4900},
        .sampledAt = 1767225600.5,
        .helperVersion = "1.4.0",
    };
}

TEST(JSONExamples, PayloadWithBothReadingsBothWays) {
    EXPECT_EQ(encodeJSON(fullExample()), kFullExample);
    const auto decoded = decodeSensorsPayload(kFullExample);
    ASSERT_TRUE(decoded);
    EXPECT_TRUE(sameBits(*decoded, fullExample()));
}

TEST(JSONExamples, PayloadWithoutFansOrVersionBothWays) {
    constexpr std::string_view text =
        R"({"thermal":{"cpuTemperatureC":44},"sampledAt":1767225601.5})";
    const SensorsPayload payload{.thermal = ThermalReading{.cpuTemperatureC = 44},
                                 .sampledAt = 1767225601.5};
    EXPECT_EQ(encodeJSON(payload), text);
    const auto decoded = decodeSensorsPayload(text);
    ASSERT_TRUE(decoded);
    EXPECT_TRUE(sameBits(*decoded, payload));
}

TEST(JSONExamples, ControlFilesBothWays) {
    const struct {
        SensorControl control;
        std::string_view text;
    } cases[] = {
        {{.autostart = true}, R"({"autostart":true})"},
        {{.autostart = false, .stopRequestedAt = 1767225700.25},
         R"({"autostart":false,"stopRequestedAt":1767225700.25})"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(encodeJSON(c.control), c.text);
        const auto decoded = decodeSensorControl(c.text);
        ASSERT_TRUE(decoded) << c.text;
        EXPECT_TRUE(sameBits(*decoded, c.control)) << c.text;
    }
}

// ---- writing ----------------------------------------------------------------------------------

TEST(JSONEncoding, OptionalFieldsAreLeftOutAndNestedRecordsAreAlwaysObjects) {
    const struct {
        SensorsPayload payload;
        std::string_view text;
    } cases[] = {
        {{.sampledAt = 0}, R"({"sampledAt":0})"},
        {{.thermal = ThermalReading{}, .sampledAt = 1}, R"({"thermal":{},"sampledAt":1})"},
        {{.fan = FanReading{}, .sampledAt = 1}, R"({"fan":{"rpm":0,"fanCount":0},"sampledAt":1})"},
        {{.fan = FanReading{.rpms = List{}}, .sampledAt = 1},
         R"({"fan":{"rpm":0,"fanCount":0,"rpms":[]},"sampledAt":1})"},
        {{.sampledAt = 2, .helperVersion = ""}, R"({"sampledAt":2,"helperVersion":""})"},
        {{.thermal = ThermalReading{.memoryTemperatureC = 50.5}, .sampledAt = -1.5},
         R"({"thermal":{"memoryTemperatureC":50.5},"sampledAt":-1.5})"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(encodeJSON(c.payload), c.text);
}

TEST(JSONEncoding, NumbersAreWrittenCompactlyAndExactly) {
    const struct {
        double value;
        std::string_view text;
    } cases[] = {
        {36, "36"},  // whole values without a fraction
        {-40, "-40"},
        {0, "0"},
        {-0.0, "-0.0"},  // the sign of zero survives
        {0.1, "0.1"},
        {1767225600.5, "1767225600.5"},
        {9007199254740991.0, "9007199254740991"},  // 2^53 - 1
        {9007199254740992.0, "9.007199254740992e+15"},
        {1e300, "1e+300"},
        {5e-324, "5e-324"},
        {std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
    };
    for (const auto& c : cases) {
        const auto text = encodeJSON(SensorControl{.stopRequestedAt = c.value});
        EXPECT_EQ(text, R"({"autostart":false,"stopRequestedAt":)" + std::string(c.text) + "}");
    }
}

TEST(JSONEncoding, FanCountIsAnInteger) {
    for (const std::int64_t count :
         {std::int64_t{0}, std::int64_t{-3}, std::numeric_limits<std::int64_t>::max(),
          std::numeric_limits<std::int64_t>::min()}) {
        const FanReading fan{.fanCount = count};
        const auto text = encodeJSON(fan);
        EXPECT_EQ(text, R"({"rpm":0,"fanCount":)" + std::to_string(count) + "}");
        const auto back = decodeFanReading(*text);
        ASSERT_TRUE(back);
        EXPECT_EQ(back->fanCount, count);
    }
}

TEST(JSONEncoding, AnyNonFiniteWrittenNumberFailsTheWholeRecord) {
    for (const double bad : {kNaN, kInf, -kInf}) {
        std::vector<void (*)(SensorsPayload&, double)> mutations = {
            [](SensorsPayload& p, double v) { p.thermal->cpuTemperatureC = v; },
            [](SensorsPayload& p, double v) { p.thermal->gpuTemperatureC = v; },
            [](SensorsPayload& p, double v) { p.thermal->memoryTemperatureC = v; },
            [](SensorsPayload& p, double v) { p.thermal->batteryTemperatureC = v; },
            [](SensorsPayload& p, double v) { p.thermal->storageTemperatureC = v; },
            [](SensorsPayload& p, double v) { p.fan->rpm = v; },
            [](SensorsPayload& p, double v) { p.fan->rpms->back() = v; },
            [](SensorsPayload& p, double v) { p.fan->minRPM = v; },
            [](SensorsPayload& p, double v) { p.fan->maxRPM = v; },
            [](SensorsPayload& p, double v) { p.sampledAt = v; },
        };
        for (std::size_t i = 0; i < mutations.size(); ++i) {
            SensorsPayload payload = fullExample();
            mutations[i](payload, bad);
            EXPECT_FALSE(encodeJSON(payload)) << "mutation " << i << " with " << bad;
            if (i < 5) {
                EXPECT_FALSE(encodeJSON(*payload.thermal)) << i;
            } else if (i < 9) {
                EXPECT_FALSE(encodeJSON(*payload.fan)) << i;
            }
        }
        EXPECT_FALSE(encodeJSON(SensorControl{.autostart = true, .stopRequestedAt = bad}));
    }
    // A non-finite value in a field that is not written (none exists) or in an absent optional
    // cannot matter; a NaN hiding in an absent rpms list is impossible by construction.
    EXPECT_TRUE(encodeJSON(SensorsPayload{.sampledAt = 1}));
}

TEST(JSONEncoding, VersionTextIsEscapedAndBadUTF8IsReplacedNotRefused) {
    const struct {
        std::string version;
        std::string_view written;
        std::string_view readBack;
    } cases[] = {
        {"1.4.0 \"beta\" \\ /", R"("1.4.0 \"beta\" \\ /")", "1.4.0 \"beta\" \\ /"},
        {std::string("a\0b\n\t\x1f", 6), R"("a\u0000b\n\t\u001f")",
         std::string_view("a\0b\n\t\x1f", 6)},
        {"caf\xc3\xa9 \xe2\x9c\x93", "\"caf\xc3\xa9 \xe2\x9c\x93\"", "caf\xc3\xa9 \xe2\x9c\x93"},
        {"1.\xff", "\"1.\xef\xbf\xbd\"", "1.\xef\xbf\xbd"},  // one bad byte, one U+FFFD
        {"\xc3", "\"\xef\xbf\xbd\"", "\xef\xbf\xbd"},        // truncated sequence
        {"\xed\xa0\x80", "\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\"",
         "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
    };
    for (const auto& c : cases) {
        const SensorsPayload payload{.sampledAt = 1, .helperVersion = c.version};
        const auto text = encodeJSON(payload);
        ASSERT_TRUE(text) << c.version;
        EXPECT_EQ(*text, R"({"sampledAt":1,"helperVersion":)" + std::string(c.written) + "}");
        const auto back = decodeSensorsPayload(*text);
        ASSERT_TRUE(back) << *text;
        EXPECT_EQ(back->helperVersion, c.readBack);
    }
}

// ---- reading ----------------------------------------------------------------------------------

struct DecodeCase {
    std::string_view text;
    bool accepted;
};

TEST(JSONDecoding, ControlStrictness) {
    const DecodeCase cases[] = {
        {R"({"autostart":true})", true},
        {R"({"autostart":false,"stopRequestedAt":null})", true},
        {R"({"stopRequestedAt":5,"autostart":true})", true},  // any key order
        {R"({"autostart":true,"extra":[1,{"x":null}],"more":"y"})", true},
        {" \n\t{ \"autostart\" : true } \r\n", true},  // whitespace between tokens
        {"\xef\xbb\xbf{\"autostart\":true}", true},    // a byte-order mark is skipped
        {R"({"autostart":true,"stopRequestedAt":-0})", true},
        {"", false},
        {"   ", false},
        {"{", false},
        {R"({"autostart":tru)", false},
        {"null", false},
        {"true", false},
        {"[]", false},
        {R"([{"autostart":true}])", false},
        {R"("{\"autostart\":true}")", false},
        {"{}", false},  // autostart is required
        {R"({"autostart":null})", false},
        {R"({"autostart":1})", false},
        {R"({"autostart":0})", false},
        {R"({"autostart":"true"})", false},
        {R"({"autostart":[true]})", false},
        {R"({"Autostart":true})", false},  // keys are case-sensitive
        {R"({"autostart":true,"stopRequestedAt":"1767225700"})", false},
        {R"({"autostart":true,"stopRequestedAt":true})", false},
        {R"({"autostart":true,"stopRequestedAt":[1]})", false},
        {R"({"autostart":true,"stopRequestedAt":1e400})", false},  // no double holds it
        {R"({"autostart":true,"stopRequestedAt":NaN})", false},
        {R"({"autostart":true,"stopRequestedAt":Infinity})", false},
        {R"({"autostart":true,})", false},
        {R"({'autostart':true})", false},
        {R"({"autostart":true} /* comment */)", false},
        {R"({"autostart":true}{"autostart":true})", false},
        {R"({"autostart":true} x)", false},
        {std::string_view("{\"autostart\":true}\0", 19), false},
        {"{\"autostart\":true,\"x\":\"\xff\"}", false},  // not UTF-8, even in an ignored key
        {R"({"autostart":true,"x":"\ud800"})", false},   // lone surrogate escape
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decodeSensorControl(c.text).has_value(), c.accepted) << c.text;
    }
}

TEST(JSONDecoding, ControlValues) {
    EXPECT_FALSE(
        decodeSensorControl(R"({"autostart":true,"stopRequestedAt":null})")->stopRequestedAt);
    EXPECT_EQ(decodeSensorControl(R"({"autostart":false,"stopRequestedAt":17})")->stopRequestedAt,
              17);
    EXPECT_EQ(decodeSensorControl(R"({"autostart":true,"stopRequestedAt":1.5e3})")->stopRequestedAt,
              1500);
    // A key that occurs twice keeps its last value (the last one wins).
    EXPECT_FALSE(decodeSensorControl(R"({"autostart":true,"autostart":false})")->autostart);
}

TEST(JSONDecoding, PayloadStrictness) {
    const DecodeCase cases[] = {
        {R"({"sampledAt":1})", true},
        {R"({"sampledAt":1,"thermal":null,"fan":null,"helperVersion":null})", true},
        {R"({"sampledAt":1,"thermal":{}})", true},
        {R"({"sampledAt":1,"thermal":{"cpuTemperatureC":null,"gpuTemperatureC":-3}})", true},
        {R"({"sampledAt":1,"fan":{"rpm":1,"fanCount":1}})", true},
        {R"({"sampledAt":1,"fan":{"rpm":1,"fanCount":1,"rpms":null,"minRPM":null}})", true},
        {R"({"sampledAt":1,"fan":{"rpm":1,"fanCount":1,"rpms":[]}})", true},
        {R"({"sampledAt":1,"fan":{"rpm":1,"fanCount":1,"rpms":[1,2.5,3e2,-0.0]}})", true},
        {R"({"sampledAt":1,"fan":{"rpm":1,"fanCount":1,"extra":{"deep":[1]}}})", true},
        {R"({"sampledAt":1,"helperVersion":"\u00e9\ud83d\ude00"})", true},
        {R"({"sampledAt":18446744073709551616})", true},  // beyond 64-bit integers: a double
        {"{}", false},
        {"[]", false},
        {R"([{"sampledAt":1}])", false},
        {R"({"sampledAt":null})", false},
        {R"({"sampledAt":"1767225600.5"})", false},
        {R"({"sampledAt":true})", false},
        {R"({"sampledAt":1,"thermal":5})", false},
        {R"({"sampledAt":1,"thermal":[]})", false},
        {R"({"sampledAt":1,"thermal":"{}"})", false},
        {R"({"sampledAt":1,"thermal":{"cpuTemperatureC":"48.5"}})", false},
        {R"({"sampledAt":1,"thermal":{"storageTemperatureC":false}})", false},
        {R"({"sampledAt":1,"fan":{}})", false},
        {R"({"sampledAt":1,"fan":{"rpm":1}})", false},       // no fanCount
        {R"({"sampledAt":1,"fan":{"fanCount":1}})", false},  // no rpm
        {R"({"sampledAt":1,"fan":{"rpm":null,"fanCount":1}})", false},
        {R"({"sampledAt":1,"fan":{"rpm":1,"fanCount":null}})", false},
        {R"({"sampledAt":1,"fan":{"rpm":"1","fanCount":1}})", false},
        {R"({"sampledAt":1,"fan":{"rpm":1,"fanCount":1,"rpms":[1,null]}})", false},
        {R"({"sampledAt":1,"fan":{"rpm":1,"fanCount":1,"rpms":[1,"2"]}})", false},
        {R"({"sampledAt":1,"fan":{"rpm":1,"fanCount":1,"rpms":[[1]]}})", false},
        {R"({"sampledAt":1,"fan":{"rpm":1,"fanCount":1,"rpms":{}}})", false},
        {R"({"sampledAt":1,"fan":{"rpm":1,"fanCount":1,"rpms":1}})", false},
        {R"({"sampledAt":1,"fan":{"rpm":1,"fanCount":1,"minRPM":"0"}})", false},
        {R"({"sampledAt":1,"fan":{"rpm":1,"fanCount":1,"maxRPM":[]}})", false},
        {R"({"sampledAt":1,"fan":[1,1]})", false},
        {R"({"sampledAt":1,"helperVersion":5})", false},
        {R"({"sampledAt":1,"helperVersion":["1.4"]})", false},
        {"{\"sampledAt\":1,\"helperVersion\":\"\xc3\x28\"}", false},  // not UTF-8
        {std::string_view("\x00\x01\x02\xff\xfe{}", 7), false},       // binary
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decodeSensorsPayload(c.text).has_value(), c.accepted) << c.text;
    }
}

TEST(JSONDecoding, FanCountMustBeWholeAndWithinInt64) {
    const struct {
        std::string_view number;
        std::optional<std::int64_t> count;
    } cases[] = {
        {"2", 2},
        {"-2", -2},
        {"0", 0},
        {"-0", 0},
        {"2.0", 2},
        {"1e3", 1000},
        {"1E+3", 1000},
        {"2000e-3", 2},  // whole in value, whatever the form
        {"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
        {"-9223372036854775808", std::numeric_limits<std::int64_t>::min()},
        {"9.2e18", 9200000000000000000},
        {"2.5", std::nullopt},
        {"-0.5", std::nullopt},
        {"1e-3", std::nullopt},
        {"9.3e18", std::nullopt},
        {"1e30", std::nullopt},
        {"-1e30", std::nullopt},
        {"9223372036854775808", std::nullopt},   // 2^63
        {"18446744073709551615", std::nullopt},  // 2^64 - 1
        {"-9223372036854775809", std::nullopt},
        {"9.223372036854775808e18", std::nullopt},   // 2^63 as a double
        {"-9.223372036854775808e18", std::nullopt},  // -2^63 as a double: refused, see the code
        {"1e400", std::nullopt},
        {"\"2\"", std::nullopt},
        {"true", std::nullopt},
        {"[2]", std::nullopt},
    };
    for (const auto& c : cases) {
        const std::string text = R"({"rpm":0,"fanCount":)" + std::string(c.number) + "}";
        const auto fan = decodeFanReading(text);
        ASSERT_EQ(fan.has_value(), c.count.has_value()) << text;
        if (fan) {
            EXPECT_EQ(fan->fanCount, *c.count) << text;
        }
    }
}

TEST(JSONDecoding, PresentAbsentAndEmptyStayDistinct) {
    const auto absent = decodeFanReading(R"({"rpm":1,"fanCount":1})");
    const auto empty = decodeFanReading(R"({"rpm":1,"fanCount":1,"rpms":[]})");
    const auto nulled = decodeFanReading(R"({"rpm":1,"fanCount":1,"rpms":null})");
    ASSERT_TRUE(absent && empty && nulled);
    EXPECT_FALSE(absent->rpms);
    ASSERT_TRUE(empty->rpms);
    EXPECT_TRUE(empty->rpms->empty());
    EXPECT_FALSE(nulled->rpms);

    const auto thermal = decodeSensorsPayload(R"({"thermal":{},"sampledAt":3})");
    ASSERT_TRUE(thermal && thermal->thermal);
    EXPECT_EQ(*thermal->thermal, ThermalReading{});
    EXPECT_FALSE(thermal->fan);

    const auto negativeZero = decodeFanReading(R"({"rpm":-0.0,"fanCount":0})");
    ASSERT_TRUE(negativeZero);
    EXPECT_TRUE(std::signbit(negativeZero->rpm));
}

TEST(JSONDecoding, NumbersOfEveryJSONFormReadAsTheirValue) {
    const struct {
        std::string_view number;
        double value;
    } cases[] = {
        {"36", 36},
        {"-36", -36},
        {"36.0", 36},
        {"3.6e1", 36},
        {"360E-1", 36},
        {"9223372036854775807", 9223372036854775807.0},
        {"9223372036854775808", 9223372036854775808.0},  // unsigned in the parser, still positive
        {"18446744073709551615", 18446744073709551615.0},
        {"-9223372036854775808", -9223372036854775808.0},
        {"123456789012345678901234567890", 1.2345678901234568e29},
        {"5e-324", 5e-324},
        {"1e-400", 0},  // below the smallest subnormal: rounds to zero
    };
    for (const auto& c : cases) {
        const auto payload = decodeSensorsPayload(R"({"sampledAt":)" + std::string(c.number) + "}");
        ASSERT_TRUE(payload) << c.number;
        EXPECT_TRUE(sameBits(payload->sampledAt, c.value))
            << c.number << " read as " << payload->sampledAt;
    }
}

TEST(JSONDecoding, ARawNULByteAnywhereFails) {
    using namespace std::string_view_literals;
    for (const std::string_view text :
         {"{\"autostart\":true}\0"sv, "{\"autostart\":true}\0junk"sv,
          "{\"autostart\":true,\"x\":\"a\0b\"}"sv, "\0{\"autostart\":true}"sv, "\0\0\0\0"sv}) {
        EXPECT_FALSE(decodeSensorControl(text)) << text.size();
    }
    EXPECT_TRUE(decodeSensorControl(R"({"autostart":true,"x":"a\u0000b"})"));  // escaped is fine
}

TEST(JSONDecoding, EveryProperPrefixOfAValidFileFails) {
    for (std::size_t length = 0; length < kFullExample.size(); ++length) {
        EXPECT_FALSE(decodeSensorsPayload(kFullExample.substr(0, length))) << length;
    }
    EXPECT_TRUE(decodeSensorsPayload(kFullExample));
}

TEST(JSONDecoding, DeepNestingIsRefusedWithoutCrashing) {
    constexpr std::size_t depth = 100000;
    const std::string arrays = std::string(depth, '[') + std::string(depth, ']');
    EXPECT_FALSE(decodeSensorsPayload(arrays));
    const std::string nested = R"({"sampledAt":1,"extra":)" + arrays + "}";
    EXPECT_TRUE(decodeSensorsPayload(nested));  // an ignored key may hold anything valid
}

}  // namespace
}  // namespace tessly
