#pragma once
// The four plain value records that the agent and a main application exchange. Every field is
// public and defaults to "absent" (or 0 / false), so designated initialisers name only what they
// set. Nothing ties fields of one record together: no field is checked, clamped or normalised.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tessly {

// Temperatures in degrees Celsius; each absent when no sensor of that kind gave a value.
struct ThermalReading {
    std::optional<double> cpuTemperatureC = std::nullopt;
    std::optional<double> gpuTemperatureC = std::nullopt;
    std::optional<double> memoryTemperatureC = std::nullopt;
    std::optional<double> batteryTemperatureC = std::nullopt;
    std::optional<double> storageTemperatureC = std::nullopt;

    // Field-wise IEEE equality: NaN equals nothing, absent equals only absent.
    friend bool operator==(const ThermalReading&, const ThermalReading&) = default;
};

// A fan speed range in revolutions per minute, min strictly below max.
struct RPMRange {
    double min = 0;
    double max = 0;

    friend bool operator==(const RPMRange&, const RPMRange&) = default;
};

// Fan speeds in revolutions per minute.
struct FanReading {
    double rpm = 0;                                          // the representative (highest) speed
    std::int64_t fanCount = 0;                               // number of fans
    std::optional<std::vector<double>> rpms = std::nullopt;  // speed of each fan, fan 0 first
    std::optional<double> minRPM = std::nullopt;             // lowest minimum speed of any fan
    std::optional<double> maxRPM = std::nullopt;             // highest maximum speed of any fan

    // True only when rpm > 0 (false for 0, negatives and NaN).
    bool isSpinning() const noexcept;
    // rpms when present and non-empty, otherwise the single element rpm; empty only when memory
    // for the list ran out.
    std::vector<double> perFanRPMs() const noexcept;
    // The limits when both are present and minRPM < maxRPM; absent otherwise (NaN included).
    std::optional<RPMRange> range() const noexcept;
    // "1235 rpm" (rpm rounded half away from zero) for a positive rpm, "Off" otherwise; empty
    // only when memory for the text ran out.
    std::string shortDescription() const noexcept;

    // Field-wise IEEE equality; an absent rpms differs from an empty one.
    friend bool operator==(const FanReading&, const FanReading&) = default;
};

// What the main application asks of the agent.
struct SensorControl {
    bool autostart = false;  // keep the agent registered as a login item
    // Seconds since 1970 at which a stop was asked for; agents launched before it stop.
    std::optional<double> stopRequestedAt = std::nullopt;
};

// One published sample.
struct SensorsPayload {
    std::optional<ThermalReading> thermal = std::nullopt;
    std::optional<FanReading> fan = std::nullopt;
    double sampledAt = 0;  // seconds since 1970, with fraction
    std::optional<std::string> helperVersion = std::nullopt;
};

}  // namespace tessly
