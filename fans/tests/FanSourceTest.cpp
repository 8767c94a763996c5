// The fan reading every platform publishes: the highest speed, the count, and the common range.

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <tuple>

#include "fans/FanSource.h"

namespace tessly::testing {
namespace {

using Limit = std::optional<double>;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

// The lowest minimum and the highest maximum of any fan, kept only where min < max.
TEST(FanLimitsTest, TheRangeSpansEveryFanAndNeedsMinBelowMax) {
    using Fan = std::pair<Limit, Limit>;
    const std::tuple<std::vector<Fan>, std::optional<RPMRange>> cases[] = {
        {{{1200, 5000}, {1000, 6000}}, RPMRange{1000, 6000}},
        {{{1200, std::nullopt}, {std::nullopt, 6000}}, RPMRange{1200, 6000}},  // one side each
        {{{1200, std::nullopt}}, std::nullopt},
        {{{3000, 3000}}, std::nullopt},
        {{{4000, 3000}}, std::nullopt},
        {{{nan, 5000}, {1000, inf}}, RPMRange{1000, 5000}},  // what is not finite is passed over
        {{{nan, inf}}, std::nullopt},
        {std::vector<Fan>{}, std::nullopt},
    };
    for (const auto& [fans, range] : cases) {
        FanLimits limits;
        for (const auto& [min, max] : fans)
            limits.add(min, max);
        EXPECT_EQ(limits.range(), range) << fans.size();
    }
}

TEST(FanReadingTest, TheHighestSpeedRepresentsTheFans) {
    EXPECT_FALSE(fanReadingOf({}, RPMRange{1000, 5000}));

    EXPECT_EQ(fanReadingOf({1200, 0, 2400.5, nan}, RPMRange{1000, 5000}),
              (FanReading{.rpm = 2400.5,
                          .fanCount = 4,
                          .rpms = std::vector<double>{1200, 0, 2400.5, 0},
                          .minRPM = 1000,
                          .maxRPM = 5000}));
    EXPECT_EQ(fanReadingOf({0, 0}, std::nullopt),
              (FanReading{.rpm = 0, .fanCount = 2, .rpms = std::vector<double>{0, 0}}));
}

}  // namespace
}  // namespace tessly::testing
