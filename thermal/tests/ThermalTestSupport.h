#pragma once
// Readable expected readings and their printing for the thermal tests.

#include <optional>
#include <ostream>

#include <TesslyKit/Records.h>

namespace tessly {

// An expected reading built field by field: Reading().cpu(50.0).memory(40.0). (Designated
// initialisers that name only some fields trip -Wmissing-field-initializers on GCC 12.)
struct Reading : ThermalReading {
    Reading& cpu(double c) { return set(cpuTemperatureC, c); }
    Reading& gpu(double c) { return set(gpuTemperatureC, c); }
    Reading& memory(double c) { return set(memoryTemperatureC, c); }
    Reading& battery(double c) { return set(batteryTemperatureC, c); }
    Reading& storage(double c) { return set(storageTemperatureC, c); }

  private:
    Reading& set(std::optional<double>& field, double c) {
        field = c;
        return *this;
    }
};

inline void PrintTo(const ThermalReading& r, std::ostream* os) {
    const auto field = [os](const char* name, const std::optional<double>& v) {
        *os << name << '=';
        if (v) {
            *os << *v;
        } else {
            *os << "absent";
        }
        *os << ' ';
    };
    field("cpu", r.cpuTemperatureC);
    field("gpu", r.gpuTemperatureC);
    field("memory", r.memoryTemperatureC);
    field("battery", r.batteryTemperatureC);
    field("storage", r.storageTemperatureC);
}

}  // namespace tessly
