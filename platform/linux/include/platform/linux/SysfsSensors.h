#pragma once
// The Linux machine's sensors: one discovery of /sys/class/hwmon and /sys/class/power_supply
// yields the temperature inputs, each classified when found, and the fans with their limits.
// Between discoveries a value costs one pread of its kept file (see SensorFile); see
// DiscoverySchedule for when discovery runs again, so that chips, fans and memory modules that
// come or go after launch are followed.
//
// Not thread-safe: one thread, the agent's.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <TesslyKit/Records.h>

#include "base/Clock.h"
#include "fans/FanSource.h"
#include "platform/linux/DeviceEvents.h"
#include "platform/linux/DiscoverySchedule.h"
#include "platform/linux/FileReader.h"
#include "platform/linux/SensorFile.h"
#include "platform/linux/SensorPlan.h"
#include "thermal/TemperatureSource.h"

namespace tessly::hwmon {

class SysfsSensors {
  public:
    // `sysfsRoot` is the root of the sysfs tree ("/sys"; a temporary tree in tests). Reads go
    // through `reader`, discovery is timed on `clock`'s monotonic time, and `changes` (null: no
    // device events) tells of devices that came or went; all three must outlive the sensors.
    // Nothing is read yet.
    SysfsSensors(std::string sysfsRoot, FileReader& reader, Clock& clock,
                 const DeviceChanges* changes) noexcept;

    // Adds the current value of every classified temperature input to `sink`, discovering first
    // where due. False while no discovery has succeeded (/sys/class/hwmon exists but cannot be
    // listed); a machine without the directory has no sensors, and that is a reading.
    bool readTemperatures(TemperatureSink& sink);

    // The fans now, discovering first where due: their number, each speed (one pread of
    // fanN_input; a speed that cannot be read counts as 0) and the limits read from fanN_min and
    // fanN_max at the last discovery. Nothing without fans.
    std::optional<FanReading> readFans();

  private:
    struct Temperature {
        TemperatureCategory category;
        Unit unit;
        SensorFile file;
    };

    void refresh();
    // `listing`: the class directories' entries, where the caller has just listed them.
    void discover(double now, std::optional<std::vector<std::string>> listing = std::nullopt);
    void noteGone(const SensorValue& value) noexcept;

    std::string root_;
    FileReader& reader_;
    Clock& clock_;
    DiscoverySchedule schedule_;
    bool discoveredOnce_ = false;
    std::vector<std::string> listing_;  // the class directories' entries at the last discovery
    std::vector<Temperature> temperatures_;
    std::vector<SensorFile> fans_;  // each fan's fanN_input
    std::optional<RPMRange> fanRange_;
};

// The seams over one SysfsSensors, which each keeps alive. Both read the same discovery.
std::unique_ptr<TemperatureSource> temperatureSourceOf(std::shared_ptr<SysfsSensors> sensors);
std::unique_ptr<FanSource> fanSourceOf(std::shared_ptr<SysfsSensors> sensors);

}  // namespace tessly::hwmon
