#include "platform/linux/SysfsSensors.h"

#include <string_view>
#include <unordered_map>
#include <utility>

#include "platform/linux/SysfsScan.h"

namespace tessly::hwmon {
namespace {

class SysfsTemperatures final : public TemperatureSource {
  public:
    explicit SysfsTemperatures(std::shared_ptr<SysfsSensors> sensors) noexcept
        : sensors_(std::move(sensors)) {}
    bool readTemperatures(TemperatureSink& sink) override {
        return sensors_->readTemperatures(sink);
    }

  private:
    std::shared_ptr<SysfsSensors> sensors_;
};

class SysfsFans final : public FanSource {
  public:
    explicit SysfsFans(std::shared_ptr<SysfsSensors> sensors) noexcept
        : sensors_(std::move(sensors)) {}
    std::optional<FanReading> readFans() override { return sensors_->readFans(); }

  private:
    std::shared_ptr<SysfsSensors> sensors_;
};

// A limit file's value, read once at discovery.
std::optional<double> readLimit(FileReader& reader, const std::optional<std::string>& path) {
    if (!path) return std::nullopt;
    SensorFile file(reader, *path);
    const SensorValue limit = file.read();
    if (!limit.value) return std::nullopt;
    return valueOf(*limit.value, Unit::rpm);
}

// Where each path of `paths` was kept open before: the files at the same path move over to
// the new discovery, so only new paths are opened.
template <typename Kept, typename PathOf>
std::vector<std::optional<std::size_t>> keptAt(const std::vector<Kept>& kept, PathOf pathOf,
                                               const std::vector<std::string_view>& paths) {
    std::unordered_map<std::string_view, std::size_t> before;
    for (std::size_t i = 0; i < kept.size(); ++i)
        before.emplace(pathOf(kept[i]), i);
    std::vector<std::optional<std::size_t>> at;
    at.reserve(paths.size());
    for (const auto path : paths) {
        const auto found = before.find(path);
        at.push_back(found == before.end() ? std::nullopt : std::optional(found->second));
    }
    return at;
}

}  // namespace

SysfsSensors::SysfsSensors(std::string sysfsRoot, FileReader& reader, Clock& clock,
                           const DeviceChanges* changes) noexcept
    : root_(std::move(sysfsRoot)), reader_(reader), clock_(clock), schedule_(changes) {}

bool SysfsSensors::readTemperatures(TemperatureSink& sink) {
    refresh();
    if (!discoveredOnce_) return false;
    for (auto& input : temperatures_) {
        const SensorValue value = input.file.read();
        noteGone(value);
        if (value.value) sink.add(input.category, valueOf(*value.value, input.unit));
    }
    return true;
}

std::optional<FanReading> SysfsSensors::readFans() {
    refresh();
    if (fans_.empty()) return std::nullopt;
    std::vector<double> speeds;
    speeds.reserve(fans_.size());
    for (auto& fan : fans_) {
        const SensorValue speed = fan.read();
        noteGone(speed);
        speeds.push_back(speed.value ? valueOf(*speed.value, Unit::rpm) : 0.0);
    }
    return fanReadingOf(std::move(speeds), fanRange_);
}

void SysfsSensors::noteGone(const SensorValue& value) noexcept {
    if (value.deviceGone()) schedule_.deviceGone();
}

void SysfsSensors::refresh() {
    const double now = clock_.monotonicNow();
    switch (schedule_.due(now)) {
        case DiscoverySchedule::Due::nothing:
            return;
        case DiscoverySchedule::Due::discovery:
            discover(now);
            return;
        case DiscoverySchedule::Due::listingCheck:
            if (auto listing = listSensorEntries(reader_, root_); listing != listing_) {
                discover(now, std::move(listing));
            } else {
                schedule_.listed(now);
            }
            return;
    }
}

// Replaces what the last discovery found. Everything that allocates happens before the first
// change, so a discovery that runs out of memory leaves the last one whole. When the walk fails,
// an earlier discovery stays in use until the next look; without one, every reading tries again.
void SysfsSensors::discover(double now, std::optional<std::vector<std::string>> listed) {
    // Listed before the walk (here, or by the check that found the listing changed): a device
    // that comes in between changes the next listing.
    auto listing = listed ? std::move(*listed) : listSensorEntries(reader_, root_);
    const auto scan = scanSysfs(reader_, root_);
    if (!scan) {
        if (discoveredOnce_) schedule_.discovered(now);
        return;
    }
    const SensorPlan plan = planSensors(*scan);

    std::vector<Temperature> temperatures;
    std::vector<std::string_view> temperaturePaths;
    temperatures.reserve(plan.temperatures.size());
    temperaturePaths.reserve(plan.temperatures.size());
    for (const auto& planned : plan.temperatures) {
        if (!planned.category) continue;
        temperatures.push_back(
            {*planned.category, planned.unit, SensorFile(reader_, planned.path)});
        temperaturePaths.push_back(planned.path);
    }
    std::vector<SensorFile> fans;
    std::vector<std::string_view> fanPaths;
    FanLimits limits;
    fans.reserve(plan.fans.size());
    fanPaths.reserve(plan.fans.size());
    for (const auto& planned : plan.fans) {
        fans.emplace_back(reader_, planned.inputPath);
        fanPaths.push_back(planned.inputPath);
        limits.add(readLimit(reader_, planned.minPath), readLimit(reader_, planned.maxPath));
    }
    const auto keptTemperatures = keptAt(
        temperatures_, [](const Temperature& t) -> std::string_view { return t.file.path(); },
        temperaturePaths);
    const auto keptFans = keptAt(
        fans_, [](const SensorFile& f) -> std::string_view { return f.path(); }, fanPaths);

    // Nothing below allocates.
    for (std::size_t i = 0; i < temperatures.size(); ++i) {
        if (keptTemperatures[i])
            temperatures[i].file = std::move(temperatures_[*keptTemperatures[i]].file);
    }
    for (std::size_t i = 0; i < fans.size(); ++i) {
        if (keptFans[i]) fans[i] = std::move(fans_[*keptFans[i]]);
    }
    temperatures_ = std::move(temperatures);
    fans_ = std::move(fans);
    fanRange_ = limits.range();
    listing_ = std::move(listing);
    discoveredOnce_ = true;
    schedule_.discovered(now);
}

std::unique_ptr<TemperatureSource> temperatureSourceOf(std::shared_ptr<SysfsSensors> sensors) {
    if (!sensors) return nullptr;
    return std::make_unique<SysfsTemperatures>(std::move(sensors));
}

std::unique_ptr<FanSource> fanSourceOf(std::shared_ptr<SysfsSensors> sensors) {
    if (!sensors) return nullptr;
    return std::make_unique<SysfsFans>(std::move(sensors));
}

}  // namespace tessly::hwmon
