#pragma once
// One walk of /sys/class/hwmon and /sys/class/power_supply: which chips and supplies exist, what
// they are called, and which temperature and fan attributes each has. The walk lists
// directories and reads names and labels; it reads no sensor value and keeps nothing open.
//
// hwmon attributes live in the hwmonN directory, or for drivers of the older layout (no "name"
// file there) in its "device/" directory. A chip whose name cannot be found or read is kept
// with the reason it is ignored, so that the sensor report can show it.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/FileReader.h"

namespace tessly::hwmon {

// One tempN or fanN channel of a chip.
struct Channel {
    unsigned index = 0;     // N, 1 or more
    bool hasInput = false;  // tempN_input / fanN_input exists
    bool hasMin = false;    // fanN_min exists (fans only)
    bool hasMax = false;    // fanN_max exists (fans only)
    std::optional<std::string>
        label;  // tempN_label / fanN_label, when present, readable, not empty

    // The label, or "tempN" / "fanN" where the channel has none.
    std::string displayLabel(std::string_view type) const;
};

struct ChipScan {
    std::string entry;    // "hwmon3"
    unsigned number = 0;  // 3
    // The device the chip belongs to: where its class entry links, without the hwmon part
    // ("../../devices/platform/coretemp.0"). It outlives the hwmon number, which changes when
    // the driver is bound again. Empty where the entry is not a link.
    std::string device;
    std::string attributeDir;         // where its attributes live (ends without '/')
    std::optional<std::string> name;  // the chip's name; nothing when ignored
    std::string_view ignoredBecause;  // empty for a chip in use
    int error = 0;                    // errno behind ignoredBecause, where one was met
    std::vector<Channel> temps;       // by index
    std::vector<Channel> fans;        // by index
};

struct SupplyScan {
    std::string name;  // "BAT0"
    std::string dir;
    std::optional<std::string> type;   // "Battery", "Mains", ...; nothing when unreadable
    std::optional<std::string> scope;  // "System", "Device", ...; nothing when absent
    bool hasTemperature = false;       // a "temp" file exists
    // A battery's "temp" file gave a temperature when it was read during the scan (many
    // batteries have the file but answer every read with ENODATA).
    bool givesTemperature = false;
};

// An entry of a class directory that cannot be used, with the reason.
struct StrayEntry {
    std::string path;
    std::string_view reason;
    int error = 0;
};

struct SysfsScan {
    bool hwmonPresent = false;         // /sys/class/hwmon exists
    std::vector<ChipScan> chips;       // by hwmon number
    std::vector<SupplyScan> supplies;  // by name
    std::vector<StrayEntry> stray;     // entries that are not chips, unreadable supply lists, ...
};

// Walks `sysfsRoot` ("/sys", or a test tree). The errno when /sys/class/hwmon exists but cannot
// be listed; a missing directory is a machine without sensors: an empty scan.
IoResult<SysfsScan> scanSysfs(FileReader& reader, std::string_view sysfsRoot);

// The entries of /sys/class/hwmon and /sys/class/power_supply under `sysfsRoot`, as
// "hwmon/<entry>" and "power_supply/<entry>", sorted, with "hwmon/?" or "power_supply/?" for a
// directory that exists but cannot be listed. A chip bound again gets a new hwmon number, so a
// device that came or went changes this listing: what a check that receives no device events
// compares, at the cost of one open, read and close per directory.
std::vector<std::string> listSensorEntries(FileReader& reader, std::string_view sysfsRoot);

}  // namespace tessly::hwmon
