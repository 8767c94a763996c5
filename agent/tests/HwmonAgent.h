#pragma once
// The agent over the Linux sensors of a sysfs tree, for tests: the hwmon temperature services and
// one hwmon SMC driver per sampler, as the platform's defaults build them over /sys.

#include <memory>
#include <string>

#include "agent/SensorsAgent.h"
#include "platform/linux/HwmonSensors.h"

namespace tessly::testing {

inline std::shared_ptr<SensorsAgent> makeHwmonAgent(const std::string& sysfsRoot, Clock& clock,
                                                    SensorsAgent::Services services) {
    auto& reader = hwmon::FileReader::Default();
    return std::make_shared<SensorsAgent>(
        ThermalSampler(hwmon::makeHwmonTemperatureServices(sysfsRoot, reader, clock),
                       hwmon::openHwmonSMCDriver(sysfsRoot, reader, clock), clock),
        FanSampler(SMCBridge(hwmon::openHwmonSMCDriver(sysfsRoot, reader, clock))),
        std::move(services));
}

}  // namespace tessly::testing
