#include "platform/linux/SensorPlan.h"

#include <algorithm>
#include <map>

#include "smc/SMCKeys.h"
#include "thermal/HwmonContribution.h"
#include "thermal/TemperatureCategory.h"

namespace tessly::hwmon {
namespace {

std::string_view typeName(SensorType type) noexcept {
    return type == SensorType::temp ? "temp" : "fan";
}

void leaveOutChip(const ChipScan& chip, SensorPlan& plan) {
    const std::string name = chip.name.value_or("");
    for (const auto& channel : chip.temps) {
        plan.leftOut.push_back({attributePath(chip, SensorType::temp, channel.index, "input"), name,
                                channel.displayLabel("temp"), chip.ignoredBecause, chip.error,
                                Unit::millidegreeCelsius});
    }
    for (const auto& channel : chip.fans) {
        plan.leftOut.push_back({attributePath(chip, SensorType::fan, channel.index, "input"), name,
                                channel.displayLabel("fan"), chip.ignoredBecause, chip.error,
                                Unit::rpm});
    }
    if (chip.temps.empty() && chip.fans.empty()) {
        plan.leftOut.push_back(
            {chip.attributeDir, name, {}, chip.ignoredBecause, chip.error, std::nullopt});
    }
}

void planTemperatures(const ChipScan& chip, unsigned ordinal, bool supplyReportsTemperature,
                      SensorPlan& plan) {
    const std::string& name = *chip.name;
    std::vector<std::string> labels;
    labels.reserve(chip.temps.size());
    for (const auto& channel : chip.temps) {
        labels.push_back(channel.displayLabel("temp"));
    }

    for (std::size_t i = 0; i < chip.temps.size(); ++i) {
        const auto& channel = chip.temps[i];
        std::string path = attributePath(chip, SensorType::temp, channel.index, "input");
        const auto contribution =
            temperatureContribution(name, labels[i], labels, supplyReportsTemperature);
        switch (contribution.use) {
            case TemperatureUse::service:
                plan.services.push_back(
                    {name + " " + labels[i], std::move(path), Unit::millidegreeCelsius});
                break;
            case TemperatureUse::memoryKey:
                if (plan.memory.size() < smc::memoryKeys.size()) {
                    plan.memory.push_back(
                        {{name, chip.device, ordinal, channel.index}, labels[i], std::move(path)});
                } else {
                    plan.leftOut.push_back({std::move(path), name, labels[i],
                                            "beyond the 21 memory keys", 0,
                                            Unit::millidegreeCelsius});
                }
                break;
            case TemperatureUse::leftOut:
                plan.leftOut.push_back({std::move(path), name, labels[i], contribution.reason, 0,
                                        Unit::millidegreeCelsius});
                break;
        }
    }
}

void planFans(const ChipScan& chip, unsigned ordinal, SensorPlan& plan) {
    const std::string& name = *chip.name;
    for (const auto& channel : chip.fans) {
        std::string label = channel.displayLabel("fan");
        std::string path = attributePath(chip, SensorType::fan, channel.index, "input");
        if (plan.fans.size() >= smc::mostFans) {
            plan.leftOut.push_back({std::move(path), name, std::move(label),
                                    "beyond the 110 fans that SMC keys can tell apart", 0,
                                    Unit::rpm});
            continue;
        }
        PlannedFan fan{
            {name, chip.device, ordinal, channel.index}, std::move(label), std::move(path), {}, {}};
        if (channel.hasMin) {
            fan.minPath = attributePath(chip, SensorType::fan, channel.index, "min");
        }
        if (channel.hasMax) {
            fan.maxPath = attributePath(chip, SensorType::fan, channel.index, "max");
        }
        plan.fans.push_back(std::move(fan));
    }
}

}  // namespace

double valueOf(std::int64_t raw, Unit unit) noexcept {
    const auto value = static_cast<double>(raw);
    switch (unit) {
        case Unit::millidegreeCelsius:
            return value / 1000.0;
        case Unit::decidegreeCelsius:
            return value / 10.0;
        case Unit::rpm:
            break;
    }
    return value;
}

std::string attributePath(const ChipScan& chip, SensorType type, unsigned index,
                          std::string_view item) {
    std::string path = chip.attributeDir;
    path += '/';
    path += typeName(type);
    path += std::to_string(index);
    path += '_';
    path += item;
    return path;
}

SensorPlan planSensors(const SysfsScan& scan) {
    SensorPlan plan;
    std::vector<std::string_view> suppliesWithTemperature;
    for (const auto& supply : scan.supplies) {
        // Only a supply that actually gives a temperature stands in for its BAT* chip: one whose
        // temp file fails every read would otherwise leave the battery without any value.
        const auto contribution =
            supplyContribution(supply.type, supply.scope, supply.hasTemperature);
        if (contribution.presented && supply.givesTemperature) {
            suppliesWithTemperature.push_back(supply.name);
        }
    }

    std::map<std::string, unsigned, std::less<>> chipsSeen;
    for (const auto& chip : scan.chips) {
        if (!chip.name) {
            leaveOutChip(chip, plan);
            continue;
        }
        const unsigned ordinal = chipsSeen[*chip.name + '\0' + chip.device]++;
        const bool supplyReports =
            std::find(suppliesWithTemperature.begin(), suppliesWithTemperature.end(), *chip.name) !=
            suppliesWithTemperature.end();
        planTemperatures(chip, ordinal, supplyReports, plan);
        planFans(chip, ordinal, plan);
    }

    for (const auto& supply : scan.supplies) {
        const auto contribution =
            supplyContribution(supply.type, supply.scope, supply.hasTemperature);
        if (contribution.presented) {
            plan.services.push_back({std::string(powerSupplyChip) + " " + supply.name,
                                     supply.dir + "/temp", Unit::decidegreeCelsius});
        } else if (supply.hasTemperature || supply.type == "Battery") {
            const bool file = supply.hasTemperature;
            plan.leftOut.push_back({file ? supply.dir + "/temp" : supply.dir,
                                    std::string(powerSupplyChip), supply.name, contribution.reason,
                                    0,
                                    file ? std::optional(Unit::decidegreeCelsius) : std::nullopt});
        }
    }
    for (const auto& stray : scan.stray) {
        plan.leftOut.push_back({stray.path, {}, {}, stray.reason, stray.error, std::nullopt});
    }
    return plan;
}

std::optional<LocatedChannel> locate(const SysfsScan& scan, const ChannelIdentity& identity,
                                     SensorType type) noexcept {
    unsigned ordinal = 0;
    for (const auto& chip : scan.chips) {
        if (chip.name != identity.chip || chip.device != identity.device) continue;
        if (ordinal++ != identity.ordinal) continue;
        const auto& channels = type == SensorType::temp ? chip.temps : chip.fans;
        for (const auto& channel : channels) {
            if (channel.index == identity.index) return LocatedChannel{&chip, &channel};
        }
        return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace tessly::hwmon
