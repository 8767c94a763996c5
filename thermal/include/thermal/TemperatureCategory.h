#pragma once
// Which payload field a temperature service feeds, by its product name: the Apple HID names of
// macOS and the "<chip> <label>" names of Linux hwmon, side by side. Pure functions of the name.

#include <optional>
#include <string_view>

#include "thermal/TemperatureServices.h"

namespace tessly {

enum class TemperatureCategory { cpu, gpu, battery, storage };

// Apple HID product names: the first of five ordered tests that decides.
//   contains "tdie"                             cpu
//   contains " TP" and ends in 's'              cpu
//   contains " TP" and ends in 'g'              gpu
//   contains "battery", in any case             battery
//   contains "NAND"                             storage
std::optional<TemperatureCategory> appleCategory(std::string_view productName) noexcept;

// The chip part of the product name of a power supply's battery temperature ("power_supply BAT0").
inline constexpr std::string_view powerSupplyChip = "power_supply";

// Linux names, "<chip> <label>": an hwmon input is named after its chip (the hwmon directory's
// "name") and its label ("tempN_label", or "tempN"); a power supply's battery temperature is
// powerSupplyChip and the supply's name. The chip alone decides (coretemp, k10temp, ... cpu;
// amdgpu, nouveau, i915, ... gpu; nvme, drivetemp storage; BAT* and power_supply battery). The
// choices that need a chip's other inputs are made when the services are discovered (see
// HwmonContribution.h).
std::optional<TemperatureCategory> hwmonCategory(std::string_view productName) noexcept;

// The category under the naming scheme the services declare.
std::optional<TemperatureCategory> categoryOf(SensorNaming naming,
                                              std::string_view productName) noexcept;

// The payload field a category feeds: "cpuTemperatureC", "gpuTemperatureC", ...
std::string_view payloadField(TemperatureCategory category) noexcept;

// The payload field a service of that name feeds, or nothing when the sampler ignores it.
std::optional<std::string_view> payloadFieldOf(SensorNaming naming,
                                               std::string_view productName) noexcept;

}  // namespace tessly
