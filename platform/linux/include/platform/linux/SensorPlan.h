#pragma once
// What the sensors of one scan feed: the temperature inputs with their categories, the fans with
// their limit files, and every sensor file left out with the reason. A pure function of the scan:
// here, at discovery, each input is classified once.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/SysfsScan.h"
#include "platform/linux/SysfsText.h"
#include "thermal/TemperatureCategory.h"

namespace tessly::hwmon {

enum class Unit {
    millidegreeCelsius,  // hwmon tempN_input
    decidegreeCelsius,   // power_supply temp
    rpm,                 // hwmon fanN_*
};

// A file's integer in the domain's unit: degrees Celsius, or revolutions per minute.
double valueOf(std::int64_t raw, Unit unit) noexcept;

// A temperature input, with the category it feeds, or nothing with the reason where its chip
// feeds none (those are listed among the rest for the report, and never read by the agent).
struct PlannedTemperature {
    std::optional<TemperatureCategory> category;
    std::string_view reason;  // why it feeds nothing; empty where it feeds a category
    std::string chip;         // the hwmon chip's name, or "power_supply"
    std::string label;        // the input's label ("tempN" without one), or the supply's name
    std::string path;
    Unit unit;
};

struct PlannedFan {
    std::string chip;
    std::string label;  // "fanN" without one
    std::string inputPath;
    std::optional<std::string> minPath;
    std::optional<std::string> maxPath;
};

struct LeftOutFile {
    std::string path;
    std::string chip;  // empty where unknown
    std::string label;
    std::string_view reason;
    int error = 0;             // errno behind the reason, where one was met
    std::optional<Unit> unit;  // of the value the file holds; nothing for a directory
};

struct SensorPlan {
    // hwmon inputs by chip number and index, then power supplies.
    std::vector<PlannedTemperature> temperatures;
    // Left out for a reason beyond the chip's name (Tctl beside Tdie, an unreadable chip, ...).
    std::vector<PlannedFan> fans;  // fan i of the reading: by hwmon number, then fan index
    std::vector<LeftOutFile> leftOut;
};

SensorPlan planSensors(const SysfsScan& scan);

// The chip name used for a power supply's temperature.
inline constexpr std::string_view powerSupplyChip = "power_supply";

// Path of one attribute of a channel: "<dir>/temp3_input", "<dir>/fan1_max".
std::string attributePath(const ChipScan& chip, SensorType type, unsigned index,
                          std::string_view item);

}  // namespace tessly::hwmon
