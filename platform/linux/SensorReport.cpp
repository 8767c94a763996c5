#include "platform/linux/SensorReport.h"

#include "platform/linux/SensorFile.h"
#include "platform/linux/SensorPlan.h"

namespace tessly::hwmon {
namespace {

// Reads the entry's file once, in the unit the samplers receive.
void readInto(SensorReportEntry& entry, FileReader& reader, Unit unit) {
    SensorFile file(reader, entry.path);
    const SensorValue reading = file.read();
    entry.readError = reading.error;
    if (reading.value) entry.value = valueOf(*reading.value, unit);
}

}  // namespace

std::vector<SensorReportEntry> reportSensors(std::string_view root, FileReader& reader) {
    std::vector<SensorReportEntry> out;
    const auto scan = scanSysfs(reader, root);
    if (!scan) {
        out.push_back({std::string(root) + "/class/hwmon",
                       {},
                       {},
                       {},
                       "the hwmon directory cannot be read",
                       std::nullopt,
                       scan.error()});
        return out;
    }
    const SensorPlan plan = planSensors(*scan);

    for (const auto& input : plan.temperatures) {
        out.push_back({input.path, input.chip, input.label,
                       input.category ? std::string(payloadField(*input.category)) : std::string(),
                       std::string(input.reason), std::nullopt, 0});
        readInto(out.back(), reader, input.unit);
    }
    for (std::size_t i = 0; i < plan.fans.size(); ++i) {
        const auto& fan = plan.fans[i];
        const auto add = [&](const std::string& path, std::string feeds) {
            out.push_back({path, fan.chip, fan.label, std::move(feeds), {}, std::nullopt, 0});
            readInto(out.back(), reader, Unit::rpm);
        };
        add(fan.inputPath, "rpms[" + std::to_string(i) + "]");
        if (fan.minPath) add(*fan.minPath, "minRPM");
        if (fan.maxPath) add(*fan.maxPath, "maxRPM");
    }
    for (const auto& left : plan.leftOut) {
        out.push_back({left.path,
                       left.chip,
                       left.label,
                       {},
                       std::string(left.reason),
                       std::nullopt,
                       left.error});
        if (left.unit) readInto(out.back(), reader, *left.unit);
    }
    return out;
}

}  // namespace tessly::hwmon
