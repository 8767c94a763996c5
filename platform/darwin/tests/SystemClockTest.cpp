#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

#include "platform/darwin/DarwinServices.h"

namespace tessly::darwin {
namespace {

TEST(DarwinSystemClock, WallTimeIsSecondsSince1970AndMonotonicTimeNeverGoesBack) {
    Clock& clock = systemClock();
    EXPECT_EQ(&clock, &systemClock());

    const double before =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    const double wall = clock.wallNow();
    EXPECT_LT(std::abs(wall - before), 5.0);

    double previous = clock.monotonicNow();
    for (int i = 0; i < 1000; ++i) {
        const double now = clock.monotonicNow();
        ASSERT_GE(now, previous);
        previous = now;
    }
}

}  // namespace
}  // namespace tessly::darwin
