// Temperatures: which service feeds which field under each naming scheme, which hwmon inputs a
// chip contributes, and the sampler's throttle, reductions and memory keys over scripted
// services, a scripted SMC and a manual clock.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "base/ManualClock.h"
#include "platform/sim/ScriptedSMC.h"
#include "platform/sim/ScriptedTemperatureServices.h"
#include "thermal/HwmonContribution.h"
#include "thermal/TemperatureCategory.h"
#include "thermal/ThermalSampler.h"

namespace tessly::testing {
namespace {

using Field = std::optional<std::string_view>;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

TEST(TemperatureCategoryTest, EachNamingSchemeHasItsOwnRules) {
    const std::tuple<SensorNaming, std::string_view, Field> cases[] = {
        // Apple: the first of five ordered tests decides.
        {SensorNaming::apple, "PMU tdie10", "cpuTemperatureC"},
        {SensorNaming::apple, "PMU TP0s", "cpuTemperatureC"},
        {SensorNaming::apple, "tdie TP1g", "cpuTemperatureC"},
        {SensorNaming::apple, "PMU TP1g", "gpuTemperatureC"},
        {SensorNaming::apple, "PMU TP0x battery", "batteryTemperatureC"},
        {SensorNaming::apple, "Gas Gauge BatTery", "batteryTemperatureC"},
        {SensorNaming::apple, "NAND CH0 temp", "storageTemperatureC"},
        {SensorNaming::apple, "nand CH0", std::nullopt},
        {SensorNaming::apple, "PMU tdev1", std::nullopt},
        {SensorNaming::apple, "coretemp Core 0", std::nullopt},
        // hwmon: the chip alone decides, by its exact name.
        {SensorNaming::hwmon, "coretemp Package id 0", "cpuTemperatureC"},
        {SensorNaming::hwmon, "k10temp Tctl", "cpuTemperatureC"},
        {SensorNaming::hwmon, "amdgpu junction", "gpuTemperatureC"},
        {SensorNaming::hwmon, "nvme Composite", "storageTemperatureC"},
        {SensorNaming::hwmon, "drivetemp temp1", "storageTemperatureC"},
        {SensorNaming::hwmon, "BAT0 temp1", "batteryTemperatureC"},
        {SensorNaming::hwmon, "power_supply BAT1", "batteryTemperatureC"},
        {SensorNaming::hwmon, "hidpp_battery_2 temp1", std::nullopt},
        {SensorNaming::hwmon, "k10temp_x Tdie", std::nullopt},
        {SensorNaming::hwmon, "acpitz temp1", std::nullopt},
        {SensorNaming::hwmon, "PMU tdie0", std::nullopt},
    };
    for (const auto& [naming, name, field] : cases)
        EXPECT_EQ(payloadFieldOf(naming, name), field) << name;
}

TEST(TemperatureCategoryTest, AChipContributesWhatItsOtherInputsLeave) {
    using hwmon::TemperatureUse;
    using Labels = std::vector<std::string>;
    const Labels zen2{"Tctl", "Tdie"}, zen3{"Tctl", "Tccd1"}, nvme{"Composite", "Sensor 1"},
        one{"temp1"};
    const std::tuple<std::string_view, std::string_view, const Labels&, bool, TemperatureUse>
        cases[] = {
            {"k10temp", "Tctl", zen2, false, TemperatureUse::leftOut},
            {"zenpower", "Tctl", zen2, false, TemperatureUse::leftOut},
            {"k10temp", "Tctl", zen3, false, TemperatureUse::service},  // no Tdie: Tctl is it
            {"nvme", "Sensor 1", nvme, false, TemperatureUse::leftOut},
            {"nvme", "temp1", one, false, TemperatureUse::service},
            {"BAT0", "temp1", one, true, TemperatureUse::leftOut},  // its supply gives it
            {"BAT0", "temp1", one, false, TemperatureUse::service},
            {"jc42", "temp1", one, false, TemperatureUse::memoryKey},
            {"spd5118", "temp1", one, false, TemperatureUse::memoryKey},
            {"acpitz", "temp1", one, false, TemperatureUse::service},
        };
    for (const auto& [chip, label, labels, supplyGives, use] : cases)
        EXPECT_EQ(hwmon::temperatureContribution(chip, label, labels, supplyGives).use, use)
            << chip << ' ' << label;
    EXPECT_TRUE(hwmon::supplyContribution("Battery", "System", true).presented);
    EXPECT_FALSE(hwmon::supplyContribution("Battery", "Device", true).presented);  // a mouse
    EXPECT_FALSE(hwmon::supplyContribution("Battery", std::nullopt, false).presented);
    EXPECT_FALSE(hwmon::supplyContribution("Mains", std::nullopt, true).presented);
}

// SoC thermal zones under the names the kernel's device trees give them (hwmon writes '-' as
// '_'): what each zone's chip feeds, as discovery and the sampler decide it.
TEST(TemperatureCategoryTest, SocThermalZonesFeedWhatTheirNamesSay) {
    constexpr std::string_view cpu = "cpuTemperatureC", gpu = "gpuTemperatureC",
                               memory = "a memory key", nothing = "nothing";
    const std::vector<std::string> one{"temp1"};
    const auto feeds = [&](std::string_view chip) {
        if (hwmon::temperatureContribution(chip, "temp1", one, false).use ==
            hwmon::TemperatureUse::memoryKey) {
            return memory;
        }
        return payloadFieldOf(SensorNaming::hwmon, std::string(chip) + " temp1").value_or(nothing);
    };
    const std::pair<std::string_view, std::string_view> cases[] = {
        // Rockchip RK3588, vendor kernel; mainline names bigcore2 and package.
        {"soc_thermal", cpu},
        {"bigcore0_thermal", cpu},
        {"bigcore1_thermal", cpu},
        {"bigcore2_thermal", cpu},
        {"littlecore_thermal", cpu},
        {"center_thermal", nothing},
        {"gpu_thermal", gpu},
        {"npu_thermal", nothing},
        {"package_thermal", nothing},
        // Qualcomm: MSM8916, SC7180/SC7280.
        {"cpu0_1_thermal", cpu},
        {"cpu2_3_thermal", cpu},
        {"cpu0_thermal", cpu},
        {"cpu11_thermal", cpu},
        {"cpuss0_thermal", cpu},
        {"gpuss0_thermal", gpu},
        {"gpuss1_thermal", gpu},
        {"ddr_thermal", memory},
        {"mem_thermal", memory},
        {"modem_thermal", nothing},
        {"modem0_thermal", nothing},
        {"mdm_core_thermal", nothing},
        {"camera_thermal", nothing},
        {"aoss0_thermal", nothing},
        {"q6_hvx_thermal", nothing},
        {"video_thermal", nothing},
        {"pm8916_thermal", nothing},
        // Allwinner, Amlogic, NXP i.MX and Layerscape.
        {"cpu_thermal", cpu},
        {"ve_thermal", nothing},
        {"core_thermal", cpu},
        {"ddr_ctrler_thermal", memory},
        // MediaTek MT8186/MT8195, Samsung Exynos (whose GPU zone, g3d, names no GPU).
        {"cpu_little0_thermal", cpu},
        {"cpu_big0_thermal", cpu},
        {"gpu1_thermal", gpu},
        {"adsp_thermal", nothing},
        {"cpucl2_thermal", cpu},
        {"g3d_thermal", nothing},
        // Not zones: only the "_thermal" suffix, in the kernel's lower case, makes one.
        {"_thermal", nothing},
        {"cpu_thermal_zone", nothing},
        {"CPU_thermal", nothing},
        {"memory", nothing},
    };
    for (const auto& [chip, field] : cases)
        EXPECT_EQ(feeds(chip), field) << chip;
}

class ThermalSamplerTest : public ::testing::Test {
  protected:
    sim::ScriptedTemperatureServices services;
    sim::ScriptedSMC smc;
    ManualClock clock;

    ThermalSampler sampler() { return ThermalSampler(services.services(), smc.driver(), clock); }
};

// CPU and GPU report the highest value, battery and storage the mean; only finite values above
// 0 count, and a dropped value neither wins nor counts.
TEST_F(ThermalSamplerTest, CategoriesReduceByMaximumOrMean) {
    for (const auto& [name, celsius] :
         std::initializer_list<std::pair<const char*, double>>{{"PMU tdie0", 50},
                                                               {"PMU tdie1", 60},
                                                               {"PMU TP1g", 42},
                                                               {"PMU TP2g", 47.5},
                                                               {"gas gauge battery", 30},
                                                               {"battery 2", 33},
                                                               {"NAND CH0", 33},
                                                               {"NAND CH1", 35},
                                                               {"NAND CH2", 0},
                                                               {"battery 3", nan},
                                                               {"battery 4", -5},
                                                               {"PMU TP3g", inf}}) {
        services.add(name, celsius);
    }
    services.add("PMU tdie3", std::nullopt);
    services.addWithoutName(99);
    EXPECT_EQ(sampler().sample(), (ThermalReading{.cpuTemperatureC = 60,
                                                  .gpuTemperatureC = 47.5,
                                                  .batteryTemperatureC = 31.5,
                                                  .storageTemperatureC = 34}));
    // Huge values stay finite: the mean of two of the largest doubles is the largest.
    sim::ScriptedTemperatureServices huge;
    huge.add("battery", std::numeric_limits<double>::max());
    huge.add("battery", std::numeric_limits<double>::max());
    EXPECT_EQ(ThermalSampler(huge.services(), nullptr, clock).sample()->batteryTemperatureC,
              std::numeric_limits<double>::max());
}

// One reading per minimumInterval on the monotonic clock: setting the wall clock neither
// delays nor hastens it. Names are read first, temperatures only of services that count.
TEST_F(ThermalSamplerTest, TheThrottleFollowsTheMonotonicClock) {
    services.add("PMU tdie0", 50);
    services.add("PMU tdev1", 38);
    auto thermal = sampler();
    ASSERT_TRUE(thermal.sample());
    EXPECT_EQ(services.temperatureReads(1), 0u);
    clock.advance(1.999);
    EXPECT_FALSE(thermal.sample());
    clock.advance(0.001);
    services.setTemperature(0, 55);
    EXPECT_EQ(thermal.sample()->cpuTemperatureC, 55);  // exactly the interval later
    clock.setWall(clock.wallNow() + 3600);
    EXPECT_FALSE(thermal.sample());
    clock.setWall(clock.wallNow() - 7200);
    clock.advance(2);
    EXPECT_TRUE(thermal.sample());
    EXPECT_EQ(services.listings(), 3u);

    services.failListing();
    clock.advance(2);
    EXPECT_FALSE(thermal.sample());  // unlistable: no reading, and no memory key read
    EXPECT_EQ(smc.keyInfoCount(), smc::memoryKeys.size());
    EXPECT_FALSE(ThermalSampler(nullptr, nullptr, clock).sample());
}

// A service keeps the category of its place in the listing only while it keeps its name there.
TEST_F(ThermalSamplerTest, AServiceIsClassifiedAgainWhenItsNameChanges) {
    services.add("PMU tdie0", 50);
    services.add("PMU tdev1", 38);
    auto thermal = sampler();
    EXPECT_EQ(thermal.sample(), (ThermalReading{.cpuTemperatureC = 50}));
    services.setName(0, "gas gauge battery").setName(1, "PMU tdie1");
    clock.advance(2);
    EXPECT_EQ(thermal.sample(), (ThermalReading{.cpuTemperatureC = 38, .batteryTemperatureC = 50}));
    services.removeName(1);
    clock.advance(2);
    EXPECT_EQ(thermal.sample(), (ThermalReading{.batteryTemperatureC = 50}));
}

// The 21 memory keys are probed once, in order; later readings read only the kept ones and
// report the highest finite value above 0.
TEST_F(ThermalSamplerTest, MemoryKeysAreProbedOnceAndTheHighestReported) {
    smc.setFloat("TRD0", 41.5f).setFloat("TRDX", 44.25f).setFloat("TRDj", -1);
    smc.setKey("TRD3", "ui16", {0, 40});
    auto thermal = sampler();
    EXPECT_EQ(thermal.sample()->memoryTemperatureC, 44.25);
    EXPECT_EQ(smc.keyInfoCount(), smc::memoryKeys.size() + 3);  // the probe, then the kept three
    smc.clearRecord();
    smc.setFloat("TRDX", std::numeric_limits<float>::infinity()).setFloat("TRD5", 90);
    clock.advance(2);
    EXPECT_EQ(thermal.sample()->memoryTemperatureC, 41.5);
    EXPECT_EQ(smc.keyInfoCount(), 3u);  // TRD0, TRDX, TRDj
    EXPECT_EQ(smc.keyInfoCount("TRD5"), 0u);
}

}  // namespace
}  // namespace tessly::testing
