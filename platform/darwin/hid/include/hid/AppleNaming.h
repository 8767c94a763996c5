#pragma once
// What an Apple HID temperature service measures, by its product name. A pure function of the
// name, tested by table.

#include <optional>
#include <string_view>

#include "thermal/TemperatureCategory.h"

namespace tessly {

// The first of five ordered tests that decides; nothing when none does (the service is not a
// sensor of interest). Only the battery test ignores case.
//   contains "tdie"                             cpu
//   contains " TP" and ends in 's'              cpu
//   contains " TP" and ends in 'g'              gpu
//   contains "battery", in any case             battery
//   contains "NAND"                             storage
// Memory temperature comes from SMC keys, never from a service name.
std::optional<TemperatureCategory> appleCategory(std::string_view productName) noexcept;

}  // namespace tessly
