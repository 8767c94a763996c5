#include "cli/PayloadText.h"

#include <array>
#include <cerrno>
#include <cmath>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

#include <TesslyKit/SensorBridge.h>

#include "cli/Format.h"
#include "cli/TextTable.h"

namespace tessly::cli {
namespace {

constexpr int labelWidth = 13;

struct Temperature {
    std::string_view label;  // for people
    std::string_view key;    // for logs and metrics
    std::optional<double> ThermalReading::*field;
};

constexpr std::array<Temperature, 5> temperatures{{
    {"CPU", "cpu", &ThermalReading::cpuTemperatureC},
    {"GPU", "gpu", &ThermalReading::gpuTemperatureC},
    {"Memory", "memory", &ThermalReading::memoryTemperatureC},
    {"Battery", "battery", &ThermalReading::batteryTemperatureC},
    {"Storage", "storage", &ThermalReading::storageTemperatureC},
}};

std::string fanCountText(std::int64_t count) {
    return std::to_string(count) + (count == 1 ? " fan" : " fans");
}

}  // namespace

std::string payloadText(const SensorsPayload& payload, double now) {
    TextTable table({labelWidth});
    const auto addLine = [&table](std::string_view label, std::string value) {
        table.add({std::string(label), std::move(value)});
    };

    bool anyTemperature = false;
    if (payload.thermal) {
        for (const auto& t : temperatures) {
            const auto& value = (*payload.thermal).*t.field;
            if (!value) continue;
            anyTemperature = true;
            addLine(t.label, padLeft(oneDecimal(*value), 5) + " °C");
        }
    }
    if (!anyTemperature) addLine("Temperatures", "none");

    if (const auto& fan = payload.fan) {
        addLine("Fans", fan->shortDescription() + "  (" + fanCountText(fan->fanCount) + ")");
        if (fan->rpms && fan->rpms->size() > 1) {
            for (std::size_t i = 0; i < fan->rpms->size(); ++i) {
                addLine("  fan " + std::to_string(i), speedText((*fan->rpms)[i]));
            }
        }
        if (const auto range = fan->range()) {
            addLine("Fan limits", wholeNumber(range->min) + "–" + wholeNumber(range->max) + " rpm");
        }
    } else {
        addLine("Fans", "none");
    }

    const double age = now - payload.sampledAt;
    if (std::isnan(age)) {
        addLine("Sampled", "at an unknown time");
    } else if (age < 0) {
        addLine("Sampled", durationText(age) + " in the future");
    } else {
        addLine("Sampled", durationText(age) + " ago");
    }
    addLine("Agent", payload.helperVersion ? terminalSafe(*payload.helperVersion) : "(no version)");
    return table.text();
}

std::string errorText(int error) {
    return terminalSafe(std::generic_category().message(error));
}

std::string blockedPathText(const std::filesystem::path& file) {
    std::filesystem::path walked;
    for (const auto& part : file.parent_path()) {
        walked /= part;
        std::error_code error;
        const auto status = std::filesystem::status(walked, error);
        if (error || !std::filesystem::exists(status)) return {};
        if (!std::filesystem::is_directory(status)) {
            return terminalSafe(walked.string()) + " is not a directory";
        }
    }
    return {};
}

std::string absenceText(const PayloadStatus& status) {
    using State = PayloadStatus::State;
    const std::string file = terminalSafe(status.file.string());
    switch (status.state) {
        case State::current:
            return "the payload in " + file + " is current";
        case State::stale: {
            const std::string limit = wholeNumber(SensorBridge::staleAfter) + " s";
            if (status.age && *status.age < 0) {
                return "the last payload, in " + file + ", is stamped " +
                       durationText(*status.age) + " in the future; payloads more than " + limit +
                       " ahead count as absent (was the clock set back?)";
            }
            const std::string age = status.age && !std::isnan(*status.age)
                                        ? "is " + durationText(*status.age) + " old"
                                        : "is of unknown age";
            return "the last payload, in " + file + ", " + age + "; payloads older than " + limit +
                   " count as absent (has the agent stopped?)";
        }
        case State::missing:
            if (status.error == ENOTDIR) {
                if (const std::string blocked = blockedPathText(status.file); !blocked.empty()) {
                    return blocked + ", so there can be no " + file;
                }
            }
            return file + " does not exist (is the agent running?)";
        case State::unreadable:
            return file + " cannot be read (it must be a regular file of at most 1 MiB)";
        case State::unavailable:
            return file + " cannot be read now: " + errorText(status.error);
        case State::invalid:
            return file + " does not hold a valid payload";
        case State::noContainer:
            return "the shared container cannot be located (no home directory is known)";
    }
    return "the payload's state is unknown";
}

std::string logLine(const PayloadStatus& status, double now) {
    std::string line = utcTime(now);
    const auto& payload = status.payload;
    if (!payload) return line + " no payload: " + absenceText(status);

    if (payload->thermal) {
        for (const auto& t : temperatures) {
            if (const auto& value = (*payload->thermal).*t.field) {
                line += ' ';
                line += t.key;
                line += '=' + oneDecimal(*value);
            }
        }
    }
    if (const auto& fan = payload->fan) {
        line += " fan=" + wholeNumber(fan->rpm);
        if (fan->rpms && fan->rpms->size() > 1) {
            line += " fans=";
            for (std::size_t i = 0; i < fan->rpms->size(); ++i) {
                if (i > 0) line += ',';
                line += wholeNumber((*fan->rpms)[i]);
            }
        }
    }
    line += " age=" + (status.age ? oneDecimal(*status.age) : std::string("nan"));
    if (status.state == PayloadStatus::State::stale) line += " STALE";
    return line;
}

}  // namespace tessly::cli
