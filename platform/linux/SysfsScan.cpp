#include "platform/linux/SysfsScan.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <new>
#include <set>
#include <utility>

#include "platform/linux/SysfsText.h"

namespace tessly::hwmon {
namespace {

bool contains(const std::vector<std::string>& names, std::string_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The readable, non-empty text of a small attribute file, or nothing.
std::optional<std::string> readText(FileReader& reader, const std::string& path) {
    const auto raw = readSmallFile(reader, path);
    if (!raw) return std::nullopt;
    std::string text = attributeText(*raw);
    if (text.empty()) return std::nullopt;
    return text;
}

// The temp and fan channels among a chip's file names, with their labels read.
void collectChannels(FileReader& reader, ChipScan& chip, const std::vector<std::string>& names) {
    std::map<unsigned, Channel> temps;
    std::map<unsigned, Channel> fans;
    std::set<unsigned> tempLabels;
    std::set<unsigned> fanLabels;
    for (const auto& name : names) {
        const auto attribute = parseSensorAttribute(name);
        if (!attribute) continue;
        const bool isTemp = attribute->type == SensorType::temp;
        Channel& channel = (isTemp ? temps : fans)[attribute->index];
        channel.index = attribute->index;
        switch (attribute->item) {
            case SensorItem::input:
                channel.hasInput = true;
                break;
            case SensorItem::label:
                (isTemp ? tempLabels : fanLabels).insert(attribute->index);
                break;
            case SensorItem::min:
                channel.hasMin = !isTemp;
                break;
            case SensorItem::max:
                channel.hasMax = !isTemp;
                break;
        }
    }
    const auto keep = [&](std::map<unsigned, Channel>& channels, const std::set<unsigned>& labelled,
                          std::string_view type, std::vector<Channel>& out) {
        for (auto& [index, channel] : channels) {
            if (!channel.hasInput) continue;  // limits or a label without a reading
            if (labelled.contains(index)) {
                channel.label = readText(reader, chip.attributeDir + "/" + std::string(type) +
                                                     std::to_string(index) + "_label");
            }
            out.push_back(std::move(channel));
        }
    };
    keep(temps, tempLabels, "temp", chip.temps);
    keep(fans, fanLabels, "fan", chip.fans);
}

// "../../devices/platform/nct6775.656/hwmon/hwmon3" -> "../../devices/platform/nct6775.656"; the
// nvme layout has no "hwmon" level ("../../devices/.../nvme/nvme0/hwmon1" -> ".../nvme/nvme0").
std::string deviceOf(std::string_view link) {
    while (link.ends_with('/')) {
        link.remove_suffix(1);
    }
    const auto slash = link.rfind('/');
    link = slash == std::string_view::npos ? std::string_view{} : link.substr(0, slash);
    if (link.ends_with("/hwmon")) link.remove_suffix(6);
    return std::string(link);
}

ChipScan scanChip(FileReader& reader, const std::string& dir, std::string entry, unsigned number) {
    ChipScan chip;
    chip.entry = std::move(entry);
    chip.number = number;
    chip.attributeDir = dir;
    if (const auto link = reader.readLink(dir); link) chip.device = deviceOf(*link);
    auto listing = reader.listDirectory(dir);
    if (!listing) {
        chip.ignoredBecause = "the chip's directory cannot be read";
        chip.error = listing.error();
        return chip;
    }
    std::vector<std::string> names = std::move(*listing);
    if (!contains(names, "name") && contains(names, "device")) {
        // Older drivers keep every attribute, the name included, in the parent device.
        auto legacy = reader.listDirectory(dir + "/device");
        if (legacy && contains(*legacy, "name")) {
            chip.attributeDir = dir + "/device";
            names = std::move(*legacy);
        }
    }
    collectChannels(reader, chip, names);
    if (!contains(names, "name")) {
        chip.ignoredBecause = "no name file, neither in the hwmon directory nor in device/";
        return chip;
    }
    const auto raw = readSmallFile(reader, chip.attributeDir + "/name");
    if (!raw) {
        chip.ignoredBecause = "the name file cannot be read";
        chip.error = raw.error();
        return chip;
    }
    std::string name = attributeText(*raw);
    if (name.empty()) {
        chip.ignoredBecause = "the name file is empty";
        return chip;
    }
    chip.name = std::move(name);
    return chip;
}

SupplyScan scanSupply(FileReader& reader, std::string dir, std::string name,
                      std::vector<StrayEntry>& stray) {
    SupplyScan supply;
    supply.name = std::move(name);
    supply.dir = std::move(dir);
    const auto listing = reader.listDirectory(supply.dir);
    if (!listing) {
        stray.push_back(
            {supply.dir, "the power supply's directory cannot be read", listing.error()});
        return supply;
    }
    const auto& names = *listing;
    if (contains(names, "type")) supply.type = readText(reader, supply.dir + "/type");
    // Scope matters only for batteries; other supplies cost no further read.
    if (supply.type == "Battery" && contains(names, "scope")) {
        supply.scope = readText(reader, supply.dir + "/scope");
    }
    supply.hasTemperature = contains(names, "temp");
    if (supply.type == "Battery" && supply.hasTemperature) {
        const auto text = readSmallFile(reader, supply.dir + "/temp");
        supply.givesTemperature = text && parseSysfsInteger(*text).has_value();
    }
    return supply;
}

IoResult<SysfsScan> scan(FileReader& reader, const std::string& root) {
    SysfsScan result;
    const std::string hwmonDir = root + "/class/hwmon";
    auto chips = reader.listDirectory(hwmonDir);
    if (chips) {
        result.hwmonPresent = true;
        for (auto& entry : *chips) {
            const std::string path = hwmonDir + "/" + entry;
            const auto number = std::string_view(entry).starts_with("hwmon")
                                    ? parseIndex(std::string_view(entry).substr(5))
                                    : std::nullopt;
            if (!number) {
                result.stray.push_back({path, "not an hwmonN entry", 0});
                continue;
            }
            result.chips.push_back(scanChip(reader, path, std::move(entry), *number));
        }
        std::sort(result.chips.begin(), result.chips.end(),
                  [](const ChipScan& a, const ChipScan& b) { return a.number < b.number; });
    } else if (chips.error() != ENOENT) {
        return unexpected(chips.error());
    }

    const std::string supplyDir = root + "/class/power_supply";
    auto supplies = reader.listDirectory(supplyDir);
    if (supplies) {
        std::sort(supplies->begin(), supplies->end());
        for (auto& name : *supplies) {
            std::string path = supplyDir + "/" + name;
            result.supplies.push_back(
                scanSupply(reader, std::move(path), std::move(name), result.stray));
        }
    } else if (supplies.error() != ENOENT) {
        // Without the supplies, batteries fall back to their BAT* hwmon chips.
        result.stray.push_back(
            {supplyDir, "the power supply list cannot be read", supplies.error()});
    }
    return result;
}

}  // namespace

std::string Channel::displayLabel(std::string_view type) const {
    if (label) return *label;
    return std::string(type) + std::to_string(index);
}

IoResult<SysfsScan> scanSysfs(FileReader& reader, std::string_view sysfsRoot) noexcept {
    try {
        return scan(reader, std::string(sysfsRoot));
    } catch (const std::bad_alloc&) {
        return unexpected(ENOMEM);
    }
}

SharedScan::SharedScan(std::string sysfsRoot, FileReader& reader,
                       const DeviceChanges* changes) noexcept
    : root_(std::move(sysfsRoot)), reader_(reader), changes_(changes) {}

const IoResult<SysfsScan>& SharedScan::scan(double now) noexcept {
    const std::uint64_t generation = changes_ != nullptr ? changes_->generation() : 0;
    if (shared_ && generation == generation_ && now >= takenAt_ && now - takenAt_ < sameMoment) {
        return last_;
    }
    last_ = scanSysfs(reader_, root_);
    takenAt_ = now;
    generation_ = generation;
    shared_ = last_.has_value();
    return last_;
}

}  // namespace tessly::hwmon
