#pragma once
// The commands in-process: a scratch HOME, a manual clock that `pause` advances, a hand-driven
// host, and string streams for what they print.

#include <gmock/gmock.h>

#include <TesslyKit/TesslyKit.h>

#include <functional>
#include <sstream>

#include "base/ManualClock.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "platform/sim/HandDrivenHost.h"
#include "testing/Scratch.h"

namespace tessly::cli::testing {

using namespace tessly::testing;
using ::testing::_;
using ::testing::AllOf;
using ::testing::EndsWith;
using ::testing::FieldsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;
using ::testing::Truly;

// 2026-01-01T00:00:00Z.
inline constexpr double kNewYear = 1767225600.0;

// A payload with every reading but memory, two fans and their limits.
inline SensorsPayload fullPayload(double sampledAt, std::string helperVersion = "1.4.0") {
    return {.thermal = ThermalReading{.cpuTemperatureC = 48.5,
                                      .gpuTemperatureC = 41.25,
                                      .batteryTemperatureC = 30.5,
                                      .storageTemperatureC = 36},
            .fan = FanReading{.rpm = 1320,
                              .fanCount = 2,
                              .rpms = std::vector<double>{1320, 1275.5},
                              .minRPM = 1000,
                              .maxRPM = 4900},
            .sampledAt = sampledAt,
            .helperVersion = std::move(helperVersion)};
}

// What a command returned and printed; matched whole with ::testing::FieldsAre.
struct Outcome {
    int status = -1;
    std::string out;
    std::string err;

    friend void PrintTo(const Outcome& o, std::ostream* os) {
        *os << o.status << " " << ::testing::PrintToString(o.out) << " "
            << ::testing::PrintToString(o.err);
    }
};

class CliTest : public ::testing::Test, protected ScratchHome {
  protected:
    ManualClock clock{kNewYear};
    sim::HandDrivenHost host;
    std::function<void()> duringPause;  // after every pause, the clock already advanced

    // `tessly <args>`, in-process.
    Outcome run(const std::vector<std::string>& args) {
        std::vector<const char*> argv{"tessly"};
        for (const auto& arg : args)
            argv.push_back(arg.c_str());
        const auto pause = [this](double seconds) {
            clock.advance(seconds);
            if (duringPause) duringPause();
        };
        std::ostringstream out, err;
        Console console{out, err, clock, pause, host, (dir / "sys").string()};
        const int status = tesslyMain(static_cast<int>(argv.size()), argv.data(), console);
        return {status, out.str(), err.str()};
    }
};

}  // namespace tessly::cli::testing
