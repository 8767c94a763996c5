#include "thermal/TemperatureCategory.h"

#include <optional>
#include <string_view>

#include <gtest/gtest.h>

namespace tessly {
namespace {

using Kind = TemperatureCategory;

void expectKind(std::optional<Kind> kind, std::initializer_list<std::string_view> productNames) {
    for (const auto name : productNames)
        EXPECT_EQ(hwmonCategory(name), kind) << '"' << name << '"';
}

TEST(HwmonNames, CpuChipsFeedCpuWhateverTheLabel) {
    // Tctl and "nvme Sensor 1" are presented only where the chip has no Tdie or Composite.
    expectKind(Kind::cpu, {"coretemp Package id 0", "coretemp Core 31", "k10temp Tdie",
                           "k10temp Tctl", "k10temp Tccd8", "k10temp temp1", "zenpower Tdie",
                           "k8temp temp1", "via_cputemp temp1", "cpu_thermal temp1",
                           "cpu0_thermal temp1", "soc_thermal temp1"});
}

TEST(HwmonNames, GpuStorageAndBatteryChips) {
    expectKind(Kind::gpu, {"amdgpu edge", "amdgpu temp1", "radeon temp1", "nouveau temp1",
                           "i915 temp1", "xe pkg", "gpu_thermal temp1"});
    expectKind(Kind::storage, {"nvme Composite", "nvme Sensor 1", "drivetemp temp1"});
    expectKind(Kind::battery,
               {"power_supply BAT0", "power_supply macsmc-battery", "BAT0 temp1", "BAT1 temp1"});
}

TEST(HwmonNames, EverythingElseIsIgnored) {
    // Boards, ACPI zones, chipsets, radios and vendor platform chips.
    expectKind(std::nullopt, {"acpitz temp1", "nct6798 SYSTIN", "nct6798 CPUTIN", "it8728 temp1",
                              "pch_cannonlake temp1", "iwlwifi_1 temp1", "mt7996_phy0_0 temp1",
                              "i350bb loc1", "thinkpad CPU", "thinkpad GPU", ""});
    // Apple SMC chips, even where the label names a category; memory (read through SMC keys,
    // never as a service); peripheral batteries.
    expectKind(std::nullopt, {"applesmc TC0P", "macsmc_hwmon NAND Flash Temperature",
                              "macsmc_hwmon Battery Hotspot Temperature", "jc42 temp1",
                              "spd5118 temp1", "ddr_thermal temp1", "hidpp_battery_2 temp1",
                              "hid_CC2901200PKJ5R9AX_battery temp1"});
}

TEST(HwmonNames, OnlyTheChipDecidesAndItMustMatchExactly) {
    expectKind(Kind::cpu, {"coretemp"});  // a bare chip name is its own chip part
    // Case matters; a longer chip name is another driver; an empty chip part.
    expectKind(std::nullopt,
               {"Coretemp Core 0", "NVME Composite", "bat0 temp1", "coretemp_x Core 0", "xe2 temp1",
                "power_supply_x BAT0", " coretemp Core 0"});
    // Words in the label never decide: neither chip names nor the Apple name rules.
    expectKind(std::nullopt, {"acpitz coretemp", "acpitz BAT0", "nct6779 Tdie", "nct6779 battery",
                              "nct6779 NAND", "nct6779 PMU TP1s"});
}

}  // namespace
}  // namespace tessly
