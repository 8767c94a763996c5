#include "thermal/ThermalSampler.h"

#include <cmath>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/sim/ManualClock.h"
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
    sim::ManualClock clock;
    ThermalSampler sampler{services.services(), smc.driver(), clock};
};

TEST(ThermalSamplerClassification, AppleNamesFollowTheFiveTestsInOrder) {
    constexpr std::optional<std::string_view> none;
    const std::pair<std::string_view, std::optional<std::string_view>> cases[] = {
        {"PMU tdie0", "cpuTemperatureC"},
        {"PMU tdie10", "cpuTemperatureC"},
        {"PMU TP0s", "cpuTemperatureC"},
        {"PMU TP1g", "gpuTemperatureC"},
        {"gas gauge battery", "batteryTemperatureC"},
        {"NAND CH0 temp", "storageTemperatureC"},
        {"PMU tdev1", none},
        {"PMU tcal", none},
        {"noname", none},
        {"", none},
        // Earlier tests decide first.
        {"NAND tdie", "cpuTemperatureC"},
        {"tdie TP1g", "cpuTemperatureC"},
        {"battery PMU TP0s", "cpuTemperatureC"},
        {"battery PMU TP0g", "gpuTemperatureC"},
        {"NAND battery", "batteryTemperatureC"},
        // " TP" ending in neither "s" nor "g" goes on to the battery and NAND tests.
        {"PMU TP0x NAND", "storageTemperatureC"},
        {"PMU TP0x battery", "batteryTemperatureC"},
        {"PMU TP0x", none},
        // Only the battery test ignores case.
        {"BATTERY", "batteryTemperatureC"},
        {"Gas Gauge BatTery", "batteryTemperatureC"},
        {"nand ch0", none},
        {"PMU TDIE0", none},
        {"PMU tp0s", none},
        {"PMU TP0S", none},
        {"PMU TP0G", none},
        // " TP" needs its space, and the suffix must be the last character.
        {"PMUTP0s", none},
        {"PMU TP0s ", none},
        {"batter y", none},
    };
    for (const auto& [name, field] : cases) {
        EXPECT_EQ(ThermalSampler::fieldForSensorName(SensorNaming::apple, name), field)
            << '"' << name << '"';
    }
}

TEST(ThermalSamplerClassification, NamingSchemeChoosesTheRules) {
    constexpr std::optional<std::string_view> none;
    const struct {
        SensorNaming naming;
        std::string_view name;
        std::optional<std::string_view> field;
    } cases[] = {
        {SensorNaming::hwmon, "coretemp Package id 0", "cpuTemperatureC"},
        {SensorNaming::hwmon, "amdgpu edge", "gpuTemperatureC"},
        {SensorNaming::hwmon, "power_supply BAT0", "batteryTemperatureC"},
        {SensorNaming::hwmon, "nvme Composite", "storageTemperatureC"},
        // Each scheme's names mean nothing under the other's rules.
        {SensorNaming::hwmon, "PMU tdie0", none},
        {SensorNaming::hwmon, "gas gauge battery", none},
        {SensorNaming::apple, "coretemp Package id 0", none},
        {SensorNaming::apple, "nvme Composite", none},
    };
    for (const auto& [naming, name, field] : cases) {
        EXPECT_EQ(ThermalSampler::fieldForSensorName(naming, name), field) << '"' << name << '"';
    }
}

struct Service {
    std::string_view name;
    std::optional<double> celsius;
};

std::optional<ThermalReading> sampleOnce(const std::vector<Service>& script) {
    sim::ScriptedTemperatureServices services;
    for (const auto& s : script)
        services.add(s.name, s.celsius);
    sim::ManualClock clock;
    ThermalSampler sampler(services.services(), nullptr, clock);
    return sampler.sample();
}

TEST(ThermalSamplerReduction, MaximumForCpuAndGpuMeanForBatteryAndStorage) {
    const double a = 31.1, b = 30.7, c = 32.9;
    const struct {
        const char* what;
        std::vector<Service> services;
        ThermalReading expected;
    } cases[] = {
        {"cpu maximum", {{"PMU tdie0", 50.0}, {"PMU tdie1", 60.0}}, Reading().cpu(60.0)},
        {"cpu maximum, larger first",
         {{"PMU tdie0", 60.0}, {"PMU TP0s", 50.0}},
         Reading().cpu(60.0)},
        {"gpu maximum", {{"PMU TP1g", 42.0}, {"PMU TP2g", 47.5}}, Reading().gpu(47.5)},
        {"battery mean",
         {{"gas gauge battery", 30.0}, {"battery 2", 32.0}},
         Reading().battery(31.0)},
        {"storage mean",
         {{"NAND CH0 temp", 33.0}, {"NAND CH1 temp", 35.0}},
         Reading().storage(34.0)},
        {"mean is the in-order sum over the count",
         {{"NAND a", a}, {"NAND b", b}, {"NAND c", c}},
         Reading().storage((a + b + c) / 3.0)},
        {"no upper bound", {{"PMU tdie0", 1e308}}, Reading().cpu(1e308)},
        {"one huge battery value", {{"battery", 1e308}}, Reading().battery(1e308)},
        {"two huge battery values do not overflow",
         {{"battery", 1e308}, {"battery", 1e308}},
         Reading().battery(1e308)},
        {"two huge storage values do not overflow",
         {{"NAND", 1e308}, {"NAND", 1e308}},
         Reading().storage(1e308)},
        {"huge and small",
         {{"NAND", largest}, {"NAND", largest}, {"NAND", 2.0}},
         Reading().storage(largest / 3.0 * 2.0)},
    };
    for (const auto& [what, script, expected] : cases) {
        EXPECT_EQ(sampleOnce(script), expected) << what;
    }
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
