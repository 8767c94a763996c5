// The real machines of fixtures/: what the two samplers publish for each, worked out by hand
// from the mapping of chips to payload fields.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/linux/SensorReport.h"
#include "platform/linux/tests/Samplers.h"
#include "thermal/TemperatureCategory.h"

namespace tessly::hwmon::testing {
namespace {

struct MachineCase {
    std::string_view fixture;
    ThermalReading thermal;
    std::optional<FanReading> fan;
};

TEST(Machines, EachPublishesWhatItsChipsMean) {
    const MachineCase cases[] = {
        // acpitz 49 °C and no battery left out; coretemp max of 69, 59, 67.
        {"thinkpad-t420", {.cpuTemperatureC = 69.0}, fanReading({3855})},
        // No fans: "FNum" is 0 and the fan sampler publishes nothing.
        {"raspberry-pi4", {.cpuTemperatureC = 62.322}, std::nullopt},
        // Two k10temp, Tctl left out beside Tdie; the highest is Tccd3 of the first socket.
        {"amd-epyc-2socket", {.cpuTemperatureC = 29.75}, std::nullopt},
        // it8728 temperatures left out; the second radeon has no input. Fans 1, 2, 3, 5 of the
        // it8728; minimums 0 but no maximum, so no limits.
        {"amd-fx-ga970a",
         {.cpuTemperatureC = 14.5, .gpuTemperatureC = 38.0},
         fanReading({1323, 979, 0, 0})},
        // amdgpu's fan1_input fails with EINVAL: fan 0 counts as 0, the nct6779 fans follow.
        {"amd-ryzen-ab350", {.gpuTemperatureC = 28.0}, fanReading({0, 0, 1660})},
        // The board's bogus 120 °C SYSTIN stays out; nvme Composite only.
        {"intel-raptorlake",
         {.cpuTemperatureC = 37.0, .storageTemperatureC = 34.85},
         fanReading({1278, 1278, 0, 0, 0, 0})},
        // applesmc in device/ (older layout) then nct6779; the nameless chip, the radios and the
        // hwmon chips outside class/hwmon stay out; BAT0 has no temp file.
        {"node-exporter", {.cpuTemperatureC = 55.0}, fanReading({0, 1998, 1098}, 0.0, 6156.0)},
        // Names and labels only: every input is empty, so every field is absent.
        {"thinkpad-cannonlake", {}, std::nullopt},
        // No values: both fans read as 0 and their empty limits give none.
        {"apple-m1max-asahi", {}, fanReading({0, 0})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fixture);
        SysfsTree tree = SysfsTree::fixture(c.fixture);
        Samplers samplers(tree);
        EXPECT_EQ(samplers.thermal.sample(), c.thermal);
        EXPECT_EQ(samplers.fans.sample(), c.fan);
    }
}

// The feeds of the report's entries: "<chip> <label> -> <feeds or ->; ...".
std::string feeds(const SysfsTree& tree) {
    const auto classify = [](std::string_view name) noexcept {
        return payloadFieldOf(SensorNaming::hwmon, name);
    };
    std::string out;
    for (const auto& e : reportSensors(tree.root(), classify, FileReader::Default())) {
        if (e.chip.empty() && e.label.empty()) continue;
        out += e.chip + " " + e.label + " -> " + (e.feeds.empty() ? "-" : e.feeds) + "; ";
    }
    return out;
}

TEST(Machines, CapturesWithoutValuesAreDiscoveredAndClassified) {
    EXPECT_EQ(feeds(SysfsTree::fixture("thinkpad-cannonlake")),
              "thinkpad CPU -> -; thinkpad GPU -> -; nvme Composite -> storageTemperatureC; "
              "coretemp Package id 0 -> cpuTemperatureC; coretemp Core 0 -> cpuTemperatureC; "
              "coretemp Core 1 -> cpuTemperatureC; coretemp Core 2 -> cpuTemperatureC; "
              "coretemp Core 3 -> cpuTemperatureC; nvme Sensor 1 -> -; ");
    EXPECT_EQ(feeds(SysfsTree::fixture("apple-m1max-asahi")),
              "macsmc_hwmon NAND Flash Temperature -> -; "
              "macsmc_hwmon Battery Hotspot Temperature -> -; "
              "macsmc_hwmon Charge Regulator Temperature -> -; "
              "macsmc_hwmon WiFi/BT Module Temperature -> -; macsmc_hwmon Fan 1 -> F0Ac; "
              "macsmc_hwmon Fan 1 -> F0Mn; macsmc_hwmon Fan 1 -> F0Mx; macsmc_hwmon Fan 2 -> F1Ac; "
              "macsmc_hwmon Fan 2 -> F1Mn; macsmc_hwmon Fan 2 -> F1Mx; ");
}

}  // namespace
}  // namespace tessly::hwmon::testing
