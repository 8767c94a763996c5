#pragma once
// What the sensors of one scan are used for: the temperature services in the order they are
// presented, the memory inputs behind the "TRD*" SMC keys, the fans behind the "F<i>*" keys, and
// every sensor file left out with the reason. A pure function of the scan.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/SysfsScan.h"
#include "platform/linux/SysfsText.h"

namespace tessly::hwmon {

enum class Unit {
    millidegreeCelsius,  // hwmon tempN_input
    decidegreeCelsius,   // power_supply temp
    rpm,                 // hwmon fanN_*
};

// A file's integer in the unit the samplers receive: degrees Celsius, or revolutions per minute.
double valueOf(std::int64_t raw, Unit unit) noexcept;

// A kept input across scans. hwmon numbers change when a driver is bound again or a device
// plugged again, so a chip is known by its name, its device and its place among the chips of
// that name and device (almost always the only one; where class entries are no links, the
// device is empty and the place tells same-named chips apart).
struct ChannelIdentity {
    std::string chip;
    std::string device;    // ChipScan::device
    unsigned ordinal = 0;  // among the chips of that name and device, in hwmon-number order
    unsigned index = 0;    // N of tempN / fanN

    friend bool operator==(const ChannelIdentity&, const ChannelIdentity&) = default;
};

struct PlannedService {
    std::string productName;  // "<chip> <label>", or "power_supply <supply>"
    std::string path;
    Unit unit;
};

struct PlannedMemory {
    ChannelIdentity identity;
    std::string label;
    std::string path;  // its tempN_input
};

struct PlannedFan {
    ChannelIdentity identity;
    std::string label;
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
    std::vector<PlannedService> services;  // hwmon inputs by chip number and index, then supplies
    std::vector<PlannedMemory> memory;     // key i = smc::memoryKeys[i], at most all of them
    std::vector<PlannedFan> fans;  // fan i, by hwmon number then fan index; at most smc::mostFans
    std::vector<LeftOutFile> leftOut;
};

SensorPlan planSensors(const SysfsScan& scan);

// The chip and channel of a kept input in a (later) scan, or nothing when the chip or the
// channel is gone.
struct LocatedChannel {
    const ChipScan* chip;
    const Channel* channel;
};
std::optional<LocatedChannel> locate(const SysfsScan& scan, const ChannelIdentity& identity,
                                     SensorType type) noexcept;

// Path of one attribute of a channel: "<dir>/temp3_input", "<dir>/fan1_max".
std::string attributePath(const ChipScan& chip, SensorType type, unsigned index,
                          std::string_view item);

}  // namespace tessly::hwmon
