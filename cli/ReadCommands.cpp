// `tessly read` and `tessly export`: the current payload, for people, for programs and for a
// metrics system.

#include <TesslyKit/PayloadStatus.h>
#include <TesslyKit/RecordsJSON.h>
#include <TesslyKit/SensorBridge.h>

#include <filesystem>
#include <optional>
#include <string>

#include "cli/Commands.h"
#include "cli/PayloadText.h"
#include "cli/Prometheus.h"
#include "exchange/src/ContainerFiles.h"

namespace tessly::cli {
namespace {

// The current payload through the bridge, or nothing after telling on stderr why there is none.
// A payload that a writer replaced between the bridge's look and the diagnosis is taken as well.
std::optional<SensorsPayload> currentPayload(Console& console, double now) {
    if (auto payload = SensorBridge::read(now)) return payload;
    PayloadStatus status = payloadStatus(now);
    if (status.state == PayloadStatus::State::current) return std::move(status.payload);
    console.err << "tessly: no current payload: " << absenceText(status) << "\n";
    return std::nullopt;
}

}  // namespace

int runRead(Console& console, bool json) {
    const double now = console.clock.wallNow();
    const auto payload = currentPayload(console, now);
    if (!payload) return exitFailure;
    if (json) {
        // A decoded payload holds only finite numbers, so it always encodes.
        const auto text = encodeJSON(*payload);
        if (!text) {
            console.err << "tessly: the payload cannot be written as JSON\n";
            return exitFailure;
        }
        console.out << *text << "\n";
    } else {
        console.out << payloadText(*payload, now);
    }
    return exitOK;
}

int runExport(Console& console, const std::string& outputFile) {
    const double now = console.clock.wallNow();
    const auto payload = currentPayload(console, now);
    // No current payload means no values: a collector reading the file then sees the readings
    // vanish instead of old ones lingering as if they were current.
    const std::string text = payload ? prometheusText(*payload, now) : std::string();

    if (outputFile.empty()) {
        console.out << text;
        return payload ? exitOK : exitFailure;
    }
    const std::filesystem::path path(outputFile);
    const std::string name = path.filename().string();
    if (name.empty() || name == "." || name == "..") {
        console.err << "tessly: --output must name a file, not " << outputFile << "\n";
        return exitFailure;
    }
    const std::filesystem::path directory =
        path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    // Written beside the target under a hidden temporary name (which a textfile collector, taking
    // only "*.prom", ignores) and renamed over it, so a reader never sees half a file.
    if (!detail::replaceFile(directory, name, text, detail::Durability::none)) {
        console.err << "tessly: cannot write " << outputFile << "\n";
        return exitFailure;
    }
    return payload ? exitOK : exitFailure;
}

}  // namespace tessly::cli
