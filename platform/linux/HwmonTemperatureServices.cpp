// Temperature services over hwmon temperature inputs and power supply temperatures.

#include <map>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/DiscoverySchedule.h"
#include "platform/linux/HwmonSensors.h"
#include "platform/linux/SensorFile.h"
#include "platform/linux/SensorPlan.h"

namespace tessly::hwmon {
namespace {

struct Service {
    std::string productName;
    std::shared_ptr<SensorFile> file;  // shared with the set before, where the path is the same
    Unit unit;
};

// The services of one discovery, shared by the services object and the lists it hands out, so a
// list stays valid when a later discovery replaces the set.
struct ServiceSet {
    std::vector<Service> services;
    bool deviceGone = false;  // a read met ENODEV or ENOENT since the set was handed out
};

class HwmonServiceList final : public TemperatureServiceList {
  public:
    explicit HwmonServiceList(std::shared_ptr<ServiceSet> set) noexcept : set_(std::move(set)) {}

    std::size_t count() const noexcept override { return set_->services.size(); }

    std::optional<std::string_view> productName(std::size_t index) noexcept override {
        if (index >= count()) return std::nullopt;
        return set_->services[index].productName;
    }

    // One pread of the service's file (and its open, on the first reading).
    std::optional<double> temperature(std::size_t index) noexcept override {
        if (index >= count()) return std::nullopt;
        Service& service = set_->services[index];
        const SensorValue reading = service.file->read();
        if (reading.deviceGone()) set_->deviceGone = true;
        if (!reading.value) return std::nullopt;
        return valueOf(*reading.value, service.unit);
    }

  private:
    std::shared_ptr<ServiceSet> set_;
};

class HwmonTemperatureServices final : public TemperatureServices {
  public:
    HwmonTemperatureServices(std::shared_ptr<SharedScan> scan, FileReader& reader, Clock& clock,
                             const DeviceChanges* changes) noexcept
        : scan_(std::move(scan)), reader_(reader), clock_(clock), schedule_(changes) {}

    SensorNaming naming() const noexcept override { return SensorNaming::hwmon; }

    std::unique_ptr<TemperatureServiceList> copyServices() noexcept override {
        if (set_ && set_->deviceGone) {
            set_->deviceGone = false;
            schedule_.deviceGone();
            scan_->deviceGone();
        }
        constexpr auto cadence = DiscoverySchedule::Cadence::followDevices;
        if (schedule_.mayBeDue(cadence)) {
            const double now = clock_.monotonicNow();
            if (schedule_.due(now, cadence)) discover(now);
        }
        if (!set_) return nullptr;
        try {
            return std::make_unique<HwmonServiceList>(set_);
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
    }

  private:
    // Replaces the set with a fresh discovery's. A file at the same path as before is kept open
    // (one whose device went away meanwhile reports that on its next read and is reopened);
    // only new paths are opened. When discovery fails, an earlier set stays in use until the
    // next regular discovery; without one, every listing tries again.
    void discover(double now) noexcept {
        const auto& scan = scan_->scan(now);
        if (scan) {
            try {
                const SensorPlan plan = planSensors(*scan);
                std::map<std::string_view, std::shared_ptr<SensorFile>> before;
                if (set_) {
                    for (const auto& service : set_->services) {
                        before.emplace(service.file->path(), service.file);
                    }
                }
                auto set = std::make_shared<ServiceSet>();
                set->services.reserve(plan.services.size());
                for (const auto& planned : plan.services) {
                    const auto kept = before.find(planned.path);
                    auto file = kept != before.end()
                                    ? kept->second
                                    : std::make_shared<SensorFile>(reader_, planned.path);
                    set->services.push_back({planned.productName, std::move(file), planned.unit});
                }
                set_ = std::move(set);
            } catch (const std::bad_alloc&) {
                if (!set_) return;
            }
        } else if (!set_) {
            return;
        }
        schedule_.discovered(now);
    }

    std::shared_ptr<SharedScan> scan_;
    FileReader& reader_;
    Clock& clock_;
    DiscoverySchedule schedule_;
    std::shared_ptr<ServiceSet> set_;  // null until a discovery succeeds
};

}  // namespace

std::unique_ptr<TemperatureServices> makeHwmonTemperatureServices(
    std::string sysfsRoot, FileReader& reader, Clock& clock, const DeviceChanges* changes,
    std::shared_ptr<SharedScan> scan) noexcept {
    try {
        if (!scan) scan = std::make_shared<SharedScan>(std::move(sysfsRoot), reader, changes);
        return std::make_unique<HwmonTemperatureServices>(std::move(scan), reader, clock, changes);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace tessly::hwmon
