#include "fans/FanSource.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace tessly {

void FanLimits::add(std::optional<double> minimum, std::optional<double> maximum) noexcept {
    if (minimum && std::isfinite(*minimum) && (!lowest_ || *minimum < *lowest_)) lowest_ = minimum;
    if (maximum && std::isfinite(*maximum) && (!highest_ || *maximum > *highest_)) {
        highest_ = maximum;
    }
}

std::optional<RPMRange> FanLimits::range() const noexcept {
    if (lowest_ && highest_ && *lowest_ < *highest_) return RPMRange{*lowest_, *highest_};
    return std::nullopt;
}

std::optional<FanReading> fanReadingOf(std::vector<double> speeds, std::optional<RPMRange> range) {
    if (speeds.empty()) return std::nullopt;
    // A speed that is not finite would make the payload impossible to write: it counts as a fan
    // whose speed cannot be read.
    for (double& speed : speeds) {
        if (!std::isfinite(speed)) speed = 0.0;
    }
    FanReading reading;
    reading.rpm = *std::max_element(speeds.begin(), speeds.end());
    reading.fanCount = static_cast<std::int64_t>(speeds.size());
    reading.rpms = std::move(speeds);
    if (range) {
        reading.minRPM = range->min;
        reading.maxRPM = range->max;
    }
    return reading;
}

}  // namespace tessly
