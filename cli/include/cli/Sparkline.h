#pragma once
// A row of block characters, one per value, showing how a series moved.

#include <optional>
#include <span>
#include <string>

namespace tessly::cli {

// One of ▁▂▃▄▅▆▇█ per value, scaled between the lowest and the highest finite value, and a blank
// for an absent or non-finite one. The scale spans at least `minimumSpan`, centred on the values'
// middle, so small noise on a steady value stays a flat line instead of filling the range. Where
// the quantity has a `floor` (0 for a speed) and no value lies below it, the scale never reaches
// below the floor, so a value at the floor draws the lowest block: a stopped fan sits at the
// bottom, not at mid-height, even when all values are 0.
std::string sparkline(std::span<const std::optional<double>> values, double minimumSpan,
                      std::optional<double> floor = std::nullopt);

}  // namespace tessly::cli
