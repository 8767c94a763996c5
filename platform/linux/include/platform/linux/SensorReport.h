#pragma once
// What the machine's sensors feed, for the `tessly sensors` command: every sensor file found
// under the sysfs root, what it feeds or why it is ignored, and its current value or read error.
// A plain list; rendering it is the caller's business.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/FileReader.h"

namespace tessly::hwmon {

struct SensorReportEntry {
    std::string path;   // the sensor file (or a directory that could not be used)
    std::string chip;   // the hwmon chip's name, "power_supply", or empty where unknown
    std::string label;  // the channel's label ("tempN"/"fanN" without one), or the supply
    // What it feeds in the payload: a temperature field ("cpuTemperatureC"), a fan's speed
    // ("rpms[0]") or the fans' limits ("minRPM", "maxRPM").
    std::string feeds;
    std::string whyIgnored;       // why it feeds nothing; empty when it feeds something
    std::optional<double> value;  // now, in degrees Celsius or RPM, as the samplers receive it
    int readError = 0;  // errno of a failed read; 0 and no value: not a number, or nothing read
};

// One discovery of `sysfsRoot` and one read of every sensor file it finds. Entries come in this
// order: temperatures as discovered, fans (each input, then its limits), then everything left
// out. An hwmon directory that cannot be read is one entry with the error; a missing one gives
// no entries.
std::vector<SensorReportEntry> reportSensors(std::string_view sysfsRoot,
                                             FileReader& reader = FileReader::Default());

}  // namespace tessly::hwmon
