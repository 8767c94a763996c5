// Both samplers over one machine's sysfs tree, tick after tick, as the agent runs them.

#include <gtest/gtest.h>

#include "platform/linux/tests/Samplers.h"

namespace tessly::hwmon::testing {
namespace {

constexpr std::string_view laptop = R"(
[class/hwmon/hwmon0]
name = coretemp
temp1_label = Package id 0
temp1_input = 61000
temp2_label = Core 0
temp2_input = 58000
[class/hwmon/hwmon1]
name = amdgpu
temp1_label = edge
temp1_input = 47000
fan1_input = 1500
fan1_min = 0
fan1_max = 3300
[class/hwmon/hwmon2]
name = nvme
temp1_label = Composite
temp1_input = 36850
temp2_label = Sensor 1
temp2_input = 52850
[class/hwmon/hwmon3]
name = jc42
temp1_input = 41500
[class/hwmon/hwmon4]
name = jc42
temp1_input = 44000
[class/hwmon/hwmon5]
name = BAT0
temp1_input = 29000
[class/hwmon/hwmon10]
name = thinkpad
fan1_input = 2900
fan1_min = 1800
fan1_max = 5400
[class/power_supply/BAT0]
type = Battery
scope = System
temp = 298
[class/power_supply/hidpp_battery_0]
type = Battery
scope = Device
temp = 350
)";

TEST(EndToEnd, BothSamplersOverATreeTickAfterTick) {
    SysfsTree tree(laptop);
    Samplers samplers(tree);

    EXPECT_EQ(samplers.thermal.sample(), (ThermalReading{.cpuTemperatureC = 61.0,
                                                         .gpuTemperatureC = 47.0,
                                                         .memoryTemperatureC = 44.0,
                                                         .batteryTemperatureC = 29.8,
                                                         .storageTemperatureC = 36.85}));
    EXPECT_EQ(samplers.fans.sample(), fanReading({1500, 2900}, 0.0, 5400.0));

    // One second on: new speeds, the thermal sampler throttled.
    tree.write("class/hwmon/hwmon10/fan1_input", "3100\n");
    tree.write("class/hwmon/hwmon0/temp2_input", "66000\n");
    tree.write("class/hwmon/hwmon3/temp1_input", "45500\n");
    samplers.clock.advance(1);
    EXPECT_EQ(samplers.thermal.sample(), std::nullopt);
    EXPECT_EQ(samplers.fans.sample(), fanReading({1500, 3100}, 0.0, 5400.0));

    // The GPU goes to sleep: its readings fail; the limits stay as first read.
    tree.reader().failReads(tree.path("class/hwmon/hwmon1/temp1_input"), EINVAL);
    tree.reader().failReads(tree.path("class/hwmon/hwmon1/fan1_input"), EIO);
    tree.write("class/hwmon/hwmon10/fan1_max", "6000\n");
    samplers.clock.advance(1);
    EXPECT_EQ(samplers.thermal.sample(), (ThermalReading{.cpuTemperatureC = 66.0,
                                                         .memoryTemperatureC = 45.5,
                                                         .batteryTemperatureC = 29.8,
                                                         .storageTemperatureC = 36.85}));
    EXPECT_EQ(samplers.fans.sample(), fanReading({0, 3100}, 0.0, 5400.0));

    // The thinkpad chip is unbound: its fan reads as 0 from now on, the count stays.
    tree.reader().clearFaults();
    tree.remove("class/hwmon/hwmon10");
    tree.reader().deviceGone(tree.path("class/hwmon/hwmon10"));
    samplers.clock.advance(2);
    EXPECT_EQ(samplers.fans.sample(), fanReading({1500, 0}, 0.0, 5400.0));
    EXPECT_EQ(samplers.fans.sample(), fanReading({1500, 0}, 0.0, 5400.0));
    EXPECT_TRUE(samplers.thermal.sample());
}

TEST(EndToEnd, AContainerHasNoFansAndAnEmptyThermalReading) {
    SysfsTree tree;
    Samplers samplers(tree);
    EXPECT_EQ(samplers.thermal.sample(), ThermalReading{});
    EXPECT_EQ(samplers.fans.sample(), std::nullopt);
}

TEST(EndToEnd, SteadySamplingCostsOnePreadPerValue) {
    SysfsTree tree(laptop);
    Samplers samplers(tree);
    ASSERT_TRUE(samplers.thermal.sample());
    ASSERT_TRUE(samplers.fans.sample());
    tree.reader().clearCounts();
    samplers.clock.advance(2);
    ASSERT_TRUE(samplers.thermal.sample());
    ASSERT_TRUE(samplers.fans.sample());
    // coretemp 2, amdgpu 1, nvme Composite 1, power supply BAT0 1, memory 2, fans 2.
    EXPECT_EQ(tree.reader().reads(), 9u);
    EXPECT_EQ(tree.reader().opens(), 0u);
    EXPECT_EQ(tree.reader().listings(), 0u);
}

}  // namespace
}  // namespace tessly::hwmon::testing
