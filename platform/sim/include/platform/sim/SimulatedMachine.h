#pragma once
// Built-in simulated machines for `tessly simulate`: temperatures and fans whose values follow a
// seeded, smooth function of time with load spikes, so a main application has something realistic
// to show on any OS and without the hardware.
//
// A machine speaks the domain's terms: its sensors come already classified, as each platform
// hands them over, and its fans as speeds and limits. The value of every sensor at a moment is a
// pure function of the seconds since the simulation started and the machine's fixed seed: the
// same moment gives the same values whatever came before, so runs are reproducible and a test can
// check any moment directly. A machine keeps no record of what was read, so a simulation that
// runs for days holds constant memory.

#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "fans/FanSource.h"
#include "thermal/TemperatureSource.h"

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

    // The machine's temperatures and its fans. Any number may exist at once, and all follow
    // advanceTo.
    std::unique_ptr<TemperatureSource> temperatureSource() const;
    std::unique_ptr<FanSource> fanSource() const;

    enum class Kind;
    struct State;

  private:
    SimulatedMachine(const Info& info, Kind kind);

    const Info* info_;
    Kind kind_;
    std::shared_ptr<State> state_;
};

}  // namespace tessly::sim
