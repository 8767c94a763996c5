#pragma once
// The agent on a simulated machine, for tests: scripted sensors (an Apple Silicon laptop with one
// memory key and one fan), a manual clock, and the hand-driven host, login items and log.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "agent/SensorsAgent.h"
#include "base/ManualClock.h"
#include "platform/sim/HandDrivenHost.h"
#include "platform/sim/ScriptedSMC.h"
#include "platform/sim/ScriptedTemperatureServices.h"

namespace tessly::testing {

struct ScriptedMachine {
    ManualClock clock;
    sim::HandDrivenHost host;
    sim::RecordingLoginItems loginItems;
    sim::RecordingLog log;
    sim::ScriptedTemperatureServices services =
        sim::ScriptedTemperatureServices::appleSiliconLaptop();
    sim::ScriptedSMC thermalSMC;
    sim::ScriptedSMC fanSMC;

    ScriptedMachine() {
        thermalSMC.setFloat("TRD0", 41.5f);
        fanSMC.setUInt8("FNum", 1).setFloat("F0Ac", 1200.0f);
    }

    // An agent over these sensors (without temperature services when `withServices` is false),
    // made the host's delegate but not launched.
    sim::FixedVersion version{"1.0"};

    std::shared_ptr<SensorsAgent> makeAgent(bool withServices = true) {
        auto agent = std::make_shared<SensorsAgent>(
            ThermalSampler(withServices ? services.services() : nullptr, thermalSMC.driver(),
                           clock),
            FanSampler(SMCBridge(fanSMC.driver())),
            SensorsAgent::Services{host, loginItems, log, clock, version});
        host.setDelegate(agent.get());
        return agent;
    }

    // One tick, one interval after the previous one.
    void tick() {
        clock.advance(SensorsAgent::tickInterval);
        host.fire();
    }
};

}  // namespace tessly::testing
