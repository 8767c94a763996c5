#include "cli/Sparkline.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string_view>

namespace tessly::cli {
namespace {

constexpr std::array<std::string_view, 8> bars{"▁", "▂", "▃", "▄", "▅", "▆", "▇", "█"};

bool usable(const std::optional<double>& value) {
    return value && std::isfinite(*value);
}

}  // namespace

std::string sparkline(std::span<const std::optional<double>> values, double minimumSpan,
                      std::optional<double> floor) {
    double lowest = 0;
    double highest = 0;
    bool any = false;
    for (const auto& value : values) {
        if (!usable(value)) continue;
        lowest = any ? std::min(lowest, *value) : *value;
        highest = any ? std::max(highest, *value) : *value;
        any = true;
    }
    const double span = std::max(highest - lowest, std::isfinite(minimumSpan) ? minimumSpan : 0.0);
    double bottom = (lowest + highest) / 2 - span / 2;
    if (floor && std::isfinite(*floor) && lowest >= *floor) bottom = std::max(bottom, *floor);

    std::string line;
    for (const auto& value : values) {
        if (!usable(value)) {
            line += ' ';
            continue;
        }
        // An infinite span (values at opposite ends of the double range) or a zero one puts
        // every bar in the middle.
        double position = 0.5;
        if (span > 0 && std::isfinite(span)) position = (*value - bottom) / span;
        const auto level =
            static_cast<std::size_t>(std::clamp(position * static_cast<double>(bars.size()), 0.0,
                                                static_cast<double>(bars.size() - 1)));
        line += bars[level];
    }
    return line;
}

}  // namespace tessly::cli
