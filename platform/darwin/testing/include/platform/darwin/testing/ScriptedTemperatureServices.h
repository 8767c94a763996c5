#pragma once
// Scripted temperature services: an ordered list of services, each with a product name (or none)
// and a temperature (or none), answered over the TemperatureServices seam and recording what was
// asked. Tests keep the script and hand services() to the code under test; both share one script,
// so temperatures and failures can be changed between calls and the record read back afterwards.
// Single-threaded.
//
// A listing fixes how many services it holds when it is made; names and temperatures are read
// from the script at the moment they are asked for, as the platform's services answer live.

#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>

#include "hid/TemperatureServices.h"

namespace tessly::darwin {

class ScriptedTemperatureServices {
  public:
    ScriptedTemperatureServices();

    // Appends a service and returns its index (0-based, in listing order).
    std::size_t add(std::string_view name, std::optional<double> celsius);
    // Appends a service without a product name (none, or one that is not a string).
    std::size_t addWithoutName(std::optional<double> celsius);

    // Changes a service; an index that names no service is ignored.
    ScriptedTemperatureServices& setTemperature(std::size_t index, std::optional<double> celsius);
    // While set, every listing fails (copyServices gives null).
    ScriptedTemperatureServices& failListing(bool fail = true);

    // Services answering from this script. Any number may exist at once.
    std::unique_ptr<TemperatureServices> services() const;

    // Listings asked for, failed ones included.
    std::size_t listings() const noexcept;
    // Reads of one service's name or temperature (0 for an index that names no service), and of
    // all services' temperatures.
    std::size_t nameReads(std::size_t index) const noexcept;
    std::size_t temperatureReads(std::size_t index) const noexcept;
    std::size_t temperatureReads() const noexcept;

    struct State;

  private:
    std::shared_ptr<State> state_;
};

}  // namespace tessly::darwin
