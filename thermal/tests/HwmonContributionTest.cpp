#include "thermal/HwmonContribution.h"

#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

namespace tessly::hwmon {
namespace {

using enum TemperatureUse;

TEST(Contribution, TemperatureInputsByChipLabelAndTheChipsOtherLabels) {
    using Labels = std::vector<std::string>;
    const Labels zen2 = {"Tctl", "Tdie", "Tccd1", "Tccd2"}, zen3 = {"Tctl", "Tccd1"},
                 nvme = {"Composite", "Sensor 1", "Sensor 8"}, nvmeBare = {"temp1", "temp2"},
                 one = {"temp1"};
    // Chip, label, the chip's labels, whether a power supply reports the battery, the use.
    const std::tuple<std::string_view, std::string_view, const Labels&, bool, TemperatureUse>
        cases[] = {
            {"k10temp", "Tctl", zen2, false, leftOut},
            {"k10temp", "Tdie", zen2, false, service},
            {"k10temp", "Tccd1", zen2, false, service},
            {"zenpower", "Tctl", zen2, false, leftOut},
            {"k10temp", "Tctl", zen3, false, service},  // no Tdie: Tctl is the die
            {"k10temp", "Tccd1", zen3, false, service},
            {"coretemp", "Tctl", zen2, false, service},  // the Tctl rule is AMD's alone
            {"nvme", "Composite", nvme, false, service},
            {"nvme", "Sensor 1", nvme, false, leftOut},
            {"nvme", "Sensor 8", nvme, false, leftOut},
            {"nvme", "temp1", nvmeBare, false, service},  // no Composite: every input
            {"nvme", "temp2", nvmeBare, false, service},
            {"drivetemp", "temp1", one, false, service},
            {"BAT0", "temp1", one, true, leftOut},
            {"BAT0", "temp1", one, false, service},
            {"BAT1", "temp1", one, true, leftOut},
            {"hidpp_battery_2", "temp1", one, true, service},  // not BAT*: the sampler ignores it
            {"jc42", "temp1", one, false, memoryKey},
            {"spd5118", "temp1", one, false, memoryKey},
            {"ddr_thermal", "temp1", one, false, memoryKey},
            {"JC42", "temp1", one, false, service},
            {"acpitz", "temp1", one, false, service},
            {"nct6798", "SYSTIN", one, false, service},
        };
    for (const auto& [chip, label, labels, supplyReports, expected] : cases) {
        const auto got = temperatureContribution(chip, label, labels, supplyReports);
        EXPECT_EQ(got.use, expected) << chip << ' ' << label;
        EXPECT_EQ(got.reason.empty(), expected != leftOut) << chip << ' ' << label;
    }
}

TEST(Contribution, PowerSuppliesOnlySystemBatteriesWithATemperature) {
    using Text = std::optional<std::string_view>;
    // Type, scope, whether it has a temperature, whether it is presented.
    const std::tuple<Text, Text, bool, bool> cases[] = {
        {"Battery", std::nullopt, true, true},
        {"Battery", "System", true, true},
        {"Battery", "Unknown", true, true},
        {"Battery", "Device", true, false},  // a mouse or keyboard
        {"Battery", std::nullopt, false, false},
        {"Mains", std::nullopt, true, false},
        {"USB", std::nullopt, true, false},
        {std::nullopt, std::nullopt, true, false},  // type unreadable
        {"battery", std::nullopt, true, false},
    };
    for (const auto& [type, scope, hasTemp, presented] : cases) {
        const auto got = supplyContribution(type, scope, hasTemp);
        EXPECT_EQ(got.presented, presented) << type.value_or("-") << ' ' << scope.value_or("-");
        EXPECT_EQ(got.reason.empty(), presented);
    }
}

}  // namespace
}  // namespace tessly::hwmon
