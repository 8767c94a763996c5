#include "cli/Prometheus.h"

#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/Format.h"

namespace tessly::cli {
namespace {

struct Sample {
    std::string labels;  // "{sensor=\"cpu\"}" or empty
    double value;
};

// A label value with the three escapes of the format: backslash, double quote and line feed.
std::string escapedLabelValue(std::string_view value) {
    std::string escaped;
    escaped.reserve(value.size());
    for (const char c : value) {
        switch (c) {
            case '\\':
                escaped += "\\\\";
                break;
            case '"':
                escaped += "\\\"";
                break;
            case '\n':
                escaped += "\\n";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

std::string label(std::string_view name, std::string_view value) {
    return "{" + std::string(name) + "=\"" + escapedLabelValue(value) + "\"}";
}

// A family is written only when it has samples: an absent value leaves no trace.
void addFamily(std::string& text, std::string_view name, std::string_view help,
               const std::vector<Sample>& samples) {
    if (samples.empty()) return;
    text += "# HELP ";
    text += name;
    text += ' ';
    text += help;
    text += "\n# TYPE ";
    text += name;
    text += " gauge\n";
    for (const auto& sample : samples) {
        text += name;
        text += sample.labels;
        text += ' ';
        text += shortestNumber(sample.value);
        text += '\n';
    }
}

std::vector<Sample> one(const std::optional<double>& value) {
    if (!value) return {};
    return {{"", *value}};
}

}  // namespace

std::string prometheusText(const SensorsPayload& payload, double now) {
    std::string text;

    std::vector<Sample> temperatures;
    if (const auto& t = payload.thermal) {
        const std::pair<std::string_view, const std::optional<double>*> sensors[] = {
            {"cpu", &t->cpuTemperatureC},         {"gpu", &t->gpuTemperatureC},
            {"memory", &t->memoryTemperatureC},   {"battery", &t->batteryTemperatureC},
            {"storage", &t->storageTemperatureC},
        };
        for (const auto& [sensor, value] : sensors) {
            if (*value) temperatures.push_back({label("sensor", sensor), **value});
        }
    }
    addFamily(text, "tessly_temperature_celsius",
              "Temperature of each sensor category, in degrees Celsius.", temperatures);

    if (const auto& fan = payload.fan) {
        std::vector<Sample> speeds;
        if (fan->rpms) {
            for (std::size_t i = 0; i < fan->rpms->size(); ++i) {
                speeds.push_back({label("fan", std::to_string(i)), (*fan->rpms)[i]});
            }
        }
        addFamily(text, "tessly_fan_speed_rpm",
                  "Current speed of each fan, in revolutions per minute.", speeds);
        addFamily(text, "tessly_fans", "Number of fans.",
                  {{"", static_cast<double>(fan->fanCount)}});
        addFamily(text, "tessly_fan_min_speed_rpm",
                  "Lowest minimum speed of any fan, in revolutions per minute.", one(fan->minRPM));
        addFamily(text, "tessly_fan_max_speed_rpm",
                  "Highest maximum speed of any fan, in revolutions per minute.", one(fan->maxRPM));
    }

    addFamily(text, "tessly_sample_timestamp_seconds",
              "When the agent took the sample, in seconds since 1970-01-01 00:00 UTC.",
              {{"", payload.sampledAt}});
    addFamily(text, "tessly_sample_age_seconds", "Age of the sample when it was exported.",
              {{"", now - payload.sampledAt}});
    if (payload.helperVersion) {
        addFamily(text, "tessly_agent_info", "The version of the agent that took the sample.",
                  {{label("version", *payload.helperVersion), 1.0}});
    }
    return text;
}

}  // namespace tessly::cli
