// The records, FanReading's derived values and equality.

#include <cmath>
#include <limits>
#include <string>

#include "TestSupport.h"

namespace tessly {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(Records, DefaultsAreAbsentOrZeroAndDesignatedInitialisersNameOnlyWhatTheySet) {
    const SensorControl control{.autostart = true};
    EXPECT_TRUE(control.autostart);
    EXPECT_FALSE(control.stopRequestedAt);

    const FanReading fan{.rpm = 1200, .fanCount = 2};
    EXPECT_EQ(fan.rpm, 1200);
    EXPECT_EQ(fan.fanCount, 2);
    EXPECT_FALSE(fan.rpms);
    EXPECT_FALSE(fan.minRPM);
    EXPECT_FALSE(fan.maxRPM);

    const SensorsPayload payload{.sampledAt = 5};
    EXPECT_FALSE(payload.thermal);
    EXPECT_FALSE(payload.fan);
    EXPECT_FALSE(payload.helperVersion);
    EXPECT_EQ(ThermalReading{}, ThermalReading{});
}

TEST(Records, CopiesAreIndependent) {
    FanReading original{.rpm = 1, .fanCount = 1, .rpms = std::vector<double>{1, 2}};
    FanReading copy = original;
    copy.rpms->push_back(3);
    copy.rpm = 9;
    EXPECT_EQ(original.rpms->size(), 2u);
    EXPECT_EQ(original.rpm, 1);
}

TEST(FanReadingDerived, IsSpinningOnlyForStrictlyPositiveRPM) {
    const struct {
        double rpm;
        bool spinning;
    } cases[] = {{0, false},     {-0.0, false},
                 {-1, false},    {kNaN, false},
                 {-kInf, false}, {0.01, true},
                 {0.3, true},    {1320, true},
                 {kInf, true},   {std::numeric_limits<double>::denorm_min(), true}};
    for (const auto& c : cases) {
        EXPECT_EQ(FanReading{.rpm = c.rpm}.isSpinning(), c.spinning) << c.rpm;
    }
}

TEST(FanReadingDerived, ShortDescriptionRoundsHalfAwayFromZero) {
    const struct {
        double rpm;
        const char* text;
    } cases[] = {
        {0, "Off"},
        {-0.0, "Off"},
        {-300, "Off"},
        {kNaN, "Off"},
        {-kInf, "Off"},
        {0.3, "0 rpm"},
        {0.4, "0 rpm"},
        {0.5, "1 rpm"},
        {0.49999999999999994, "0 rpm"},  // floor(x + 0.5) would say 1
        {1234.5, "1235 rpm"},
        {2499.5, "2500 rpm"},
        {2499.49, "2499 rpm"},
        {12000, "12000 rpm"},                                // no grouping separator
        {4503599627370497.0, "4503599627370497 rpm"},        // 2^52 + 1: floor(x + 0.5) adds one
        {9223372036854774784.0, "9223372036854774784 rpm"},  // largest double below 2^63
        // Beyond int64 (left to the implementer): the exact digits, returned normally.
        {9223372036854775808.0, "9223372036854775808 rpm"},
        {1e20, "100000000000000000000 rpm"},
        {kInf, "inf rpm"},
        {std::numeric_limits<double>::denorm_min(), "0 rpm"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FanReading{.rpm = c.rpm}.shortDescription(), c.text) << c.rpm;
    }
}

TEST(FanReadingDerived, ShortDescriptionOfTheLargestDoubleIsItsDigits) {
    const std::string text =
        FanReading{.rpm = std::numeric_limits<double>::max()}.shortDescription();
    EXPECT_EQ(text.size(), 309u + 4u);
    EXPECT_EQ(text.substr(0, 6), "179769");
    EXPECT_EQ(text.substr(309), " rpm");
}

TEST(FanReadingDerived, ShortDescriptionShowsOnlyRPM) {
    const FanReading threeFans{
        .rpm = 2000, .fanCount = 3, .rpms = std::vector<double>{2000, 1500, 900}, .minRPM = 100};
    EXPECT_EQ(threeFans.shortDescription(), "2000 rpm");
}

TEST(FanReadingDerived, PerFanRPMs) {
    using List = std::vector<double>;
    auto perFan = [](double rpm, std::int64_t count, std::optional<List> rpms) {
        return FanReading{.rpm = rpm, .fanCount = count, .rpms = std::move(rpms)}.perFanRPMs();
    };
    EXPECT_EQ(perFan(1200, 2, std::nullopt), List{1200});          // absent
    EXPECT_EQ(perFan(1200, 2, List{}), List{1200});                // empty
    EXPECT_EQ(perFan(1200, 1, List{700, 800}), (List{700, 800}));  // unchanged, any length
    EXPECT_EQ(perFan(0, 5, List{3}), List{3});
    // The NaN rpm is carried through as is.
    const auto single = perFan(std::numeric_limits<double>::quiet_NaN(), 0, std::nullopt);
    ASSERT_EQ(single.size(), 1u);
    EXPECT_TRUE(std::isnan(single[0]));
}

TEST(FanReadingDerived, RangeOnlyWhenBothLimitsAndMinBelowMax) {
    const struct {
        std::optional<double> minRPM, maxRPM;
        std::optional<RPMRange> expected;
    } cases[] = {
        {1000, 5000, RPMRange{.min = 1000, .max = 5000}},
        {-5, 0, RPMRange{.min = -5, .max = 0}},
        {1000, 1000, std::nullopt},
        {5000, 1000, std::nullopt},
        {std::nullopt, 5000, std::nullopt},
        {1000, std::nullopt, std::nullopt},
        {std::nullopt, std::nullopt, std::nullopt},
        {kNaN, 5000, std::nullopt},
        {1000, kNaN, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto range = FanReading{.minRPM = c.minRPM, .maxRPM = c.maxRPM}.range();
        EXPECT_EQ(range, c.expected);
    }
}

TEST(RecordEquality, ThermalReadingFieldByField) {
    using T = ThermalReading;
    const struct {
        T a, b;
        bool equal;
    } cases[] = {
        {{}, {}, true},
        {{.cpuTemperatureC = 40}, {.cpuTemperatureC = 40}, true},
        {{.cpuTemperatureC = std::nullopt}, {.cpuTemperatureC = 0}, false},  // absent is not 0
        {{.cpuTemperatureC = 0}, {.cpuTemperatureC = -0.0}, true},           // IEEE: -0 == +0
        {{.cpuTemperatureC = kNaN}, {.cpuTemperatureC = kNaN}, false},       // NaN equals nothing
        {{.gpuTemperatureC = 1}, {.gpuTemperatureC = 2}, false},
        {{.memoryTemperatureC = 1}, {}, false},
        {{.batteryTemperatureC = 30}, {.storageTemperatureC = 30}, false},
        {{.storageTemperatureC = 36}, {.storageTemperatureC = 36}, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.a == c.b, c.equal);
        EXPECT_EQ(c.b == c.a, c.equal);
        EXPECT_EQ(c.a != c.b, !c.equal);
    }
}

TEST(RecordEquality, FanReadingFieldByField) {
    using F = FanReading;
    using List = std::vector<double>;
    const struct {
        F a, b;
        bool equal;
    } cases[] = {
        {{}, {}, true},
        {{.rpm = 1200, .fanCount = 2}, {.rpm = 1200, .fanCount = 2}, true},
        {{.rpm = kNaN}, {.rpm = kNaN}, false},
        {{.rpm = 0}, {.rpm = -0.0}, true},
        {{.fanCount = 1}, {.fanCount = 2}, false},
        {{.rpms = std::nullopt}, {.rpms = List{}}, false},  // absent is not empty
        {{.rpms = List{}}, {.rpms = List{}}, true},
        {{.rpms = List{1, 2}}, {.rpms = List{1, 2}}, true},
        {{.rpms = List{1, 2}}, {.rpms = List{2, 1}}, false},  // order matters
        {{.rpms = List{1}}, {.rpms = List{1, 1}}, false},
        {{.rpms = List{kNaN}}, {.rpms = List{kNaN}}, false},
        {{.minRPM = std::nullopt}, {.minRPM = 0}, false},
        {{.maxRPM = 4900}, {.maxRPM = 4900}, true},
        {{.maxRPM = 4900}, {.maxRPM = 4901}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.a == c.b, c.equal);
        EXPECT_EQ(c.b == c.a, c.equal);
    }
}

}  // namespace
}  // namespace tessly
