// The wall clock set back and forth by an hour between ticks (an administrator, a time sync, a
// time-zone mistake): sampling follows the monotonic clock and never freezes, every payload is
// stamped with the wall clock as it is, and stop requests are judged against the launch time
// alone, wherever "now" happens to be.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include <TesslyKit/RecordsJSON.h>
#include <TesslyKit/SensorBridge.h>

#include "agent/SensorsAgent.h"
#include "agent/tests/ScriptedMachine.h"
#include "testing/Scratch.h"

namespace tessly {
namespace {

constexpr double kHour = 3600.0;

class ClockJumpTest : public ::testing::Test, protected testing::ScriptedMachine {
  protected:
    testing::TempDir dir;
    testing::ScopedEnv home{"HOME", dir.path().string()};
    std::filesystem::path container =
        dir / ("Library/Group Containers/" + std::string(SensorBridge::groupID));

    std::shared_ptr<SensorsAgent> agent;

    void launch() {
        host = sim::HandDrivenHost{};
        agent = makeAgent();
        host.run();
    }

    // One tick a second after the previous one, with the wall clock then moved by `jump`.
    void tickAfterJump(double jump) {
        clock.advance(SensorsAgent::tickInterval);
        clock.setWall(clock.wallNow() + jump);
        host.fire();
    }

    std::optional<SensorsPayload> published() const {
        return decodeSensorsPayload(testing::readFile(container / "sensors.json"));
    }
};

TEST_F(ClockJumpTest, ReadingsKeepComingAndAreStampedWithTheWallClockAsItJumps) {
    services.setTemperature(0, 60.0);  // above every other CPU sensor, so it is the maximum
    launch();
    const double launchedAt = agent->launchedAt();
    // The wall clock jumps an hour back, then an hour forward, on alternate ticks: the monotonic
    // clock runs on, one second a tick.
    for (int tick = 1; tick <= 40; ++tick) {
        SCOPED_TRACE("tick " + std::to_string(tick));
        const double celsius = 60.0 + tick;  // a new CPU temperature every tick
        services.setTemperature(0, celsius);
        fanSMC.setFloat("F0Ac", static_cast<float>(1000 + tick));
        tickAfterJump(tick % 2 == 1 ? -kHour : kHour);

        const auto payload = published();
        ASSERT_TRUE(payload);
        EXPECT_EQ(payload->sampledAt, clock.wallNow());  // shown unfiltered
        ASSERT_TRUE(payload->fan);
        EXPECT_EQ(payload->fan->rpm, 1000 + tick);  // every tick
        ASSERT_TRUE(payload->thermal);
        // The thermal sampler yields every other tick (2 s apart on the monotonic clock): the
        // reading is this tick's or the previous tick's, never one from before the jumps.
        const double cpu = payload->thermal->cpuTemperatureC.value_or(0);
        EXPECT_TRUE(cpu == celsius || cpu == celsius - 1) << cpu;
    }
    EXPECT_EQ(agent->launchedAt(), launchedAt);  // stamped once, never moved
    EXPECT_EQ(host.terminateRequests, 0);
}

TEST_F(ClockJumpTest, StopRequestsAreJudgedAgainstTheLaunchTimeWhereverTheClockIs) {
    struct Case {
        double jump;          // the wall clock's offset from launch time when the request comes
        double requestAfter;  // stopRequestedAt minus launchedAt
        bool stops;
    };
    const Case cases[] = {
        // Clock set back: a request after launch stops, though it lies in the "future"...
        {-kHour, +0.001, true},
        {-kHour, +kHour, true},
        // ...one at or before launch does not, though it is newer than "now".
        {-kHour, 0.0, false},
        {-kHour, -1.0, false},
        {-kHour, -kHour + 1, false},
        // Clock set forward: a request after launch stops, however old it looks to "now"...
        {+kHour, +1.0, true},
        // ...and one before launch stays without effect, however recent.
        {+kHour, -0.001, false},
        {+kHour, -kHour, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("clock " + std::to_string(c.jump) + " s, request " +
                     std::to_string(c.requestAfter) + " s after launch");
        std::filesystem::remove_all(container);
        launch();
        const double launchedAt = agent->launchedAt();
        tickAfterJump(c.jump);
        SensorBridge::writeControl(
            {.autostart = false, .stopRequestedAt = launchedAt + c.requestAfter});
        tickAfterJump(0);
        EXPECT_EQ(host.terminateRequests, c.stops ? 1 : 0);
        // The clock jumps back to where it was: the verdict does not change with it.
        tickAfterJump(-c.jump);
        EXPECT_EQ(host.terminateRequests, c.stops ? 2 : 0);
        EXPECT_EQ(agent->launchedAt(), launchedAt);
        clock.setWall(launchedAt + 10);  // the next agent launches a little later
    }
}

}  // namespace
}  // namespace tessly
