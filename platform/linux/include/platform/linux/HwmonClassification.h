#pragma once
// What each hwmon input and power supply of a Linux machine measures, decided once, when it is
// found, from its own facts alone: the chip's name (the hwmon directory's "name"), the input's
// label, the chip's other labels, and the power supply's type and scope. Pure functions,
// table-tested; the reasons are static texts for the sensor report.

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "thermal/TemperatureCategory.h"

namespace tessly::hwmon {

// The category every input of a chip of this name feeds, where the name alone decides:
//   coretemp, k10temp, zenpower, k8temp, via_cputemp       cpu
//   amdgpu, radeon, nouveau, i915, xe                       gpu
//   nvme, drivetemp                                         storage
//   jc42, spd5118 (DIMM sensors)                            memory
//   BAT* (a system battery's own chip; peripheral batteries are named otherwise)  battery
//   a SoC thermal zone, by socZoneOf
// Names are compared exactly: hwmon names are lower-case driver names, and a near miss
// ("k10temp_x") is a different driver.
std::optional<TemperatureCategory> chipCategory(std::string_view chip) noexcept;

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
// Nothing, too, for a chip whose name does not end in "_thermal".
std::optional<TemperatureCategory> socZoneOf(std::string_view chip) noexcept;

// What one temperature input feeds: a category, or nothing with the reason.
struct TemperatureUse {
    std::optional<TemperatureCategory> category;
    std::string_view reason;  // why it feeds nothing; empty otherwise

    friend bool operator==(const TemperatureUse&, const TemperatureUse&) = default;
};

// The reason given for an input whose chip feeds no category.
inline constexpr std::string_view notASensorWeRead = "not a CPU, GPU, storage or battery sensor";

// What the temperature input `label` of chip `chip` feeds. `chipLabels` holds the labels of all
// the chip's temperature inputs ("tempN" for an unlabelled one), this one included.
// `supplyReportsTemperature` tells whether a power supply named like the chip gives its own
// temperature (see supplyContribution). Beyond chipCategory:
//   k10temp, zenpower: Tctl is left out where the chip also reports Tdie (Tctl carries an offset
//                      on some CPUs);
//   nvme:              only Composite where the drive has one;
//   BAT*:              left out where the power supply of that name gives the temperature.
TemperatureUse classifyTemperature(std::string_view chip, std::string_view label,
                                   std::span<const std::string> chipLabels,
                                   bool supplyReportsTemperature) noexcept;

struct SupplyContribution {
    bool presented;           // its temperature feeds the battery category
    std::string_view reason;  // why not; empty when presented

    friend bool operator==(const SupplyContribution&, const SupplyContribution&) = default;
};

// Whether a power supply's "temp" file (tenths of a degree) is a battery temperature: only a
// supply of type "Battery" that has the file and whose scope is not "Device" (the batteries of
// mice, keyboards and headsets). `type` and `scope` are the files' texts, nothing where a file is
// missing or unreadable.
SupplyContribution supplyContribution(std::optional<std::string_view> type,
                                      std::optional<std::string_view> scope,
                                      bool hasTemperature) noexcept;

}  // namespace tessly::hwmon
