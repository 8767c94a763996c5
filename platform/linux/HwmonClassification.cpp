#include "platform/linux/HwmonClassification.h"

#include <algorithm>
#include <array>
#include <utility>

namespace tessly::hwmon {
namespace {

using enum TemperatureCategory;

constexpr auto chipCategories = std::to_array<std::pair<std::string_view, TemperatureCategory>>({
    {"coretemp", cpu},    {"k10temp", cpu},     {"zenpower", cpu},       {"k8temp", cpu},
    {"via_cputemp", cpu}, {"cpu_thermal", cpu}, {"cpu0_thermal", cpu},   {"soc_thermal", cpu},
    {"amdgpu", gpu},      {"radeon", gpu},      {"nouveau", gpu},        {"i915", gpu},
    {"xe", gpu},          {"gpu_thermal", gpu}, {"nvme", storage},       {"drivetemp", storage},
    {"jc42", memory},     {"spd5118", memory},  {"ddr_thermal", memory},
});

bool contains(std::string_view text, std::string_view part) noexcept {
    return text.find(part) != std::string_view::npos;
}

bool contains(std::span<const std::string> labels, std::string_view label) noexcept {
    return std::find(labels.begin(), labels.end(), label) != labels.end();
}

}  // namespace

std::optional<TemperatureCategory> chipCategory(std::string_view chip) noexcept {
    for (const auto& [name, category] : chipCategories) {
        if (chip == name) return category;
    }
    if (chip.starts_with("BAT")) return battery;
    return socZoneOf(chip);
}

std::optional<TemperatureCategory> socZoneOf(std::string_view chip) noexcept {
    constexpr std::string_view suffix = "_thermal";
    if (!chip.ends_with(suffix)) return std::nullopt;
    const std::string_view zone = chip.substr(0, chip.size() - suffix.size());
    if (contains(zone, "gpu")) return gpu;
    if (contains(zone, "mdm") || contains(zone, "modem")) return std::nullopt;
    if (contains(zone, "cpu") || contains(zone, "core")) return cpu;
    if (contains(zone, "ddr") || contains(zone, "mem")) return memory;
    return std::nullopt;
}

TemperatureUse classifyTemperature(std::string_view chip, std::string_view label,
                                   std::span<const std::string> chipLabels,
                                   bool supplyReportsTemperature) noexcept {
    if ((chip == "k10temp" || chip == "zenpower") && label == "Tctl" &&
        contains(chipLabels, "Tdie")) {
        return {std::nullopt, "Tctl carries an offset on some CPUs; the chip reports Tdie"};
    }
    if (chip == "nvme" && label != "Composite" && contains(chipLabels, "Composite")) {
        return {std::nullopt, "the drive's Composite temperature stands for it"};
    }
    if (chip.starts_with("BAT") && supplyReportsTemperature) {
        return {std::nullopt, "the power supply of this name reports the battery's temperature"};
    }
    if (const auto category = chipCategory(chip)) return {category, {}};
    return {std::nullopt, notASensorWeRead};
}

SupplyContribution supplyContribution(std::optional<std::string_view> type,
                                      std::optional<std::string_view> scope,
                                      bool hasTemperature) noexcept {
    if (type != "Battery") return {false, "not a battery"};
    if (scope == "Device") return {false, "the battery of a peripheral device (scope Device)"};
    if (!hasTemperature) return {false, "no temp file"};
    return {true, {}};
}

}  // namespace tessly::hwmon
