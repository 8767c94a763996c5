#include "platform/linux/SensorReport.h"

#include <new>

#include "platform/linux/SensorFile.h"
#include "platform/linux/SensorPlan.h"
#include "smc/SMCKeys.h"

namespace tessly::hwmon {
namespace {

// Reads the entry's file once, in the unit the samplers receive.
void readInto(SensorReportEntry& entry, FileReader& reader, Unit unit) {
    SensorFile file(reader, entry.path);
    const SensorValue reading = file.read();
    entry.readError = reading.error;
    if (reading.value) entry.value = valueOf(*reading.value, unit);
}

void report(std::vector<SensorReportEntry>& out, std::string_view root, PayloadFieldOf fieldOf,
            FileReader& reader) {
    const auto scan = scanSysfs(reader, root);
    if (!scan) {
        out.push_back({std::string(root) + "/class/hwmon",
                       {},
                       {},
                       {},
                       "the hwmon directory cannot be read",
                       std::nullopt,
                       scan.error()});
        return;
    }
    const SensorPlan plan = planSensors(*scan);

    for (const auto& service : plan.services) {
        const std::string_view name = service.productName;
        const auto space = name.find(' ');
        SensorReportEntry entry{service.path,
                                std::string(name.substr(0, space)),
                                std::string(name.substr(space + 1)),
                                {},
                                {},
                                std::nullopt,
                                0};
        if (const auto field = fieldOf != nullptr ? fieldOf(name) : std::nullopt) {
            entry.feeds = *field;
        } else {
            entry.whyIgnored = "not a CPU, GPU, storage or battery sensor";
        }
        readInto(entry, reader, service.unit);
        out.push_back(std::move(entry));
    }
    for (std::size_t i = 0; i < plan.memory.size(); ++i) {
        const auto& memory = plan.memory[i];
        out.push_back({memory.path,
                       memory.identity.chip,
                       memory.label,
                       std::string(smc::memoryKeys[i]),
                       {},
                       std::nullopt,
                       0});
        readInto(out.back(), reader, Unit::millidegreeCelsius);
    }
    for (std::size_t i = 0; i < plan.fans.size(); ++i) {
        const auto& fan = plan.fans[i];
        const auto add = [&](const std::string& path, smc::FanValue value) {
            out.push_back({path,
                           fan.identity.chip,
                           fan.label,
                           std::string(smc::FanKey(i, value).name()),
                           {},
                           std::nullopt,
                           0});
            readInto(out.back(), reader, Unit::rpm);
        };
        add(fan.inputPath, smc::FanValue::speed);
        if (fan.minPath) add(*fan.minPath, smc::FanValue::minimum);
        if (fan.maxPath) add(*fan.maxPath, smc::FanValue::maximum);
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
}

}  // namespace

std::vector<SensorReportEntry> reportSensors(std::string_view sysfsRoot, PayloadFieldOf fieldOf,
                                             FileReader& reader) noexcept {
    std::vector<SensorReportEntry> entries;
    try {
        report(entries, sysfsRoot, fieldOf, reader);
    } catch (const std::bad_alloc&) {
        // What was gathered before memory ran out is still true.
    }
    return entries;
}

}  // namespace tessly::hwmon
