#pragma once
// How the sampler reads the product names of Linux temperature services ("<chip> <label>").
//
// An hwmon input is named after its chip (the content of the hwmon directory's "name" file) and
// its label (the "tempN_label" content, or "tempN" where the input has none). A power supply's
// battery temperature is named powerSupplyChip, a space, and the supply's name ("power_supply
// BAT0"). The choices that need a chip's other inputs (Tctl beside Tdie, an nvme's Composite, a
// BAT* chip whose power supply reports the same temperature) are made when the services are
// discovered; what reaches the sampler is classified by the chip alone.

#include <optional>
#include <string_view>

namespace tessly {

enum class HwmonTemperatureKind { cpu, gpu, battery, storage };

// The chip part of the product name of a power supply's battery temperature.
inline constexpr std::string_view powerSupplyChip = "power_supply";

// What a Linux temperature service of this product name feeds, or nothing when it is ignored.
// A pure function of the name.
std::optional<HwmonTemperatureKind> hwmonTemperatureKind(std::string_view productName) noexcept;

}  // namespace tessly
