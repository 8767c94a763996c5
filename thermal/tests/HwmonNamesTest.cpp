#include "thermal/HwmonNames.h"

#include <optional>
#include <string_view>

#include <gtest/gtest.h>

namespace tessly {
namespace {

using Kind = HwmonTemperatureKind;

struct NameCase {
    std::string_view productName;
    std::optional<Kind> expected;
};

void expectKinds(std::initializer_list<NameCase> cases) {
    for (const auto& c : cases) {
        EXPECT_EQ(hwmonTemperatureKind(c.productName), c.expected) << '"' << c.productName << '"';
    }
}

TEST(HwmonNames, CpuChipsFeedCpuWhateverTheLabel) {
    expectKinds({
        {"coretemp Package id 0", Kind::cpu},
        {"coretemp Core 31", Kind::cpu},
        {"k10temp Tdie", Kind::cpu},
        {"k10temp Tctl", Kind::cpu},  // presented only where the chip has no Tdie
        {"k10temp Tccd8", Kind::cpu},
        {"k10temp temp1", Kind::cpu},
        {"zenpower Tdie", Kind::cpu},
        {"k8temp temp1", Kind::cpu},
        {"via_cputemp temp1", Kind::cpu},
        {"cpu_thermal temp1", Kind::cpu},
        {"cpu0_thermal temp1", Kind::cpu},
        {"soc_thermal temp1", Kind::cpu},
    });
}

TEST(HwmonNames, GpuStorageAndBatteryChips) {
    expectKinds({
        {"amdgpu edge", Kind::gpu},
        {"amdgpu temp1", Kind::gpu},
        {"radeon temp1", Kind::gpu},
        {"nouveau temp1", Kind::gpu},
        {"i915 temp1", Kind::gpu},
        {"xe pkg", Kind::gpu},
        {"gpu_thermal temp1", Kind::gpu},
        {"nvme Composite", Kind::storage},
        {"nvme Sensor 1", Kind::storage},  // presented only where the drive has no Composite
        {"drivetemp temp1", Kind::storage},
        {"power_supply BAT0", Kind::battery},
        {"power_supply macsmc-battery", Kind::battery},
        {"BAT0 temp1", Kind::battery},
        {"BAT1 temp1", Kind::battery},
    });
}

TEST(HwmonNames, EverythingElseIsIgnored) {
    expectKinds({
        // Boards, ACPI zones, chipsets, radios and vendor platform chips.
        {"acpitz temp1", std::nullopt},
        {"nct6798 SYSTIN", std::nullopt},
        {"nct6798 CPUTIN", std::nullopt},
        {"it8728 temp1", std::nullopt},
        {"pch_cannonlake temp1", std::nullopt},
        {"iwlwifi_1 temp1", std::nullopt},
        {"mt7996_phy0_0 temp1", std::nullopt},
        {"i350bb loc1", std::nullopt},
        {"thinkpad CPU", std::nullopt},
        {"thinkpad GPU", std::nullopt},
        // Apple SMC chips: their temperatures stay out even where the label names a category.
        {"applesmc TC0P", std::nullopt},
        {"macsmc_hwmon NAND Flash Temperature", std::nullopt},
        {"macsmc_hwmon Battery Hotspot Temperature", std::nullopt},
        // Memory reaches the payload through SMC keys, never as a service.
        {"jc42 temp1", std::nullopt},
        {"spd5118 temp1", std::nullopt},
        {"ddr_thermal temp1", std::nullopt},
        // Peripheral batteries.
        {"hidpp_battery_2 temp1", std::nullopt},
        {"hid_CC2901200PKJ5R9AX_battery temp1", std::nullopt},
        {"", std::nullopt},
    });
}

TEST(HwmonNames, OnlyTheChipDecidesAndItMustMatchExactly) {
    expectKinds({
        {"coretemp", Kind::cpu},            // a bare chip name is its own chip part
        {"Coretemp Core 0", std::nullopt},  // case matters
        {"NVME Composite", std::nullopt},
        {"bat0 temp1", std::nullopt},
        {"coretemp_x Core 0", std::nullopt},  // a longer chip name is another driver
        {"xe2 temp1", std::nullopt},
        {"power_supply_x BAT0", std::nullopt},
        {" coretemp Core 0", std::nullopt},  // an empty chip part
        // Words in the label never decide: neither chip names nor the Apple name rules.
        {"acpitz coretemp", std::nullopt},
        {"acpitz BAT0", std::nullopt},
        {"nct6779 Tdie", std::nullopt},
        {"nct6779 battery", std::nullopt},
        {"nct6779 NAND", std::nullopt},
        {"nct6779 PMU TP1s", std::nullopt},
    });
}

}  // namespace
}  // namespace tessly
