// The Prometheus text: a golden text, and every output checked against the rules of the text
// exposition format (0.0.4) by a small parser that is itself shown to reject broken texts.

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Prometheus.h"
#include "cli/tests/CliTestSupport.h"

namespace tessly::cli {
namespace {

using testing::kNewYear;

// ---- a checker of the text exposition format -----------------------------------------------

struct Exposition {
    std::map<std::string, double> series;  // "name{labels}" as written -> value
    std::map<std::string, std::string> types;
    std::vector<std::string> errors;
};

// Metric and label names, label values with their three escapes, and a float as Go parses it.
const std::regex kSample(
    R"(([a-zA-Z_:][a-zA-Z0-9_:]*)(\{[a-zA-Z_][a-zA-Z0-9_]*="(?:[^"\\]|\\[\\"n])*")"
    R"((?:,[a-zA-Z_][a-zA-Z0-9_]*="(?:[^"\\]|\\[\\"n])*")*\})? )"
    R"(([-+]?(?:[0-9]*\.?[0-9]+(?:[eE][-+]?[0-9]+)?|Inf)|NaN)(?: -?[0-9]+)?)");
const std::regex kComment(R"(# (HELP|TYPE) ([a-zA-Z_:][a-zA-Z0-9_:]*) (.*))");

Exposition parseExposition(const std::string& text) {
    Exposition e;
    if (!text.empty() && text.back() != '\n') e.errors.push_back("no final newline");
    std::set<std::string> helped;
    std::set<std::string> finished;  // families whose samples are over
    std::string family;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (std::regex_match(line, m, kComment)) {
            const std::string name = m[2];
            if (m[1] == "HELP" && !helped.insert(name).second) e.errors.push_back("HELP twice");
            if (m[1] == "TYPE") {
                if (e.types.contains(name) || family == name || finished.contains(name)) {
                    e.errors.push_back("TYPE twice or after samples: " + name);
                }
                if (!std::set<std::string>{"counter", "gauge", "histogram", "summary", "untyped"}
                         .contains(m[3])) {
                    e.errors.push_back("unknown type " + std::string(m[3]));
                }
                e.types[name] = m[3];
            }
        } else if (std::regex_match(line, m, kSample)) {
            const std::string name = m[1];
            if (!e.types.contains(name)) e.errors.push_back("sample before TYPE: " + name);
            if (name != family) {
                if (finished.contains(name)) e.errors.push_back("family split: " + name);
                finished.insert(family);
                family = name;
            }
            const std::string series = name + std::string(m[2]);
            if (e.series.contains(series)) e.errors.push_back("series twice: " + series);
            e.series[series] = std::strtod(std::string(m[3]).c_str(), nullptr);
        } else {
            e.errors.push_back("not a comment or a sample: " + line);
        }
    }
    return e;
}

TEST(PrometheusChecker, RejectsBrokenTexts) {
    const char* broken[] = {
        "# TYPE a gauge\na 1",                                       // no final newline
        "a 1\n",                                                     // no TYPE
        "# TYPE a gauge\na{x=\"1\"} 1\na{x=\"1\"} 2\n",              // same series twice
        "# TYPE a gauge\na{x=\"\\t\"} 1\n",                          // bad escape
        "# TYPE a gauge\na one\n",                                   // bad value
        "# TYPE a gauge\n# TYPE b gauge\na 1\nb 1\na{x=\"2\"} 1\n",  // family split
        "# TYPE a gauge\n\na 1\n",                                   // empty line
    };
    for (const char* text : broken)
        EXPECT_FALSE(parseExposition(text).errors.empty()) << text;
    EXPECT_TRUE(parseExposition("# HELP a x\n# TYPE a gauge\na{x=\"\\\"\\n\",y=\"\"} -Inf 5\n")
                    .errors.empty());
}

// ---- the export ----------------------------------------------------------------------------

SensorsPayload fullPayload() {
    SensorsPayload payload = testing::fullPayload(kNewYear + 0.5);
    payload.thermal->memoryTemperatureC = 39;
    return payload;
}

TEST(Prometheus, GoldenTextOfAFullPayload) {
    EXPECT_EQ(prometheusText(fullPayload(), kNewYear + 0.75),
              "# HELP tessly_temperature_celsius Temperature of each sensor category, in degrees "
              "Celsius.\n"
              "# TYPE tessly_temperature_celsius gauge\n"
              "tessly_temperature_celsius{sensor=\"cpu\"} 48.5\n"
              "tessly_temperature_celsius{sensor=\"gpu\"} 41.25\n"
              "tessly_temperature_celsius{sensor=\"memory\"} 39\n"
              "tessly_temperature_celsius{sensor=\"battery\"} 30.5\n"
              "tessly_temperature_celsius{sensor=\"storage\"} 36\n"
              "# HELP tessly_fan_speed_rpm Current speed of each fan, in revolutions per minute.\n"
              "# TYPE tessly_fan_speed_rpm gauge\n"
              "tessly_fan_speed_rpm{fan=\"0\"} 1320\n"
              "tessly_fan_speed_rpm{fan=\"1\"} 1275.5\n"
              "# HELP tessly_fan_count Number of fans.\n"
              "# TYPE tessly_fan_count gauge\n"
              "tessly_fan_count 2\n"
              "# HELP tessly_fan_min_rpm Lowest minimum speed of any fan, in revolutions per "
              "minute.\n"
              "# TYPE tessly_fan_min_rpm gauge\n"
              "tessly_fan_min_rpm 1000\n"
              "# HELP tessly_fan_max_rpm Highest maximum speed of any fan, in revolutions per "
              "minute.\n"
              "# TYPE tessly_fan_max_rpm gauge\n"
              "tessly_fan_max_rpm 4900\n"
              "# HELP tessly_sample_timestamp_seconds When the agent took the sample, in seconds "
              "since 1970-01-01 00:00 UTC.\n"
              "# TYPE tessly_sample_timestamp_seconds gauge\n"
              "tessly_sample_timestamp_seconds 1767225600.5\n"
              "# HELP tessly_sample_age_seconds Age of the sample when it was exported.\n"
              "# TYPE tessly_sample_age_seconds gauge\n"
              "tessly_sample_age_seconds 0.25\n"
              "# HELP tessly_agent_info The version of the agent that took the sample.\n"
              "# TYPE tessly_agent_info gauge\n"
              "tessly_agent_info{version=\"1.4.0\"} 1\n");
}

TEST(Prometheus, EveryOutputFollowsTheFormatAndHoldsNothingForAbsentValues) {
    const struct {
        const char* name;
        SensorsPayload payload;
        std::map<std::string, double> series;
    } cases[] = {
        {"fanless, memory and battery absent, no version",
         {.thermal = ThermalReading{.cpuTemperatureC = 44, .storageTemperatureC = 35.5},
          .sampledAt = kNewYear},
         {{"tessly_temperature_celsius{sensor=\"cpu\"}", 44},
          {"tessly_temperature_celsius{sensor=\"storage\"}", 35.5},
          {"tessly_sample_timestamp_seconds", kNewYear},
          {"tessly_sample_age_seconds", 2}}},
        {"no thermal reading; a fan without speed list or limits",
         {.fan = FanReading{.rpm = 900, .fanCount = 1}, .sampledAt = kNewYear},
         {{"tessly_fan_count", 1},
          {"tessly_sample_timestamp_seconds", kNewYear},
          {"tessly_sample_age_seconds", 2}}},
        {"a version that needs escaping, an empty thermal reading",
         {.thermal = ThermalReading{}, .sampledAt = kNewYear, .helperVersion = "1.4\"\\\nx"},
         {{"tessly_sample_timestamp_seconds", kNewYear},
          {"tessly_sample_age_seconds", 2},
          {"tessly_agent_info{version=\"1.4\\\"\\\\\\nx\"}", 1}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text = prometheusText(c.payload, kNewYear + 2);
        const Exposition parsed = parseExposition(text);
        EXPECT_TRUE(parsed.errors.empty()) << ::testing::PrintToString(parsed.errors) << text;
        EXPECT_EQ(parsed.series, c.series) << text;
        for (const auto& [name, type] : parsed.types) {
            EXPECT_EQ(type, "gauge");
            // No family without samples: an absent value leaves not even a HELP line.
            EXPECT_TRUE(std::any_of(parsed.series.begin(), parsed.series.end(), [&](const auto& s) {
                return s.first.starts_with(name);
            })) << name;
        }
    }
    EXPECT_TRUE(parseExposition(prometheusText(fullPayload(), kNewYear)).errors.empty());
}

}  // namespace
}  // namespace tessly::cli
