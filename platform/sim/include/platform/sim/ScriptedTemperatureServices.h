#pragma once
// Scripted temperature services: an ordered list of services, each with a product name (or none,
// or a property that is not a string) and a temperature (or none), answered over the
// TemperatureServices seam and recording what was asked. Tests keep the script and hand
// services() to the code under test; both share one script, so names, temperatures and failures
// can be changed between calls and the record read back afterwards. Single-threaded.
//
// A listing fixes how many services it holds when it is made; names and temperatures are read
// from the script at the moment they are asked for, as the platform's services answer live.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "thermal/TemperatureServices.h"

namespace tessly::sim {

class ScriptedTemperatureServices {
  public:
    explicit ScriptedTemperatureServices(SensorNaming naming = SensorNaming::apple);

    // A laptop with Apple Silicon: "PMU tdie0" … "PMU tdie10" (44.0 °C rising by 0.75 to
    // 51.5 °C), "PMU TP0s" 48.25, "PMU TP1g" 43.5, "PMU tdev1" 38.0, "PMU tcal" 51.875 (a
    // constant calibration value), "gas gauge battery" 30.5, "NAND CH0 temp" 35.0 and "noname"
    // 0.0, in that order.
    static ScriptedTemperatureServices appleSiliconLaptop();

    // Appends a service and returns its index (0-based, in listing order).
    std::size_t add(std::string_view name, std::optional<double> celsius);
    // Appends a service whose product-name property is missing.
    std::size_t addWithoutName(std::optional<double> celsius);
    // Appends a service whose product-name property is not a string.
    std::size_t addWithNonStringName(std::optional<double> celsius);

    // Changes a service; an index that names no service is ignored.
    ScriptedTemperatureServices& setName(std::size_t index, std::string_view name);
    ScriptedTemperatureServices& removeName(std::size_t index);
    ScriptedTemperatureServices& setTemperature(std::size_t index, std::optional<double> celsius);

    ScriptedTemperatureServices& setNaming(SensorNaming naming);
    // While set, every listing fails (copyServices gives null).
    ScriptedTemperatureServices& failListing(bool fail = true);

    // Services answering from this script. Any number may exist at once.
    std::unique_ptr<TemperatureServices> services() const;

    std::size_t serviceCount() const noexcept;
    // Listings asked for, failed ones included.
    std::size_t listings() const noexcept;
    // Reads of one service's name or temperature (0 for an index that names no service), and of
    // all services' temperatures.
    std::size_t nameReads(std::size_t index) const noexcept;
    std::size_t temperatureReads(std::size_t index) const noexcept;
    std::size_t temperatureReads() const noexcept;
    void clearRecord() noexcept;

    struct State;

  private:
    std::shared_ptr<State> state_;
};

}  // namespace tessly::sim
