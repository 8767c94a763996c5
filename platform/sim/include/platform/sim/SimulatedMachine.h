#pragma once
// Built-in simulated machines for `tessly simulate`: scripted SMC keys and temperature services
// whose values follow a seeded, smooth function of time with load spikes, so a main application
// has something realistic to show on any OS and without the hardware.
//
// The value of every sensor at a moment is a pure function of the seconds since the simulation
// started and the machine's fixed seed: the same moment gives the same values whatever came
// before, so runs are reproducible and a test can check any moment directly. The scripts keep no
// record of exchanges, so a simulation that runs for days holds constant memory.

#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "platform/sim/ScriptedSMC.h"
#include "platform/sim/ScriptedTemperatureServices.h"
#include "smc/SMCDriver.h"
#include "thermal/TemperatureServices.h"

namespace tessly::sim {

class SimulatedMachine {
  public:
    struct Info {
        std::string_view name;         // as given on the command line
        std::string_view description;  // one line for --list
    };

    // The built-in machines, the default first.
    static std::span<const Info> catalog() noexcept;

    // The machine of that name from the catalog, at its values of moment 0; nothing for a name
    // that is not in the catalog.
    static std::optional<SimulatedMachine> make(std::string_view name);

    const Info& info() const noexcept { return *info_; }

    // Sets every sensor to its value `seconds` after the simulation started.
    void advanceTo(double seconds);

    // Services and an SMC connection answering from this machine's scripts; any number may exist
    // at once, and all follow advanceTo.
    std::unique_ptr<TemperatureServices> temperatureServices() const;
    std::unique_ptr<SMCDriver> smcDriver() const;

    // The scripts themselves, to look at what the machine answers.
    const ScriptedSMC& smc() const noexcept { return smc_; }
    const ScriptedTemperatureServices& temperatures() const noexcept { return temperatures_; }

    enum class Kind;

  private:
    SimulatedMachine(const Info& info, Kind kind);

    const Info* info_;
    Kind kind_;
    ScriptedSMC smc_;
    ScriptedTemperatureServices temperatures_;
};

}  // namespace tessly::sim
