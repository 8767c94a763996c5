// `tessly read` and `tessly export`: the current payload, for people, for programs and for a
// metrics system.

#include <TesslyKit/PayloadStatus.h>
#include <TesslyKit/RecordsJSON.h>
#include <TesslyKit/SensorBridge.h>

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>

#include <TesslyKit/AtomicFile.h>
#include "base/Expected.h"
#include "cli/Commands.h"
#include "cli/Format.h"
#include "cli/PayloadText.h"
#include "cli/Prometheus.h"

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

// Where `--output` may write, or why it must not: a regular file, or a path where nothing is yet,
// is replaced itself; a link that leads to a regular file (through any chain of links) has that
// file replaced, in the file's own directory, so the link stays a link. A device, FIFO, socket or
// directory, or a link to one or to nothing, is left exactly as it is: run as root, the command
// must never turn /dev/null or the /dev/stdout link into a regular file. The file to replace, or
// why none may be.
Expected<std::filesystem::path, std::string> outputTarget(const std::filesystem::path& path) {
    using Refusal = Unexpected<std::string>;
    struct stat entry {};
    if (::lstat(path.c_str(), &entry) != 0) {
        if (errno == ENOENT) return path;
        return Refusal{errorText(errno)};
    }
    if (S_ISREG(entry.st_mode)) return path;
    if (!S_ISLNK(entry.st_mode)) return Refusal{"it is not a regular file"};
    struct stat target {};
    if (::stat(path.c_str(), &target) != 0) return Refusal{"it is a link that leads to no file"};
    if (!S_ISREG(target.st_mode)) {
        return Refusal{"it is a link to something that is not a regular file"};
    }
    std::error_code error;
    auto file = std::filesystem::canonical(path, error);
    if (error) return Refusal{"the file its link leads to cannot be found: " + error.message()};
    return file;
}

}  // namespace

std::string shellWord(std::string_view program) {
    const bool plain = !program.empty() && std::all_of(program.begin(), program.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 ||
               std::string_view("/._+-,:@%=").find(c) != std::string_view::npos;
    });
    if (plain) return std::string(program);
    std::string quoted = "'";
    for (const char c : program) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

bool holdsNoReadings(const SensorsPayload& payload) noexcept {
    if (payload.fan) return false;
    if (!payload.thermal) return true;
    const auto& t = *payload.thermal;
    return !t.cpuTemperatureC && !t.gpuTemperatureC && !t.memoryTemperatureC &&
           !t.batteryTemperatureC && !t.storageTemperatureC;
}

int runRead(Console& console, Output output) {
    const double now = console.clock.wallNow();
    const auto payload = currentPayload(console, now);
    if (!payload) return exitFailure;
    if (output == Output::json) {
        // A decoded payload holds only finite numbers, so it always encodes.
        const auto text = encodeJSON(*payload);
        if (!text) {
            console.err << "tessly: the payload cannot be written as JSON\n";
            return exitFailure;
        }
        console.out << *text << "\n";
    } else {
        console.out << payloadText(*payload, now);
        if (holdsNoReadings(*payload))
            console.out << sensorlessHint(console.sysfsRoot, console.program);
    }
    return exitOK;
}

int runExport(Console& console, const std::string& outputFile) {
    const double now = console.clock.wallNow();
    const auto payload = currentPayload(console, now);
    // No current payload means no values: a collector reading the file then sees the readings
    // vanish instead of old ones lingering as if they were current.
    const std::string text = payload ? prometheusText(*payload, now) : std::string();

    if (outputFile.empty() || outputFile == "-") {
        console.out << text;
        return payload ? exitOK : exitFailure;
    }
    const std::filesystem::path path(outputFile);
    const std::string name = path.filename().string();
    const std::string shown = terminalSafe(outputFile);
    if (name.empty() || name == "." || name == "..") {
        console.err << "tessly: --output must name a file, not " << shown << "\n";
        return exitFailure;
    }
    const auto target = outputTarget(path);
    if (!target) {
        console.err << "tessly: not replacing " << shown << ": " << target.error() << "\n";
        return exitFailure;
    }
    const std::filesystem::path directory =
        target->has_parent_path() ? target->parent_path() : std::filesystem::path(".");
    // Written beside the target under a hidden temporary name (which a textfile collector, taking
    // only "*.prom", ignores) and renamed over it, so a reader never sees half a file.
    if (!replaceFileAtomically(directory, target->filename().string(), text, Durability::none)) {
        const int error = errno;
        console.err << "tessly: cannot write " << terminalSafe(target->string()) << ": "
                    << errorText(error) << "\n";
        return exitFailure;
    }
    return payload ? exitOK : exitFailure;
}

}  // namespace tessly::cli
