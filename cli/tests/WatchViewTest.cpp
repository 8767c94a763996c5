// What `watch` shows, on fixed looks at fixed times: golden screens and log lines.

#include <gtest/gtest.h>

#include "cli/Format.h"
#include "cli/WatchView.h"
#include "cli/tests/CliTestSupport.h"

namespace tessly::cli {
namespace {

using testing::kNewYear;
using PState = PayloadStatus::State;

const std::filesystem::path kFile =
    "/h/Library/Group Containers/group.app.tessly.sensors/sensors.json";

// The agent's sample of second `t`: the CPU warms by half a degree a second, the GPU holds, and
// the fans start after half a minute.
SensorsPayload sampleAt(int t) {
    SensorsPayload payload;
    payload.thermal = ThermalReading{.cpuTemperatureC = 40 + 0.5 * t, .gpuTemperatureC = 41};
    const double rpm = t < 30 ? 0 : 1200 + (t - 30) * 100;
    payload.fan = FanReading{.rpm = rpm,
                             .fanCount = 2,
                             .rpms = std::vector<double>{rpm, rpm * 0.9},
                             .minRPM = 1200,
                             .maxRPM = 6000};
    payload.sampledAt = kNewYear + t;
    payload.helperVersion = "1.4.0";
    return payload;
}

PayloadStatus look(PState state, std::optional<SensorsPayload> payload, double now) {
    PayloadStatus status;
    status.state = state;
    status.file = kFile;
    if (payload) status.age = now - payload->sampledAt;
    status.payload = std::move(payload);
    return status;
}

// A minute of a publishing agent, looked at a quarter second after each sample.
WatchView minuteOfSamples() {
    WatchView view(1.0);
    for (int t = 0; t < 60; ++t) {
        const double now = kNewYear + t + 0.25;
        view.update(look(PState::current, sampleAt(t), now), now);
    }
    return view;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines)
        text += line + "\n";
    return text;
}

TEST(WatchView, AMinuteOfReadingsWithSparklines) {
    // The CPU's half degree a second fills the eight levels evenly; the GPU holds at the
    // middle; the fans rest for half the minute.
    EXPECT_EQ(joined(minuteOfSamples().screen(80)),
              "tessly watch · agent 1.4.0 · every 1 s · q or Ctrl-C quits\n"
              "Sample 0.2 s old\n"
              "\n"
              "             now         last minute\n"
              "CPU           69.5 °C    ▁▁▁▁▂▂▂▂▃▃▃▄▄▄▄▅▅▅▅▆▆▆▇▇▇▇████\n"
              "GPU           41.0 °C    ▅▅▅▅▅▅▅▅▅▅▅▅▅▅▅▅▅▅▅▅▅▅▅▅▅▅▅▅▅▅\n"
              "Fans         4100 rpm    ▁▁▁▁▁▁▁▁▁▁▁▁▁▁▁▃▃▄▄▅▅▅▆▆▇▇▇███\n"
              "  fan 0      4100 rpm\n"
              "  fan 1      3690 rpm\n"
              "Fan limits   1200–6000 rpm\n");
}

TEST(WatchView, AStoppedAgentIsMarkedStaleAndTheLinesDrainOut) {
    WatchView view = minuteOfSamples();
    const double now = kNewYear + 101.5;
    view.update(look(PState::stale, sampleAt(59), now), now);
    EXPECT_EQ(joined(view.screen(80)),
              "tessly watch · agent 1.4.0 · every 1 s · q or Ctrl-C quits\n"
              "\x1b[7m STALE 42.5 s \x1b[0m the agent stopped publishing; last sample 42.5 s old\n"
              "\n"
              "             now         last minute\n"
              "CPU           69.5 °C    ▁▂▃▄▅▆▇██                     \n"
              "GPU           41.0 °C    ▅▅▅▅▅▅▅▅▅                     \n"
              "Fans         4100 rpm    ▁▂▃▄▅▆▇██                     \n"
              "  fan 0      4100 rpm\n"
              "  fan 1      3690 rpm\n"
              "Fan limits   1200–6000 rpm\n");
    EXPECT_EQ(view.line(),
              "2026-01-01T00:01:41Z cpu=69.5 gpu=41.0 fan=4100 fans=4100,3690 "
              "age=42.5 STALE");
}

TEST(WatchView, APayloadFromFarAheadIsStaleAndAHostileVersionIsShownEscaped) {
    WatchView view(1.0);
    SensorsPayload ahead = sampleAt(0);
    ahead.helperVersion = "1.4\x1b[2J\a";
    const double now = kNewYear - 3600;
    view.update(look(PState::stale, ahead, now), now);
    const auto lines = view.screen(120);
    EXPECT_EQ(lines.at(0), "tessly watch · agent 1.4\\x1b[2J\\x07 · every 1 s · q or Ctrl-C quits");
    EXPECT_EQ(lines.at(1),
              "\x1b[7m STALE \x1b[0m the last sample is stamped 1 h 0 min in the future (was "
              "the clock set back?)");
}

TEST(WatchView, NoPayloadAnEmptyOneAndANarrowTerminal) {
    WatchView view(0.5);
    view.update(look(PState::missing, std::nullopt, kNewYear), kNewYear);
    EXPECT_EQ(joined(view.screen(80)),
              "tessly watch · every 0.5 s · q or Ctrl-C quits\n"
              "\x1b[7m NO PAYLOAD \x1b[0m /h/Library/Group "
              "Containers/group.app.tessly.sensors/sensors.json d\n"
              "\n");

    WatchView empty(1.0);
    const SensorsPayload nothing{.thermal = ThermalReading{}, .sampledAt = kNewYear};
    empty.update(look(PState::current, nothing, kNewYear + 0.5), kNewYear + 0.5);
    EXPECT_EQ(joined(empty.screen(80)),
              "tessly watch · every 1 s · q or Ctrl-C quits\n"
              "Sample 0.5 s old\n"
              "\n"
              "The payload holds no temperatures and no fans.\n");

    // Too narrow for sparklines: the readings stay without them, and no line is wider than the
    // terminal.
    WatchView narrow = minuteOfSamples();
    const auto lines = narrow.screen(30);
    for (const auto& line : lines)
        EXPECT_LE(displayWidth(line), 30) << line;
    EXPECT_EQ(lines.at(3), "CPU           69.5 °C");
    EXPECT_EQ(lines.at(5), "Fans         4100 rpm");
}

TEST(WatchView, AnAgentStartedAfreshWithAnEarlierClockStartsANewHistory) {
    WatchView view = minuteOfSamples();
    SensorsPayload restarted = sampleAt(0);
    restarted.sampledAt = kNewYear - 600;
    restarted.thermal->cpuTemperatureC = 30;
    view.update(look(PState::current, restarted, kNewYear - 599.75), kNewYear - 599.75);
    const auto lines = view.screen(80);
    EXPECT_EQ(lines.at(4), "CPU           30.0 °C                                 ▅");
}

}  // namespace
}  // namespace tessly::cli
