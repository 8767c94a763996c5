#include "thermal/HwmonContribution.h"

#include <algorithm>
#include <array>

#include "thermal/TemperatureCategory.h"

namespace tessly::hwmon {
namespace {

constexpr auto memoryChips = std::to_array<std::string_view>({"jc42", "spd5118", "ddr_thermal"});

bool contains(std::span<const std::string> labels, std::string_view label) noexcept {
    return std::find(labels.begin(), labels.end(), label) != labels.end();
}

bool isOneOf(std::string_view chip, std::span<const std::string_view> names) noexcept {
    return std::find(names.begin(), names.end(), chip) != names.end();
}

}  // namespace

TemperatureContribution temperatureContribution(std::string_view chip, std::string_view label,
                                                std::span<const std::string> chipLabels,
                                                bool supplyReportsTemperature) noexcept {
    using enum TemperatureUse;
    if (isOneOf(chip, memoryChips) || socZoneOf(chip) == SocZone::memory) {
        return {memoryKey, {}};
    }
    if ((chip == "k10temp" || chip == "zenpower") && label == "Tctl" &&
        contains(chipLabels, "Tdie")) {
        return {leftOut, "Tctl carries an offset on some CPUs; the chip reports Tdie"};
    }
    if (chip == "nvme" && label != "Composite" && contains(chipLabels, "Composite")) {
        return {leftOut, "the drive's Composite temperature stands for it"};
    }
    if (chip.starts_with("BAT") && supplyReportsTemperature) {
        return {leftOut, "the power supply of this name reports the battery's temperature"};
    }
    return {service, {}};
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
