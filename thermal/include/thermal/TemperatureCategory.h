#pragma once
// The kinds of temperature a payload carries, and the field each feeds. Every platform sorts its
// sensors into these when it finds them; the domain only reduces them.

#include <string_view>

namespace tessly {

enum class TemperatureCategory { cpu, gpu, memory, battery, storage };

// The payload field a category feeds: "cpuTemperatureC", "gpuTemperatureC", ...
std::string_view payloadField(TemperatureCategory category) noexcept;

}  // namespace tessly
