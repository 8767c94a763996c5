#pragma once
// Bit-exact comparison of records: -0.0 differs from 0.0, absent differs from present, an
// absent speed list differs from an empty one.

#include <TesslyKit/Records.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <optional>
#include <vector>

namespace tessly::fuzz {

inline bool sameBits(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

inline bool sameBits(const std::optional<double>& a, const std::optional<double>& b) {
    return a.has_value() == b.has_value() && (!a || sameBits(*a, *b));
}

inline bool sameBits(const std::optional<std::vector<double>>& a,
                     const std::optional<std::vector<double>>& b) {
    if (a.has_value() != b.has_value()) return false;
    if (!a) return true;
    return a->size() == b->size() && std::equal(a->begin(), a->end(), b->begin(),
                                                [](double x, double y) { return sameBits(x, y); });
}

inline bool sameBits(const ThermalReading& a, const ThermalReading& b) {
    return sameBits(a.cpuTemperatureC, b.cpuTemperatureC) &&
           sameBits(a.gpuTemperatureC, b.gpuTemperatureC) &&
           sameBits(a.memoryTemperatureC, b.memoryTemperatureC) &&
           sameBits(a.batteryTemperatureC, b.batteryTemperatureC) &&
           sameBits(a.storageTemperatureC, b.storageTemperatureC);
}

inline bool sameBits(const FanReading& a, const FanReading& b) {
    return sameBits(a.rpm, b.rpm) && a.fanCount == b.fanCount && sameBits(a.rpms, b.rpms) &&
           sameBits(a.minRPM, b.minRPM) && sameBits(a.maxRPM, b.maxRPM);
}

inline bool sameBits(const SensorControl& a, const SensorControl& b) {
    return a.autostart == b.autostart && sameBits(a.stopRequestedAt, b.stopRequestedAt);
}

inline bool sameBits(const SensorsPayload& a, const SensorsPayload& b) {
    if (a.thermal.has_value() != b.thermal.has_value() || a.fan.has_value() != b.fan.has_value()) {
        return false;
    }
    return (!a.thermal || sameBits(*a.thermal, *b.thermal)) &&
           (!a.fan || sameBits(*a.fan, *b.fan)) && sameBits(a.sampledAt, b.sampledAt) &&
           a.helperVersion == b.helperVersion;
}

}  // namespace tessly::fuzz
