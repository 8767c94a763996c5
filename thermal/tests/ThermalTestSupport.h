#pragma once
// Readable expected readings and their printing for the thermal tests.

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <tuple>

#include <TesslyKit/Records.h>

namespace tessly {

// An expected reading built field by field: Reading().cpu(50.0).memory(40.0).
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
    *os << "cpu, gpu, memory, battery, storage "
        << ::testing::PrintToString(std::tuple(r.cpuTemperatureC, r.gpuTemperatureC,
                                               r.memoryTemperatureC, r.batteryTemperatureC,
                                               r.storageTemperatureC));
}

}  // namespace tessly
