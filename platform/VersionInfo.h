#pragma once
// Seam: the agent's version text (the bundle's short version string on macOS, the version the
// build compiled in on Linux). Nothing when there is none; never a placeholder.

#include <optional>
#include <string>

namespace tessly {

std::optional<std::string> platformVersionText();

}  // namespace tessly
