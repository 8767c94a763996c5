// The built-in simulated machines through the real thermal sampler: what each machine's hardware
// gives, and that its values are a smooth, seeded function of time with load spikes.

#include <gtest/gtest.h>

#include <cmath>

#include "base/ManualClock.h"
#include "platform/sim/SimulatedMachine.h"
#include "thermal/ThermalSampler.h"

namespace tessly::testing {
namespace {

using sim::SimulatedMachine;

bool within(const std::optional<double>& value, double low, double high) {
    return value && *value >= low && *value <= high;
}

TEST(SimulatedMachineTest, EachMachineGivesWhatItsHardwareWould) {
    ManualClock clock;
    for (const auto& info : SimulatedMachine::catalog()) {
        SCOPED_TRACE(info.name);
        auto machine = *SimulatedMachine::make(info.name);
        const auto t = ThermalSampler(machine.temperatureSource(), clock).sample();
        const auto f = machine.fanSource()->readFans();
        ASSERT_TRUE(t);
        EXPECT_TRUE(within(t->cpuTemperatureC, 30, 105));
        if (info.name == "apple-silicon-laptop") {
            EXPECT_TRUE(within(t->memoryTemperatureC, 30, 60) &&
                        within(t->batteryTemperatureC, 25, 40));
            EXPECT_EQ(f->fanCount, 2);
            EXPECT_EQ(f->range(), (RPMRange{1200, 6241}));
        } else if (info.name == "fanless-laptop") {
            EXPECT_FALSE(f);
        } else if (info.name == "intel-desktop") {
            EXPECT_EQ(f->fanCount, 3);
            EXPECT_EQ(std::fmod(f->rpm * 4, 1.0), 0.0);  // quarters of an rpm, as fpe2 keys hold
            EXPECT_FALSE(t->memoryTemperatureC || t->batteryTemperatureC);
        } else {  // broken-sensors: what misbehaves is dropped, what is left is finite
            EXPECT_FALSE(t->gpuTemperatureC || t->batteryTemperatureC);
            EXPECT_EQ(f->rpms->at(1), 0.0);
            EXPECT_FALSE(f->range());
        }
    }
    EXPECT_FALSE(SimulatedMachine::make("toaster"));
}

// The highest CPU temperature of a machine at its current moment, or nothing when its sensors
// cannot be listed.
std::optional<double> cpu(const SimulatedMachine& machine) {
    TemperatureTally tally;
    if (!machine.temperatureSource()->readTemperatures(tally)) return std::nullopt;
    return tally.reading().cpuTemperatureC;
}

TEST(SimulatedMachineTest, ValuesAreASmoothSeededFunctionOfTime) {
    auto walked = *SimulatedMachine::make("apple-silicon-laptop");
    auto jumped = *SimulatedMachine::make("apple-silicon-laptop");
    double previous = *cpu(walked), lowest = previous, highest = previous, largestStep = 0;
    for (int t = 1; t <= 1200; ++t) {
        walked.advanceTo(t);
        const double celsius = *cpu(walked);
        largestStep = std::max(largestStep, std::fabs(celsius - previous));
        lowest = std::min(lowest, celsius);
        highest = std::max(highest, celsius);
        previous = celsius;
    }
    EXPECT_LT(largestStep, 12.0);
    EXPECT_GT(highest - lowest, 25.0);
    jumped.advanceTo(1200);
    EXPECT_EQ(cpu(jumped), cpu(walked));  // the same moment, however it was reached

    auto broken = *SimulatedMachine::make("broken-sensors");
    int failedListings = 0;
    for (int t = 0; t < 120; ++t) {
        broken.advanceTo(t);
        failedListings += cpu(broken) ? 0 : 1;
    }
    EXPECT_GT(failedListings, 5);
    EXPECT_LT(failedListings, 60);
}

}  // namespace
}  // namespace tessly::testing
