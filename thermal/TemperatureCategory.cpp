#include "thermal/TemperatureCategory.h"

#include <algorithm>
#include <array>
#include <utility>

namespace tessly {
namespace {

using enum TemperatureCategory;

// Chips whose every presented input feeds one category. Names are compared exactly: hwmon names
// are lower-case driver names, and a near miss ("k10temp_x") is a different driver.
constexpr auto chipCategories = std::to_array<std::pair<std::string_view, TemperatureCategory>>({
    {"coretemp", cpu},
    {"k10temp", cpu},
    {"zenpower", cpu},
    {"k8temp", cpu},
    {"via_cputemp", cpu},
    {"cpu_thermal", cpu},
    {"cpu0_thermal", cpu},
    {"soc_thermal", cpu},
    {"amdgpu", gpu},
    {"radeon", gpu},
    {"nouveau", gpu},
    {"nvidia", gpu},  // NVIDIA's own driver, through NVML
    {"i915", gpu},
    {"xe", gpu},
    {"gpu_thermal", gpu},
    {"nvme", storage},
    {"drivetemp", storage},
    {powerSupplyChip, battery},
});

bool contains(std::string_view text, std::string_view part) noexcept {
    return text.find(part) != std::string_view::npos;
}

char asciiLower(char c) noexcept {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether `text` lower-cased contains `lowerPart`, which must be lower-case ASCII without 'i' or
// 'k'. For such a part, folding ASCII letters alone finds what full Unicode lower-casing finds:
// the only other characters that lower-case to ASCII letters give 'i' or 'k'.
bool containsIgnoringCase(std::string_view text, std::string_view lowerPart) noexcept {
    const auto found = std::search(text.begin(), text.end(), lowerPart.begin(), lowerPart.end(),
                                   [](char a, char b) { return asciiLower(a) == b; });
    return found != text.end() || lowerPart.empty();
}

}  // namespace

std::optional<TemperatureCategory> appleCategory(std::string_view name) noexcept {
    if (contains(name, "tdie")) return cpu;
    if (contains(name, " TP")) {
        if (name.ends_with('s')) return cpu;
        if (name.ends_with('g')) return gpu;
    }
    if (containsIgnoringCase(name, "battery")) return battery;
    if (contains(name, "NAND")) return storage;
    return std::nullopt;
}

std::optional<TemperatureCategory> hwmonCategory(std::string_view productName) noexcept {
    const std::string_view chip = productName.substr(0, productName.find(' '));
    for (const auto& [name, category] : chipCategories) {
        if (chip == name) return category;
    }
    // A system battery's own hwmon chip carries the supply's name (BAT0, BAT1, ...); peripheral
    // batteries (hid_*_battery, hidpp_battery_*) do not start so and stay out.
    if (chip.starts_with("BAT")) return battery;
    // A SoC thermal zone that no exact rule names; a memory zone is a memory key instead (see
    // HwmonContribution.h).
    const auto zone = socZoneOf(chip);
    if (zone == SocZone::cpu) return cpu;
    if (zone == SocZone::gpu) return gpu;
    return std::nullopt;
}

std::optional<SocZone> socZoneOf(std::string_view chip) noexcept {
    constexpr std::string_view suffix = "_thermal";
    if (!chip.ends_with(suffix)) return std::nullopt;
    const std::string_view zone = chip.substr(0, chip.size() - suffix.size());
    if (contains(zone, "gpu")) return SocZone::gpu;
    if (contains(zone, "mdm") || contains(zone, "modem")) return std::nullopt;
    if (contains(zone, "cpu") || contains(zone, "core")) return SocZone::cpu;
    if (contains(zone, "ddr") || contains(zone, "mem")) return SocZone::memory;
    return std::nullopt;
}

std::optional<TemperatureCategory> categoryOf(SensorNaming naming,
                                              std::string_view productName) noexcept {
    switch (naming) {
        case SensorNaming::apple:
            return appleCategory(productName);
        case SensorNaming::hwmon:
            return hwmonCategory(productName);
    }
    return std::nullopt;
}

std::string_view payloadField(TemperatureCategory category) noexcept {
    switch (category) {
        case cpu:
            return "cpuTemperatureC";
        case gpu:
            return "gpuTemperatureC";
        case battery:
            return "batteryTemperatureC";
        case storage:
            return "storageTemperatureC";
    }
    return {};
}

std::optional<std::string_view> payloadFieldOf(SensorNaming naming,
                                               std::string_view productName) noexcept {
    const auto category = categoryOf(naming, productName);
    if (!category) return std::nullopt;
    return payloadField(*category);
}

}  // namespace tessly
