// `tessly sensors` on Linux: the hwmon discovery report of the agent's own backend, so a user sees
// every sensor file, what it feeds or why it is ignored, and its value now; on this machine's own
// /sys, NVIDIA GPUs read through NVML follow.

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "cli/Commands.h"
#include "cli/Format.h"
#include "cli/TextTable.h"
#include "platform/linux/ConfinedFileReader.h"
#include "platform/linux/NvidiaGPUs.h"
#include "platform/linux/SensorReport.h"

namespace tessly::cli {
namespace {

std::string errorText(int error) {
    return hwmon::ioErrorText(error);
}

// Fan files ("fan1_input", "fan1_min") hold speeds; every other sensor file a temperature.
bool isFanFile(const std::string& path) {
    return std::filesystem::path(path).filename().string().starts_with("fan");
}

std::string valueText(const hwmon::SensorReportEntry& entry) {
    if (entry.value) {
        return isFanFile(entry.path) ? wholeNumber(*entry.value) + " rpm"
                                     : oneDecimal(*entry.value) + " °C";
    }
    if (entry.readError != 0) return "error: " + errorText(entry.readError);
    return "-";
}

std::string feedsText(const hwmon::SensorReportEntry& entry) {
    return entry.feeds.empty() ? "ignored: " + entry.whyIgnored : entry.feeds;
}

// Keys in the order people read them: the file first.
using Json = nlohmann::ordered_json;

void printJSON(Console& console, const std::vector<hwmon::SensorReportEntry>& entries) {
    Json list = Json::array();
    for (const auto& entry : entries) {
        Json item;
        item["path"] = entry.path;
        item["chip"] = entry.chip;
        item["label"] = entry.label;
        item["feeds"] = entry.feeds.empty() ? Json() : Json(entry.feeds);
        item["ignored"] = entry.whyIgnored.empty() ? Json() : Json(entry.whyIgnored);
        item["value"] = entry.value ? Json(*entry.value) : Json();
        item["error"] = entry.readError != 0 ? Json(errorText(entry.readError)) : Json();
        list.push_back(std::move(item));
    }
    // Replacement characters for any bytes of a label that are not UTF-8, rather than failing.
    console.out << list.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
}

void printTable(Console& console, const std::vector<hwmon::SensorReportEntry>& entries) {
    TextTable table;
    table.add({"SENSOR FILE", "CHIP", "LABEL", "VALUE", "FEEDS"});
    for (const auto& entry : entries) {
        table.add({terminalSafe(entry.path), entry.chip.empty() ? "-" : terminalSafe(entry.chip),
                   entry.label.empty() ? "-" : terminalSafe(entry.label),
                   terminalSafe(valueText(entry)), feedsText(entry)});
    }
    console.out << table.text();
}

}  // namespace

std::string sensorlessHint(const std::string& sysfsRoot, std::string_view program) {
    const auto reader = hwmon::ConfinedFileReader::within(sysfsRoot);
    if (reader) {
        for (const auto& entry : hwmon::reportSensors(sysfsRoot, *reader)) {
            if (!entry.feeds.empty()) return {};
        }
    }
    const std::string root = terminalSafe(sysfsRoot == "/" ? "" : sysfsRoot);
    const std::string tessly = terminalSafe(shellWord(program));
    return "No sensors: " + root +
           "/class/hwmon holds none that the agent reads on this machine, as in most containers "
           "and virtual machines.\n"
           "To list what was found there: " +
           tessly +
           " sensors\n"
           "To try the rest on a simulated machine: " +
           tessly + " control stop; " + tessly + " simulate\n";
}

int runSensors(Console& console, Output output, const std::string& sysfsRoot) {
    // The report names files below the root as given; a trailing slash would double up, and the
    // root "/" names them "/class/hwmon/...".
    std::string root = sysfsRoot;
    while (!root.empty() && root.back() == '/')
        root.pop_back();
    // Nothing is read from outside the root, whatever links the tree holds, and nothing but
    // regular files is opened.
    const auto reader = sysfsRoot.empty() ? nullptr : hwmon::ConfinedFileReader::within(root);
    if (!reader) {
        console.err << "tessly: " << terminalSafe(sysfsRoot) << " is not a directory\n";
        return exitFailure;
    }

    auto entries = hwmon::reportSensors(root, *reader);
    // NVML speaks for the machine running this, not for a copy of another machine's /sys.
    if (root == "/sys") {
        auto gpus = hwmon::reportNvidiaSensors();
        entries.insert(entries.end(), std::make_move_iterator(gpus.begin()),
                       std::make_move_iterator(gpus.end()));
    }
    if (output == Output::json) {
        printJSON(console, entries);
    } else if (entries.empty()) {
        const std::string shown = terminalSafe(root);
        console.out << "No sensor files under " << shown << "/class/hwmon or " << shown
                    << "/class/power_supply" << (root == "/sys" ? ", and no NVIDIA GPU" : "")
                    << ".\n";
    } else {
        printTable(console, entries);
    }
    // No sensor at all is a failure, as for the usual sensor tools: a script learns it from the
    // status, whatever the form of the output.
    return entries.empty() ? exitFailure : exitOK;
}

}  // namespace tessly::cli
