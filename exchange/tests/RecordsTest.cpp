// The records: defaults, FanReading's derived values and equality.

#include <cmath>
#include <limits>
#include <string>

#include "TestSupport.h"

namespace tessly {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kDenorm = std::numeric_limits<double>::denorm_min();
using List = std::vector<double>;

TEST(Records, DefaultsAreAbsentOrZero) {
    const FanReading fan{.rpm = 1200};
    EXPECT_EQ(fan.fanCount, 0);
    EXPECT_FALSE(fan.rpms || fan.minRPM || fan.maxRPM);
    const SensorsPayload payload{.sampledAt = 5};
    EXPECT_FALSE(payload.thermal || payload.fan || payload.helperVersion);
    EXPECT_FALSE(SensorControl{}.autostart || SensorControl{}.stopRequestedAt);
    EXPECT_EQ(ThermalReading{}, ThermalReading{});
}

TEST(FanReadingDerived, IsSpinningOnlyForStrictlyPositiveRPM) {
    for (const double rpm : {0.0, -0.0, -1.0, kNaN, -kInf})
        EXPECT_FALSE(FanReading{.rpm = rpm}.isSpinning()) << rpm;
    for (const double rpm : {0.01, 0.3, 1320.0, kInf, kDenorm})
        EXPECT_TRUE(FanReading{.rpm = rpm}.isSpinning()) << rpm;
}

TEST(FanReadingDerived, ShortDescriptionRoundsHalfAwayFromZeroAndShowsOnlyRPM) {
    const std::pair<double, const char*> cases[] = {
        {0, "Off"},
        {-0.0, "Off"},
        {-300, "Off"},
        {kNaN, "Off"},
        {-kInf, "Off"},
        {0.4, "0 rpm"},
        {0.5, "1 rpm"},
        {0.49999999999999994, "0 rpm"},  // floor(x + 0.5) would say 1
        {2499.5, "2500 rpm"},
        {2499.49, "2499 rpm"},
        {12000, "12000 rpm"},                                // no grouping separator
        {4503599627370497.0, "4503599627370497 rpm"},        // 2^52 + 1: floor(x + 0.5) adds one
        {9223372036854774784.0, "9223372036854774784 rpm"},  // largest double below 2^63
        {9223372036854775808.0, "9223372036854775808 rpm"},  // beyond int64: the exact digits
        {1e20, "100000000000000000000 rpm"},
        {kInf, "inf rpm"},
        {kDenorm, "0 rpm"},
    };
    for (const auto& [rpm, text] : cases)
        EXPECT_EQ(FanReading{.rpm = rpm}.shortDescription(), text) << rpm;
    const FanReading threeFans{.rpm = 2000, .fanCount = 3, .rpms = List{2000, 1500}, .minRPM = 1};
    EXPECT_EQ(threeFans.shortDescription(), "2000 rpm");
    const auto largest = FanReading{.rpm = std::numeric_limits<double>::max()}.shortDescription();
    EXPECT_EQ(largest.size(), 309u + 4u);
    EXPECT_TRUE(largest.starts_with("179769") && largest.ends_with(" rpm")) << largest;
}

TEST(FanReadingDerived, PerFanRPMsFallBackToRPMOnlyWhenTheListIsAbsentOrEmpty) {
    auto perFan = [](double rpm, std::optional<List> rpms) {
        return FanReading{.rpm = rpm, .fanCount = 2, .rpms = std::move(rpms)}.perFanRPMs();
    };
    EXPECT_EQ(perFan(1200, std::nullopt), List{1200});
    EXPECT_EQ(perFan(1200, List{}), List{1200});
    EXPECT_EQ(perFan(1200, List{700, 800, 900}), (List{700, 800, 900}));  // any length
    const auto single = perFan(kNaN, std::nullopt);
    ASSERT_EQ(single.size(), 1u);
    EXPECT_TRUE(std::isnan(single[0]));
}

TEST(FanReadingDerived, RangeOnlyWhenBothLimitsAndMinBelowMax) {
    using Opt = std::optional<double>;
    EXPECT_EQ((FanReading{.minRPM = 1000, .maxRPM = 5000}.range()), (RPMRange{1000, 5000}));
    EXPECT_EQ((FanReading{.minRPM = -5, .maxRPM = 0}.range()), (RPMRange{-5, 0}));
    const std::pair<Opt, Opt> none[] = {{1000, 1000},         {5000, 1000}, {std::nullopt, 5000},
                                        {1000, std::nullopt}, {kNaN, 5000}, {1000, kNaN}};
    for (const auto& [min, max] : none)
        EXPECT_EQ((FanReading{.minRPM = min, .maxRPM = max}.range()), std::nullopt);
}

TEST(RecordEquality, IsFieldWiseIEEEWithAbsentAndEmptyDistinct) {
    using T = ThermalReading;
    EXPECT_NE((T{.cpuTemperatureC = std::nullopt}), (T{.cpuTemperatureC = 0}));
    EXPECT_EQ((T{.cpuTemperatureC = 0}), (T{.cpuTemperatureC = -0.0}));
    EXPECT_NE((T{.cpuTemperatureC = kNaN}), (T{.cpuTemperatureC = kNaN}));
    EXPECT_NE((T{.batteryTemperatureC = 30}), (T{.storageTemperatureC = 30}));
    EXPECT_EQ((T{.storageTemperatureC = 36}), (T{.storageTemperatureC = 36}));
    using F = FanReading;
    EXPECT_NE((F{.rpms = std::nullopt}), (F{.rpms = List{}}));
    EXPECT_NE((F{.rpms = List{1, 2}}), (F{.rpms = List{2, 1}}));
    EXPECT_NE((F{.rpms = List{kNaN}}), (F{.rpms = List{kNaN}}));
    EXPECT_NE((F{.fanCount = 1}), (F{.fanCount = 2}));
    EXPECT_NE((F{.minRPM = std::nullopt}), (F{.minRPM = 0}));
    EXPECT_EQ((F{.rpm = 0, .maxRPM = 4900}), (F{.rpm = -0.0, .maxRPM = 4900}));
}

}  // namespace
}  // namespace tessly
