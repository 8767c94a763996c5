// The Linux sensors end to end over sysfs trees described by the fuzz input: discovery (chip and
// supply listings, names, labels, links, the older device/ layout), the temperatures and fans of
// one discovery, and the sensor report. The tree changes between samples, files vanish while
// open, reads fail. Whatever the tree holds, every reading can be published, chip names and
// labels are valid UTF-8, and every file opened is closed.
//
// Input: up to three tree versions separated by a line "---"; each line of a version is
//   path=content     a file (path relative to the sysfs root)
//   @path=target     a symbolic link (directories below `path` may still be given)
//   !path=c          a file whose reads fail, with the errno chosen by the character c
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <TesslyKit/RecordsJSON.h>

#include "Check.h"
#include "Utf8.h"
#include "base/ManualClock.h"
#include "platform/linux/FileReader.h"
#include "platform/linux/SensorReport.h"
#include "platform/linux/SysfsSensors.h"
#include "thermal/TemperatureCategory.h"
#include "thermal/ThermalSampler.h"

namespace tessly::fuzz {
namespace {

constexpr char kRoot[] = "/sys";
constexpr std::size_t kMostLines = 200;

// An in-memory sysfs: files, links and the directories their paths imply.
struct TreeReader final : public hwmon::FileReader {
    struct Node {
        std::string content;
        std::optional<std::string> linkTarget;
        int readError = 0;
    };

    // Replaces the whole tree. Files open from the old tree read as a removed device does.
    void load(std::string_view description) {
        nodes.clear();
        for (std::size_t lines = 0; !description.empty() && lines < kMostLines; ++lines) {
            std::string_view line = description.substr(0, description.find('\n'));
            description.remove_prefix(std::min(description.size(), line.size() + 1));
            const char kind = line.empty() ? ' ' : line.front();
            if (kind == '@' || kind == '!') line.remove_prefix(1);
            const auto equals = line.find('=');
            if (equals == 0 || equals == std::string_view::npos) continue;
            Node& node = nodes[std::string(kRoot) + "/" + std::string(line.substr(0, equals))];
            const std::string_view value = line.substr(equals + 1);
            if (kind == '@') {
                node.linkTarget = std::string(value);
            } else if (kind == '!') {
                static constexpr int errors[] = {EIO, ENODEV, ENOENT, EAGAIN, EINVAL, EACCES};
                const unsigned c = value.empty() ? 0u : static_cast<unsigned char>(value[0]);
                node.readError = errors[c % std::size(errors)];
            } else {
                node.content = std::string(value);
            }
        }
    }

    hwmon::IoResult<std::vector<std::string>> listDirectory(const std::string& path) override {
        const std::string prefix = path + "/";
        std::set<std::string> names;
        for (auto it = nodes.lower_bound(prefix); it != nodes.end(); ++it) {
            if (it->first.compare(0, prefix.size(), prefix) != 0) break;
            const std::string rest = it->first.substr(prefix.size());
            names.insert(rest.substr(0, rest.find('/')));
        }
        if (names.empty()) {
            const auto node = nodes.find(path);
            return unexpected(node != nodes.end() && !node->second.linkTarget ? ENOTDIR : ENOENT);
        }
        return std::vector<std::string>(names.begin(), names.end());
    }

    // Every other descriptor is read and closed at once, as beyond a low descriptor limit, so
    // both ways of reading a kept file are explored.
    bool mayKeepOpen(int fd) const noexcept override { return fd % 2 == 0; }

    hwmon::IoResult<int> open(const std::string& path) noexcept override {
        const auto node = nodes.find(path);
        if (node == nodes.end() || node->second.linkTarget)
            return unexpected(listDirectory(path).has_value() ? EISDIR : ENOENT);
        openPaths[nextFd] = path;
        return nextFd++;
    }

    hwmon::IoResult<std::size_t> readAt0(int fd, std::span<char> buffer) noexcept override {
        const auto file = openPaths.find(fd);
        FUZZ_CHECK(file != openPaths.end());  // never a descriptor that is not open
        const auto node = nodes.find(file->second);
        if (node == nodes.end()) return unexpected(ENODEV);
        if (node->second.readError != 0) return unexpected(node->second.readError);
        return node->second.content.copy(buffer.data(), buffer.size());
    }

    // Closed once, and only when open.
    void close(int fd) noexcept override { FUZZ_CHECK(openPaths.erase(fd) == 1); }

    hwmon::IoResult<std::string> readLink(const std::string& path) override {
        const auto node = nodes.find(path);
        if (node != nodes.end() && node->second.linkTarget) return *node->second.linkTarget;
        return unexpected(node != nodes.end() || listDirectory(path).has_value() ? EINVAL : ENOENT);
    }

    std::map<std::string, Node> nodes;
    std::map<int, std::string> openPaths;
    int nextFd = 3;
};

// Every temperature handed over is a number a payload can hold.
struct CheckingSink final : public TemperatureSink {
    void add(TemperatureCategory, double celsius) noexcept override {
        FUZZ_CHECK(std::isfinite(celsius));
    }
};

}  // namespace
}  // namespace tessly::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tessly;
    std::string_view input(reinterpret_cast<const char*>(data), size);

    fuzz::TreeReader reader;
    {
        ManualClock clock;
        const auto sensors =
            std::make_shared<hwmon::SysfsSensors>(fuzz::kRoot, reader, clock, nullptr);
        ThermalSampler thermal(hwmon::temperatureSourceOf(sensors), clock);
        const auto fans = hwmon::fanSourceOf(sensors);

        for (int version = 0; version < 3; ++version) {
            const auto end = version < 2 ? input.find("\n---\n") : std::string_view::npos;
            reader.load(input.substr(0, end));
            // The second tree comes a few seconds on (only a vanished device brings discovery
            // forward), the third after a whole period, when the listing is checked.
            clock.advance(version == 2 ? 61.0 : 3.0);
            for (int tick = 0; tick < 2; ++tick) {
                const SensorsPayload payload{.thermal = thermal.sample(),
                                             .fan = fans->readFans(),
                                             .sampledAt = clock.wallNow()};
                FUZZ_CHECK(encodeJSON(payload).has_value());
                FUZZ_CHECK(!payload.fan || (payload.fan->rpms &&
                                            payload.fan->rpms->size() ==
                                                static_cast<std::size_t>(payload.fan->fanCount)));
                clock.advance(ThermalSampler::minimumInterval);
            }
            fuzz::CheckingSink sink;
            sensors->readTemperatures(sink);
            if (end == std::string_view::npos) break;
            input.remove_prefix(end + 5);
        }

        for (const auto& entry : hwmon::reportSensors(fuzz::kRoot, reader)) {
            FUZZ_CHECK(!entry.path.empty());
            FUZZ_CHECK(fuzz::isValidUTF8(entry.chip));
            if (entry.value) FUZZ_CHECK(std::isfinite(*entry.value));
        }
    }
    // Everything the sensors and the report opened is closed again.
    FUZZ_CHECK(reader.openPaths.empty());
    return 0;
}
