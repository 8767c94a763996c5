// The payload as people read it: golden texts on fixed payloads at fixed times.

#include <gtest/gtest.h>

#include "cli/PayloadText.h"
#include "cli/tests/CliTestSupport.h"

namespace tessly::cli {
namespace {

using testing::kNewYear;
using PState = PayloadStatus::State;

SensorsPayload fullPayload() {
    return testing::fullPayload(kNewYear + 0.5);
}

PayloadStatus status(PState state, std::optional<SensorsPayload> payload = std::nullopt,
                     std::optional<double> age = std::nullopt) {
    PayloadStatus s;
    s.state = state;
    s.file = "/home/u/Library/Group Containers/group.app.tessly.sensors/sensors.json";
    s.payload = std::move(payload);
    s.age = age;
    return s;
}

TEST(PayloadText, EveryReadingAlignedWithTheFansTheirLimitsTheAgeAndTheVersion) {
    EXPECT_EQ(payloadText(fullPayload(), kNewYear + 1.0),
              "CPU           48.5 °C\n"
              "GPU           41.2 °C\n"
              "Battery       30.5 °C\n"
              "Storage       36.0 °C\n"
              "Fans         1320 rpm  (2 fans)\n"
              "  fan 0      1320 rpm\n"
              "  fan 1      1276 rpm\n"
              "Fan limits   1000–4900 rpm\n"
              "Sampled      0.5 s ago\n"
              "Agent        1.4.0\n");
}

TEST(PayloadText, AbsentPartsAreSaidNotInvented) {
    const SensorsPayload fanless{.thermal = ThermalReading{.cpuTemperatureC = 104.25},
                                 .sampledAt = kNewYear + 2};
    EXPECT_EQ(payloadText(fanless, kNewYear),
              "CPU          104.2 °C\n"
              "Fans         none\n"
              "Sampled      2.0 s in the future\n"
              "Agent        (no version)\n");

    // Equal limits make no range; one fan gets no per-fan lines.
    const SensorsPayload quiet{.thermal = ThermalReading{},
                               .fan = FanReading{.rpm = 0,
                                                 .fanCount = 1,
                                                 .rpms = std::vector<double>{0},
                                                 .minRPM = 1000,
                                                 .maxRPM = 1000},
                               .sampledAt = kNewYear,
                               .helperVersion = "1.4.0"};
    EXPECT_EQ(payloadText(quiet, kNewYear + 192.7),
              "Temperatures none\n"
              "Fans         Off  (1 fan)\n"
              "Sampled      3 min 12 s ago\n"
              "Agent        1.4.0\n");
}

TEST(PayloadText, WhyThereIsNoCurrentPayload) {
    // (The command tests cover missing, unreadable, invalid and a stale age in seconds.)
    EXPECT_EQ(absenceText(status(PState::stale, fullPayload(), 7530)),
              "the last payload, in /home/u/Library/Group Containers/group.app.tessly.sensors/"
              "sensors.json, is 2 h 5 min old; payloads older than 6 s count as absent (has the "
              "agent stopped?)");
    EXPECT_EQ(absenceText(PayloadStatus{}),
              "the shared container cannot be located (no home directory is known)");
}

TEST(PayloadText, LogLinesForCurrentStaleAndMissingPayloads) {
    EXPECT_EQ(logLine(status(PState::current, fullPayload(), 0.5), kNewYear + 1),
              "2026-01-01T00:00:01Z cpu=48.5 gpu=41.2 battery=30.5 storage=36.0 fan=1320 "
              "fans=1320,1276 age=0.5");
    const SensorsPayload memoryOnly{.thermal = ThermalReading{.memoryTemperatureC = 40},
                                    .sampledAt = kNewYear};
    EXPECT_EQ(logLine(status(PState::stale, memoryOnly, 61), kNewYear + 61),
              "2026-01-01T00:01:01Z memory=40.0 age=61.0 STALE");
    EXPECT_EQ(logLine(status(PState::missing), kNewYear),
              "2026-01-01T00:00:00Z no payload: /home/u/Library/Group "
              "Containers/group.app.tessly.sensors/sensors.json does not exist (is the agent "
              "running?)");
}

}  // namespace
}  // namespace tessly::cli
