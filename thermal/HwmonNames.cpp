#include "thermal/HwmonNames.h"

#include <array>
#include <utility>

namespace tessly {
namespace {

using Kind = HwmonTemperatureKind;

// Chips whose every presented input feeds one category. Names are compared exactly: hwmon names
// are lower-case driver names, and a near miss ("k10temp_x") is a different driver.
constexpr auto chipKinds = std::to_array<std::pair<std::string_view, Kind>>({
    {"coretemp", Kind::cpu},
    {"k10temp", Kind::cpu},
    {"zenpower", Kind::cpu},
    {"k8temp", Kind::cpu},
    {"via_cputemp", Kind::cpu},
    {"cpu_thermal", Kind::cpu},
    {"cpu0_thermal", Kind::cpu},
    {"soc_thermal", Kind::cpu},
    {"amdgpu", Kind::gpu},
    {"radeon", Kind::gpu},
    {"nouveau", Kind::gpu},
    {"i915", Kind::gpu},
    {"xe", Kind::gpu},
    {"gpu_thermal", Kind::gpu},
    {"nvme", Kind::storage},
    {"drivetemp", Kind::storage},
    {powerSupplyChip, Kind::battery},
});

}  // namespace

std::optional<HwmonTemperatureKind> hwmonTemperatureKind(std::string_view productName) noexcept {
    const std::string_view chip = productName.substr(0, productName.find(' '));
    for (const auto& [name, kind] : chipKinds) {
        if (chip == name) return kind;
    }
    // A system battery's own hwmon chip carries the supply's name (BAT0, BAT1, ...); peripheral
    // batteries (hid_*_battery, hidpp_battery_*) do not start so and stay out.
    if (chip.starts_with("BAT")) return Kind::battery;
    return std::nullopt;
}

}  // namespace tessly
