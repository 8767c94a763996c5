#include "thermal/TemperatureCategory.h"
#include "thermal/ThermalSampler.h"

#include <cmath>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/ManualClock.h"
#include "platform/sim/ScriptedSMC.h"
#include "platform/sim/ScriptedTemperatureServices.h"
#include "thermal/tests/ThermalTestSupport.h"

namespace tessly {

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double largest = std::numeric_limits<double>::max();

// A sampler over scripted services, a scripted SMC and a manual clock, all kept by the test.
class ThermalSamplerTest : public ::testing::Test {
  protected:
    sim::ScriptedTemperatureServices services;
    sim::ScriptedSMC smc;
    ManualClock clock;
    ThermalSampler sampler{services.services(), smc.driver(), clock};
};

void expectField(SensorNaming naming, std::optional<std::string_view> field,
                 std::initializer_list<std::string_view> names) {
    for (const auto name : names)
        EXPECT_EQ(payloadFieldOf(naming, name), field) << '"' << name << '"';
}

TEST(ThermalSamplerClassification, AppleNamesFollowTheFiveTestsInOrder) {
    constexpr auto apple = SensorNaming::apple;
    // Earlier tests decide first; a " TP" name ending in neither "s" nor "g" goes on to the
    // battery and NAND tests.
    expectField(
        apple, "cpuTemperatureC",
        {"PMU tdie0", "PMU tdie10", "PMU TP0s", "NAND tdie", "tdie TP1g", "battery PMU TP0s"});
    expectField(apple, "gpuTemperatureC", {"PMU TP1g", "battery PMU TP0g"});
    expectField(apple, "batteryTemperatureC",
                {"gas gauge battery", "NAND battery", "PMU TP0x battery", "BATTERY",
                 "Gas Gauge BatTery"});  // only the battery test ignores case
    expectField(apple, "storageTemperatureC", {"NAND CH0 temp", "PMU TP0x NAND"});
    // No category; other tests are case-sensitive; " TP" needs its space and the suffix must be
    // the last character.
    expectField(apple, std::nullopt,
                {"PMU tdev1", "PMU tcal", "noname", "", "PMU TP0x", "nand ch0", "PMU TDIE0",
                 "PMU tp0s", "PMU TP0S", "PMU TP0G", "PMUTP0s", "PMU TP0s ", "batter y"});
}

TEST(ThermalSamplerClassification, NamingSchemeChoosesTheRules) {
    const auto hwmon = SensorNaming::hwmon;
    expectField(hwmon, "cpuTemperatureC", {"coretemp Package id 0"});
    expectField(hwmon, "gpuTemperatureC", {"amdgpu edge"});
    expectField(hwmon, "batteryTemperatureC", {"power_supply BAT0"});
    expectField(hwmon, "storageTemperatureC", {"nvme Composite"});
    // Each scheme's names mean nothing under the other's rules.
    expectField(hwmon, std::nullopt, {"PMU tdie0", "gas gauge battery"});
    expectField(SensorNaming::apple, std::nullopt, {"coretemp Package id 0", "nvme Composite"});
}

struct Service {
    std::string_view name;
    std::optional<double> celsius;
};

std::optional<ThermalReading> sampleOnce(const std::vector<Service>& script) {
    sim::ScriptedTemperatureServices services;
    for (const auto& s : script)
        services.add(s.name, s.celsius);
    ManualClock clock;
    ThermalSampler sampler(services.services(), nullptr, clock);
    return sampler.sample();
}

TEST(ThermalSamplerReduction, MaximumForCpuAndGpuMeanForBatteryAndStorage) {
    const double a = 31.1, b = 30.7, c = 32.9;
    // The mean is the in-order sum over the count, without overflow for huge values.
    const std::pair<std::vector<Service>, ThermalReading> cases[] = {
        {{{"PMU tdie0", 50.0}, {"PMU tdie1", 60.0}}, Reading().cpu(60.0)},
        {{{"PMU tdie0", 60.0}, {"PMU TP0s", 50.0}}, Reading().cpu(60.0)},
        {{{"PMU TP1g", 42.0}, {"PMU TP2g", 47.5}}, Reading().gpu(47.5)},
        {{{"gas gauge battery", 30.0}, {"battery 2", 32.0}}, Reading().battery(31.0)},
        {{{"NAND CH0 temp", 33.0}, {"NAND CH1 temp", 35.0}}, Reading().storage(34.0)},
        {{{"NAND a", a}, {"NAND b", b}, {"NAND c", c}}, Reading().storage((a + b + c) / 3.0)},
        {{{"PMU tdie0", 1e308}}, Reading().cpu(1e308)},
        {{{"battery", 1e308}}, Reading().battery(1e308)},
        {{{"battery", 1e308}, {"battery", 1e308}}, Reading().battery(1e308)},
        {{{"NAND", 1e308}, {"NAND", 1e308}}, Reading().storage(1e308)},
        {{{"NAND", largest}, {"NAND", largest}, {"NAND", 2.0}},
         Reading().storage(largest / 3.0 * 2.0)},
    };
    for (const auto& [script, expected] : cases)
        EXPECT_EQ(sampleOnce(script), expected) << script.front().name;
}

TEST(ThermalSamplerReduction, OnlyFinitePositiveValuesCount) {
    for (const double bad : {0.0, -0.0, -5.0, -largest, nan, inf, -inf}) {
        EXPECT_EQ(
            sampleOnce({{"PMU tdie0", bad}, {"PMU TP1g", bad}, {"battery", bad}, {"NAND", bad}}),
            ThermalReading{})
            << bad;
        // A dropped value neither wins the maximum nor counts towards the mean.
        EXPECT_EQ(sampleOnce({{"PMU tdie0", 50.0},
                              {"PMU tdie1", bad},
                              {"battery", 30.0},
                              {"battery", bad},
                              {"battery", 32.0}}),
                  Reading().cpu(50.0).battery(31.0))
            << bad;
    }
}

TEST_F(ThermalSamplerTest, AppleSiliconLaptopReadsOnlyClassifiedTemperatures) {
    services = sim::ScriptedTemperatureServices::appleSiliconLaptop();
    ThermalSampler laptop(services.services(), smc.driver(), clock);
    smc.setFloat("TRD0", 41.5f).setFloat("TRDb", 44.0f);

    EXPECT_EQ(laptop.sample(),
              Reading().cpu(51.5).gpu(43.5).memory(44.0).battery(30.5).storage(35.0));
    ASSERT_EQ(services.serviceCount(), 18u);
    for (std::size_t i = 0; i < services.serviceCount(); ++i) {
        EXPECT_EQ(services.nameReads(i), 1u) << i;
    }
    // "PMU tdev1", "PMU tcal" and "noname" fall in no category: their temperature is never read.
    EXPECT_EQ(services.temperatureReads(), 15u);
    for (const std::size_t ignored : {13u, 14u, 17u}) {
        EXPECT_EQ(services.temperatureReads(ignored), 0u) << ignored;
    }
}

TEST_F(ThermalSamplerTest, ServicesAreClassifiedUnderTheirOwnNaming) {
    services.setNaming(SensorNaming::hwmon);
    services.add("coretemp Core 0", 55.0);
    const auto apple = services.add("PMU tdie0", 60.0);
    EXPECT_EQ(sampler.sample(), Reading().cpu(55.0));
    EXPECT_EQ(services.temperatureReads(apple), 0u);
}

TEST_F(ThermalSamplerTest, ServicesWithoutNameOrTemperatureAreSkipped) {
    const auto unnamed = services.addWithoutName(70.0);
    const auto notAString = services.addWithNonStringName(71.0);
    const auto silent = services.add("PMU tdie0", std::nullopt);
    services.add("NAND CH0 temp", 36.0);

    EXPECT_EQ(sampler.sample(), Reading().storage(36.0));
    EXPECT_EQ(services.nameReads(unnamed), 1u);
    EXPECT_EQ(services.temperatureReads(unnamed), 0u);
    EXPECT_EQ(services.temperatureReads(notAString), 0u);
    EXPECT_EQ(services.temperatureReads(silent), 1u);
}

TEST_F(ThermalSamplerTest, ValuesAreReadAfreshOnEveryReading) {
    const auto die = services.add("PMU tdie0", 50.0);
    EXPECT_EQ(sampler.sample(), Reading().cpu(50.0));

    services.setTemperature(die, 55.0);
    clock.advance(2.0);
    EXPECT_EQ(sampler.sample(), Reading().cpu(55.0));

    services.setName(die, "gas gauge battery");
    clock.advance(2.0);
    EXPECT_EQ(sampler.sample(), Reading().battery(55.0));
}

TEST_F(ThermalSamplerTest, UnlistableServicesGiveNothingAndNoMemoryRead) {
    services.add("PMU tdie0", 50.0);
    smc.setFloat("TRD0", 40.0f);
    services.failListing();

    EXPECT_EQ(sampler.sample(), std::nullopt);
    EXPECT_EQ(smc.keyInfoCount(), 0u);

    // The failed call still counts for the throttle.
    services.failListing(false);
    clock.advance(1.0);
    EXPECT_EQ(sampler.sample(), std::nullopt);
    EXPECT_EQ(services.listings(), 1u);

    clock.advance(1.0);
    EXPECT_EQ(sampler.sample(), Reading().cpu(50.0).memory(40.0));
}

TEST_F(ThermalSamplerTest, EmptyListingGivesPresentReadingWithMemoryTemperature) {
    smc.setFloat("TRDX", 45.0f);
    EXPECT_EQ(sampler.sample(), Reading().memory(45.0));
}

TEST_F(ThermalSamplerTest, WithoutServicesNothingIsEverRead) {
    ThermalSampler bare(nullptr, smc.driver(), clock);
    smc.setFloat("TRD0", 40.0f);
    for (int call = 0; call < 3; ++call) {
        EXPECT_EQ(bare.sample(), std::nullopt);
        clock.advance(2.0);
    }
    EXPECT_EQ(smc.keyInfoCount(), 0u);
}

TEST_F(ThermalSamplerTest, ThrottleAcceptsOneCallPerIntervalOnTheMonotonicClock) {
    services.add("PMU tdie0", 50.0);
    // Seconds since the previous call, and whether the call yields a reading.
    const std::pair<double, bool> calls[] = {
        {0.0, true},   // the first call is never throttled
        {1.0, false},  // a throttled call leaves the last accepted time in place...
        {1.0, true},   // ...so exactly 2.0 s after the first call samples again
        {1.75, false}, {0.25, true}, {0.0, false},
    };
    std::size_t readings = 0;
    for (const auto& [elapsed, sampled] : calls) {
        clock.advance(elapsed);
        EXPECT_EQ(sampler.sample().has_value(), sampled) << "after " << elapsed << " s";
        if (sampled) ++readings;
        EXPECT_EQ(services.listings(), readings);
    }
}

TEST_F(ThermalSamplerTest, SettingTheWallClockNeitherDelaysNorHastensReadings) {
    ASSERT_TRUE(sampler.sample());

    clock.setWall(clock.wallNow() - 3600.0);
    clock.advance(2.0);
    EXPECT_TRUE(sampler.sample()) << "wall clock set back an hour";

    clock.setWall(clock.wallNow() + 7200.0);
    EXPECT_FALSE(sampler.sample()) << "wall clock set forward, no time passed";
    clock.advance(2.0);
    EXPECT_TRUE(sampler.sample());
}

TEST(ThermalSamplerDefaults, SecondImmediateCallIsThrottled) {
    ThermalSampler sampler;
    sampler.sample();
    EXPECT_EQ(sampler.sample(), std::nullopt);
}

}  // namespace
}  // namespace tessly
