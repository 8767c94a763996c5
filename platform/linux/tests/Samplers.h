#pragma once
// Test support: both samplers over a sysfs tree, as the agent builds them (each with its own
// SMC driver), on a manual clock.

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "base/ManualClock.h"
#include "platform/linux/HwmonSensors.h"
#include "platform/linux/tests/SysfsTree.h"
#include "smc/FanSampler.h"
#include "thermal/ThermalSampler.h"

namespace tessly::hwmon::testing {

struct Samplers {
    explicit Samplers(SysfsTree& tree)
        : thermal(makeHwmonTemperatureServices(tree.root(), tree.reader(), clock),
                  openHwmonSMCDriver(tree.root(), tree.reader(), clock), clock),
          fans(SMCBridge(openHwmonSMCDriver(tree.root(), tree.reader(), clock))) {}

    ManualClock clock;
    ThermalSampler thermal;
    FanSampler fans;
};

// The reading the fan sampler makes of these speeds and limits.
inline FanReading fanReading(std::vector<double> rpms, std::optional<double> min = std::nullopt,
                             std::optional<double> max = std::nullopt) {
    FanReading r;
    r.fanCount = static_cast<std::int64_t>(rpms.size());
    r.rpm = *std::max_element(rpms.begin(), rpms.end());
    r.rpms = std::move(rpms);
    r.minRPM = min;
    r.maxRPM = max;
    return r;
}

}  // namespace tessly::hwmon::testing
