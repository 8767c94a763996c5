#pragma once
// Which inputs a chip or power supply contributes, decided once at discovery from its own facts
// alone. These are the choices that need more than one input's name: what is left is presented
// as a temperature service and classified by name in the sampler, or offered as a memory key.
// Pure functions, table-tested; the reasons are static texts for the sensor report.

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tessly::hwmon {

enum class TemperatureUse {
    service,    // presented in the temperature services list
    memoryKey,  // offered as one of the "TRD*" SMC keys
    leftOut,    // neither; see the reason
};

struct TemperatureContribution {
    TemperatureUse use;
    std::string_view reason;  // why it is left out; empty otherwise

    friend bool operator==(const TemperatureContribution&,
                           const TemperatureContribution&) = default;
};

// What the temperature input `label` of chip `chip` contributes. `chipLabels` holds the labels
// of all the chip's temperature inputs ("tempN" for an unlabelled one), this one included.
// `supplyReportsTemperature` tells whether a power supply named like the chip reports its own
// temperature (see supplyContribution).
//
//   k10temp, zenpower: Tctl is left out where the chip also reports Tdie (Tctl carries an offset
//                      on some CPUs);
//   nvme:              only Composite where the drive has one;
//   BAT*:              left out where the power supply of that name gives the temperature;
//   jc42, spd5118, ddr_thermal and the SoC thermal zones socZoneOf calls memory: memory keys;
//   every other input: a service (the sampler decides whether it feeds anything).
TemperatureContribution temperatureContribution(std::string_view chip, std::string_view label,
                                                std::span<const std::string> chipLabels,
                                                bool supplyReportsTemperature) noexcept;

struct SupplyContribution {
    bool presented;           // its temperature is a service
    std::string_view reason;  // why not; empty when presented

    friend bool operator==(const SupplyContribution&, const SupplyContribution&) = default;
};

// Whether a power supply's "temp" file is presented: only a supply of type "Battery" that has
// the file and whose scope is not "Device" (the batteries of mice, keyboards and headsets).
// `type` and `scope` are the files' texts, nothing where a file is missing or unreadable.
SupplyContribution supplyContribution(std::optional<std::string_view> type,
                                      std::optional<std::string_view> scope,
                                      bool hasTemperature) noexcept;

}  // namespace tessly::hwmon
