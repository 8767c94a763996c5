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
// amdgpu, nouveau, i915, ... gpu; nvme, drivetemp storage; BAT* and power_supply battery; a SoC
// thermal zone by its name, see socZoneOf). The choices that need a chip's other inputs are made
// when the services are discovered (see HwmonContribution.h).
std::optional<TemperatureCategory> hwmonCategory(std::string_view productName) noexcept;

// What a SoC thermal zone measures, as far as its name tells.
enum class SocZone { cpu, gpu, memory };

// The kernel gives each thermal zone of a device tree an hwmon chip named after the zone,
// "<zone>_thermal" ("bigcore0-thermal" becomes "bigcore0_thermal"), and every vendor names its
// zones its own way. For such a chip that no exact rule names (cpu_thermal, cpu0_thermal and
// soc_thermal are cpu, gpu_thermal gpu, ddr_thermal memory), the first test on <zone> decides:
//   contains "gpu"                              gpu     (gpu_thermal, gpuss0_thermal, gpu1_thermal)
//   contains "mdm" or "modem"                   nothing (mdm_core_thermal is a modem's core)
//   contains "cpu" or "core"                    cpu     (cpu0_1_thermal, bigcore0_thermal,
//                                                        littlecore_thermal, cpucl2_thermal)
//   contains "ddr" or "mem"                     memory  (ddr_thermal, mem_thermal)
//   anything else                               nothing (npu, center, camera, video, package, ...)
// Nothing, too, for a chip whose name does not end in "_thermal". The names are compared as the
// kernel writes them, in lower case.
std::optional<SocZone> socZoneOf(std::string_view chip) noexcept;

// The category under the naming scheme the services declare.
std::optional<TemperatureCategory> categoryOf(SensorNaming naming,
                                              std::string_view productName) noexcept;

// The payload field a category feeds: "cpuTemperatureC", "gpuTemperatureC", ...
std::string_view payloadField(TemperatureCategory category) noexcept;

// The payload field a service of that name feeds, or nothing when the sampler ignores it.
std::optional<std::string_view> payloadFieldOf(SensorNaming naming,
                                               std::string_view productName) noexcept;

}  // namespace tessly
