#pragma once
// The commands in-process: a scratch HOME (and XDG_CONFIG_HOME), a manual clock that `pause`
// advances, a hand-fired host, and string streams for what the commands print.

#include <gtest/gtest.h>

#include <TesslyKit/TesslyKit.h>

#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "base/ManualClock.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "platform/sim/HandDrivenHost.h"
#include "testing/Scratch.h"

namespace tessly::cli::testing {

// 2026-01-01T00:00:00Z.
inline constexpr double kNewYear = 1767225600.0;
// The shared container of a HOME shown as "~".
inline constexpr std::string_view kContainerText =
    "~/Library/Group Containers/group.app.tessly.sensors/";

// A payload with every reading but memory, two fans and their limits.
inline SensorsPayload fullPayload(double sampledAt) {
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
            .helperVersion = "1.4.0"};
}

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

class CliTest : public ::testing::Test {
  protected:
    tessly::testing::TempDir scratch;
    std::filesystem::path home = scratch / "home";
    tessly::testing::ScopedEnv homeVar{"HOME", home.string()};
    tessly::testing::ScopedEnv configVar{"XDG_CONFIG_HOME", (scratch / "config").string()};
    ManualClock clock{kNewYear};
    tessly::sim::HandDrivenHost host;
    // Called after every pause of a command, with the clock already advanced.
    std::function<void()> duringPause;

    std::filesystem::path container() const {
        return home / "Library" / "Group Containers" / std::string(SensorBridge::groupID);
    }
    std::filesystem::path sensorsFile() const { return container() / "sensors.json"; }
    std::filesystem::path controlFile() const { return container() / "control.json"; }

    // Runs `tessly <args>` in-process.
    Outcome run(std::vector<std::string> args) {
        args.insert(args.begin(), "tessly");
        std::vector<const char*> argv;
        for (const auto& arg : args)
            argv.push_back(arg.c_str());
        argv.push_back(nullptr);

        std::ostringstream out;
        std::ostringstream err;
        Console console{out, err, clock,
                        [this](double seconds) {
                            clock.advance(seconds);
                            if (duringPause) duringPause();
                        },
                        host};
        Outcome outcome;
        outcome.status = tesslyMain(static_cast<int>(args.size()), argv.data(), console);
        outcome.out = out.str();
        outcome.err = err.str();
        return outcome;
    }

    // Replaces the text with the scratch HOME's path by "~", for golden texts.
    std::string withoutHome(std::string text) const {
        const std::string path = home.string();
        for (std::size_t at; (at = text.find(path)) != std::string::npos;) {
            text.replace(at, path.size(), "~");
        }
        return text;
    }
};

}  // namespace tessly::cli::testing
