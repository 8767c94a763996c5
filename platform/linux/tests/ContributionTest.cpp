#include "platform/linux/Contribution.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

namespace tessly::hwmon {
namespace {

using enum TemperatureUse;

TEST(Contribution, TemperatureInputsByChipLabelAndTheChipsOtherLabels) {
    const std::vector<std::string> zen2 = {"Tctl", "Tdie", "Tccd1", "Tccd2"};
    const std::vector<std::string> zen3 = {"Tctl", "Tccd1"};  // no Tdie: Tctl is the die
    const std::vector<std::string> nvme = {"Composite", "Sensor 1", "Sensor 8"};
    const std::vector<std::string> nvmeBare = {"temp1", "temp2"};
    const std::vector<std::string> one = {"temp1"};
    const struct {
        std::string_view chip, label;
        const std::vector<std::string>& labels;
        bool supplyReports;
        TemperatureUse expected;
    } cases[] = {
        {"k10temp", "Tctl", zen2, false, leftOut},
        {"k10temp", "Tdie", zen2, false, service},
        {"k10temp", "Tccd1", zen2, false, service},
        {"zenpower", "Tctl", zen2, false, leftOut},
        {"k10temp", "Tctl", zen3, false, service},
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
    for (const auto& c : cases) {
        const auto got = temperatureContribution(c.chip, c.label, c.labels, c.supplyReports);
        EXPECT_EQ(got.use, c.expected) << c.chip << ' ' << c.label;
        EXPECT_EQ(got.reason.empty(), c.expected != leftOut) << c.chip << ' ' << c.label;
    }
}

TEST(Contribution, PowerSuppliesOnlySystemBatteriesWithATemperature) {
    using Text = std::optional<std::string_view>;
    const struct {
        Text type, scope;
        bool hasTemp;
        bool presented;
    } cases[] = {
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
    for (const auto& c : cases) {
        const auto got = supplyContribution(c.type, c.scope, c.hasTemp);
        EXPECT_EQ(got.presented, c.presented)
            << c.type.value_or("-") << ' ' << c.scope.value_or("-");
        EXPECT_EQ(got.reason.empty(), c.presented);
    }
}

}  // namespace
}  // namespace tessly::hwmon
