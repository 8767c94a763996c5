#pragma once
// How the sampler reads the product names of Linux temperature services ("<chip> <label>").

#include <optional>
#include <string_view>

namespace tessly {

enum class HwmonTemperatureKind { cpu, gpu, battery, storage };

// What a Linux temperature service of this product name feeds, or nothing when it is ignored.
// A pure function of the name.
std::optional<HwmonTemperatureKind> hwmonTemperatureKind(std::string_view productName) noexcept;

}  // namespace tessly
