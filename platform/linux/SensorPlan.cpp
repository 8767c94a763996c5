#include "platform/linux/SensorPlan.h"

#include <algorithm>

#include "platform/linux/HwmonClassification.h"

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

void planTemperatures(const ChipScan& chip, bool supplyReportsTemperature, SensorPlan& plan) {
    const std::string& name = *chip.name;
    std::vector<std::string> labels;
    labels.reserve(chip.temps.size());
    for (const auto& channel : chip.temps) {
        labels.push_back(channel.displayLabel("temp"));
    }

    for (std::size_t i = 0; i < chip.temps.size(); ++i) {
        const auto& channel = chip.temps[i];
        std::string path = attributePath(chip, SensorType::temp, channel.index, "input");
        const auto use = classifyTemperature(name, labels[i], labels, supplyReportsTemperature);
        if (use.category || use.reason == notASensorWeRead) {
            plan.temperatures.push_back({use.category, use.reason, name, labels[i], std::move(path),
                                         Unit::millidegreeCelsius});
        } else {
            plan.leftOut.push_back(
                {std::move(path), name, labels[i], use.reason, 0, Unit::millidegreeCelsius});
        }
    }
}

void planFans(const ChipScan& chip, SensorPlan& plan) {
    for (const auto& channel : chip.fans) {
        PlannedFan fan{*chip.name,
                       channel.displayLabel("fan"),
                       attributePath(chip, SensorType::fan, channel.index, "input"),
                       {},
                       {}};
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

    for (const auto& chip : scan.chips) {
        if (!chip.name) {
            leaveOutChip(chip, plan);
            continue;
        }
        const bool supplyReports =
            std::find(suppliesWithTemperature.begin(), suppliesWithTemperature.end(), *chip.name) !=
            suppliesWithTemperature.end();
        planTemperatures(chip, supplyReports, plan);
        planFans(chip, plan);
    }

    for (const auto& supply : scan.supplies) {
        const auto contribution =
            supplyContribution(supply.type, supply.scope, supply.hasTemperature);
        if (contribution.presented) {
            plan.temperatures.push_back({TemperatureCategory::battery,
                                         {},
                                         std::string(powerSupplyChip),
                                         supply.name,
                                         supply.dir + "/temp",
                                         Unit::decidegreeCelsius});
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

}  // namespace tessly::hwmon
