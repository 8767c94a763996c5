// What the commands print, as pure functions: numbers, durations and times, text made safe for a
// terminal, aligned tables, the payload for people and for logs, the watch screen, and the
// Prometheus exposition text.

#include <limits>

#include "CliTestSupport.h"
#include "cli/Format.h"
#include "cli/PayloadText.h"
#include "cli/Prometheus.h"
#include "cli/Sparkline.h"
#include "cli/TextTable.h"
#include "cli/WatchView.h"

namespace tessly::cli::testing {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
const fs::path file = "/run/user/1000/tessly/sensors.json";

using enum PayloadStatus::State;

PayloadStatus look(PayloadStatus::State state, std::optional<SensorsPayload> payload, double now) {
    const auto age = payload ? std::optional(now - payload->sampledAt) : std::nullopt;
    return {.state = state, .file = file, .payload = std::move(payload), .age = age};
}

TEST(FormatTest, NumbersDurationsAndTimes) {
    EXPECT_EQ(oneDecimal(48.25), "48.2");
    EXPECT_EQ(oneDecimal(nan), "nan");
    EXPECT_EQ(shortestNumber(1767225600.5), "1767225600.5");
    EXPECT_EQ(shortestNumber(-std::numeric_limits<double>::infinity()), "-Inf");
    EXPECT_EQ(wholeNumber(1275.5), "1276");
    const std::pair<double, std::string_view> durations[] = {
        {0.04, "0.0 s"},       {-42.25, "42.2 s"},  {59.94, "59.9 s"},  {59.96, "1 min 0 s"},
        {192.7, "3 min 12 s"}, {7530, "2 h 5 min"}, {90000, "1 d 1 h"}, {nan, "unknown"}};
    for (const auto& [seconds, text] : durations)
        EXPECT_EQ(durationText(seconds), text) << seconds;
    EXPECT_EQ(utcTime(1767225600.9999, 3), "2026-01-01T00:00:00.999Z");
    EXPECT_EQ(utcTime(1e300), "?");
}

// Text from files and the system reaches a terminal with nothing a terminal would act on.
TEST(FormatTest, TerminalSafeTextEscapesControlsAndBrokenUtf8) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"caf\xC3\xA9 \xE2\x82\xAC", "caf\xC3\xA9 \xE2\x82\xAC"},
        {"a\x1b[2Jb", "a\\x1b[2Jb"},
        {"bell\a cr\r nl\n tab\t del\x7f", "bell\\x07 cr\\x0d nl\\x0a tab\\x09 del\\x7f"},
        {"csi\xC2\x9B"
         "31m",
         "csi\\u009b31m"},
        {"rtl\xE2\x80\xAEx", "rtl\\u202ex"},
        {"bad\xFF\xC0\xAF", "bad\\xff\\xc0\\xaf"},
        {"cut\xE2\x82", "cut\\xe2\\x82"}};
    for (const auto& [raw, safe] : cases)
        EXPECT_EQ(terminalSafe(raw), safe) << raw;
}

// Tables align by terminal columns. Lines wrap at blanks, never mid-word unless a word is wider
// than the line; widths count columns, not bytes.
TEST(FormatTest, TablesAndWrappedTextFitTerminalColumns) {
    EXPECT_EQ(TextTable().add({"CHIP", "LABEL", "VALUE"}).add({"coretemp", "°C", "1"}).text(),
              "CHIP      LABEL  VALUE\ncoretemp  °C     1\n");
    EXPECT_EQ(TextTable({6}).add({"CPU", "48.5"}).add({"Temperatures", "none"}).text(),
              "CPU   48.5\nTemperaturesnone\n");
    EXPECT_EQ(displayWidth("\x1b[7m STALE \x1b[0m°"), 8);
    EXPECT_EQ(fitToWidth("\x1b[7mabcdef\x1b[0m", 3), "\x1b[7mabc\x1b[0m");

    using Lines = std::vector<std::string>;
    const std::tuple<std::string_view, int, Lines> cases[] = {
        {"No sensors: none here", 80, {"No sensors: none here"}},
        {"No sensors: none here", 10, {"No", "sensors:", "none here"}},
        {"No sensors: none here", 8, {"No", "sensors:", "none", "here"}},
        {"ab cd", 5, {"ab cd"}},
        {"ab cd", 4, {"ab", "cd"}},
        {"°C °C °C", 5, {"°C °C", "°C"}},
        {"abcdefgh ij", 3, {"abc", "def", "gh", "ij"}},
        {"  spaced   out  ", 20, {"spaced out"}},
        {"", 10, {""}},
        {"word", 0, {"w", "o", "r", "d"}}};
    for (const auto& [text, width, lines] : cases)
        EXPECT_EQ(wrapToWidth(text, width), lines) << text << " at " << width;
}

// A mistyped command name suggests the one meant (a swap is one edit), and nothing where no
// name is near enough to be meant; the first of equally near ones.
TEST(FormatTest, ClosestWordSuggestsOnlyANearName) {
    const std::vector<std::string> names{"read", "watch", "sensors", "simulate", "show", "stop"};
    const std::pair<std::string_view, std::optional<std::string>> cases[] = {
        {"raed", "read"}, {"stpo", "stop"},     {"sensor", "sensors"},   {"smiulatte", "simulate"},
        {"stow", "show"}, {"rd", std::nullopt}, {"wtch3", std::nullopt}, {"", std::nullopt}};
    for (const auto& [word, closest] : cases)
        EXPECT_EQ(closestWord(word, names), closest) << word;
}

TEST(SparklineTest, ScalesBetweenTheValuesAndPutsAStoppedFanAtTheBottom) {
    const std::tuple<std::vector<std::optional<double>>, double, std::string_view> cases[] = {
        {{0, 7, std::nullopt, 3.5}, 0, "▁█ ▅"},
        {{45, 45.1, 44.9}, 2, "▅▅▄"},  // noise on a steady value stays flat
        {{0, 0, 0}, 200, "▁▁▁"},       // fans off all along
        {{0, 50, 0}, 200, "▁▃▁"},      // a fan starting up, then stopping
    };
    for (const auto& [values, span, line] : cases)
        EXPECT_EQ(sparkline(values, span, 0.0), line) << ::testing::PrintToString(values);
}

TEST(PayloadTextTest, ThePayloadForPeopleAndForLogs) {
    SensorsPayload payload = fullPayload(kNewYear - 0.5);
    EXPECT_EQ(payloadText(payload, kNewYear),
              "CPU           48.5 °C\nGPU           41.2 °C\nBattery       30.5 °C\n"
              "Storage       36.0 °C\nFans         1320 rpm  (2 fans)\n  fan 0      1320 rpm\n"
              "  fan 1      1276 rpm\nFan limits   1000–4900 rpm\nSampled      0.5 s ago\n"
              "Agent        1.4.0\n");
    EXPECT_EQ(logLine(look(current, payload, kNewYear), kNewYear),
              "2026-01-01T00:00:00Z cpu=48.5 gpu=41.2 battery=30.5 storage=36.0 fan=1320 "
              "fans=1320,1276 age=0.5");
    payload = {
        .thermal = ThermalReading{}, .sampledAt = kNewYear + 2, .helperVersion = "1.4\x1b]0;x\a"};
    EXPECT_EQ(payloadText(payload, kNewYear),
              "Temperatures none\nFans         none\nSampled      2.0 s in the future\n"
              "Agent        1.4\\x1b]0;x\\x07\n");
}

// A minute of samples, then the agent stops: the screen marks it stale and the sparklines
// drain.
TEST(WatchViewTest, ScreensFollowThePayloadAndMarkWhatIsNotCurrent) {
    WatchView view(1.0);
    const auto show = [&](PayloadStatus::State state, std::optional<SensorsPayload> payload,
                          double now) { view.update(look(state, std::move(payload), now), now); };
    for (int t = 0; t < 60; ++t) {
        SensorsPayload payload = fullPayload(kNewYear + t);
        payload.thermal->cpuTemperatureC = 40 + 0.5 * t;
        show(current, payload, kNewYear + t + 0.5);
    }
    auto lines = view.screen(80);
    EXPECT_EQ(lines.at(0), "tessly watch · agent 1.4.0 · every 1 s · q or Ctrl-C quits");
    EXPECT_EQ(lines.at(1), "Sample 0.5 s old");
    EXPECT_EQ(lines.at(3), "             now         last minute");
    EXPECT_EQ(lines.at(4), "CPU           69.5 °C    ▁▁▁▁▂▂▂▂▃▃▃▄▄▄▄▅▅▅▅▆▆▆▇▇▇▇████");

    show(stale, fullPayload(kNewYear + 59), kNewYear + 101.5);
    lines = view.screen(80);
    EXPECT_EQ(lines.at(1),
              "\x1b[7m STALE 42.5 s \x1b[0m the agent stopped publishing; last sample 42.5 s old");
    EXPECT_EQ(view.line(),
              "2026-01-01T00:01:41Z cpu=48.5 gpu=41.2 battery=30.5 storage=36.0 "
              "fan=1320 fans=1320,1276 age=42.5 STALE");
    for (const auto& line : view.screen(30))
        EXPECT_LE(displayWidth(line), 30) << line;

    // A simulated machine says so under the header.
    show(current, fullPayload(kNewYear, "1.4.0+sim"), kNewYear);
    EXPECT_EQ(view.screen(120).at(1),
              "\x1b[7m SIMULATED \x1b[0m these readings come from "
              "'tessly simulate', not from this machine");

    show(stale, fullPayload(kNewYear, "9\x1b[2J"), kNewYear - 3600);
    lines = view.screen(120);
    EXPECT_EQ(lines.at(0), "tessly watch · agent 9\\x1b[2J · every 1 s · q or Ctrl-C quits");
    EXPECT_EQ(lines.at(1),
              "\x1b[7m STALE \x1b[0m the last sample is stamped 1 h 0 min in the "
              "future (was the clock set back?)");
    show(missing, std::nullopt, kNewYear);
    EXPECT_TRUE(view.screen(200).at(1).starts_with("\x1b[7m NO PAYLOAD \x1b[0m " + file.string()));
}

TEST(PrometheusTest, TheExpositionHoldsWhatThePayloadHoldsEscaped) {
    const std::string text =
        prometheusText(fullPayload(kNewYear + 0.5, "1.4\"\\\nx"), kNewYear + 0.75);
    for (const auto line :
         {"# TYPE tessly_temperature_celsius gauge\n",
          "tessly_temperature_celsius{sensor=\"cpu\"} 48.5\n",
          "tessly_fan_speed_rpm{fan=\"1\"} 1275.5\n", "tessly_fans 2\n",
          "tessly_fan_min_speed_rpm 1000\n", "tessly_fan_max_speed_rpm 4900\n",
          "tessly_sample_timestamp_seconds 1767225600.5\n", "tessly_sample_age_seconds 0.25\n",
          "tessly_agent_info{version=\"1.4\\\"\\\\\\nx\"} 1\n"})
        EXPECT_THAT(text, HasSubstr(line));
    EXPECT_THAT(text, Not(HasSubstr("memory")));  // nothing for an absent value
    for (const char* absent : {"tessly_fan", "tessly_agent_info"})
        EXPECT_THAT(prometheusText({.sampledAt = kNewYear}, kNewYear), Not(HasSubstr(absent)));
}

}  // namespace
}  // namespace tessly::cli::testing
