// tessly_floor: the least work one tick of the agent can do, as a yardstick for bench/compare.
//
// Usage: tessly_floor [--sysfs ROOT] [--ticks N]
//
// Set-up, not part of any tick: one walk of ROOT (default /sys) with the project's discovery, to
// read exactly the files the agent reads (the temperature services the sampler classifies, the
// memory inputs, the fan inputs); every file opened once and kept open; the fan limits read once
// (the agent caches them too); the container directory opened once.
//
// Each tick, on a 1.0 s timerfd schedule: one read of the timer; control.json opened, read once and
// closed, its stop request honoured; one pread from offset 0 per value (temperatures at most every
// 2.0 s, as the agent's thermal throttle; fans every tick); the payload formatted by hand; a fixed
// temporary created, written, closed and renamed over sensors.json. No allocation after set-up.
// Runs until killed, or for N ticks.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/FileReader.h"
#include "platform/linux/SensorPlan.h"
#include "platform/linux/SysfsScan.h"
#include "thermal/TemperatureCategory.h"

namespace {

using tessly::TemperatureCategory;

constexpr double thermalInterval = 2.0;

struct Input {
    int fd;
    double scale;  // file value -> degrees Celsius or rpm
    TemperatureCategory kind;
};

double clockSeconds(clockid_t clock) {
    timespec ts{};
    ::clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

std::optional<double> readValue(int fd, double scale) {
    std::array<char, 64> buffer;
    const ssize_t n = ::pread(fd, buffer.data(), buffer.size(), 0);
    if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size()) return std::nullopt;
    std::int64_t value = 0;
    const char* end = buffer.data() + n;
    const auto [ptr, ec] = std::from_chars(buffer.data(), end, value);
    if (ec != std::errc{} || ptr == buffer.data()) return std::nullopt;
    return static_cast<double>(value) * scale;
}

std::optional<double> readOnce(const std::string& path, double scale) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    const auto value = readValue(fd, scale);
    ::close(fd);
    return value;
}

// Appends text to a fixed buffer; no allocation.
class Out {
  public:
    void text(std::string_view s) {
        const std::size_t n = std::min(s.size(), buffer_.size() - size_);
        std::memcpy(buffer_.data() + size_, s.data(), n);
        size_ += n;
    }
    void number(double v) {
        if (std::trunc(v) == v && std::fabs(v) < 9007199254740992.0) {
            put(static_cast<std::int64_t>(v));
        } else {
            put(v);
        }
    }
    void key(std::string_view name) {
        if (size_ > 0 && buffer_[size_ - 1] != '{' && buffer_[size_ - 1] != '[') text(",");
        text("\"");
        text(name);
        text("\":");
    }
    void field(std::string_view name, std::optional<double> v) {
        if (!v) return;
        key(name);
        number(*v);
    }
    void clear() { size_ = 0; }
    std::string_view view() const { return {buffer_.data(), size_}; }

  private:
    template <class T>
    void put(T v) {
        const auto [end, ec] =
            std::to_chars(buffer_.data() + size_, buffer_.data() + buffer_.size(), v);
        if (ec == std::errc{}) size_ = static_cast<std::size_t>(end - buffer_.data());
    }

    std::array<char, 1 << 16> buffer_{};
    std::size_t size_ = 0;
};

// The stop request of a control file, if any: a number after "stopRequestedAt".
std::optional<double> stopRequestedAt(std::string_view control) {
    const auto at = control.find("\"stopRequestedAt\"");
    if (at == std::string_view::npos) return std::nullopt;
    const auto colon = control.find(':', at);
    if (colon == std::string_view::npos) return std::nullopt;
    auto rest = control.substr(colon + 1);
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t'))
        rest.remove_prefix(1);
    double value = 0;
    const auto [ptr, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
    if (ec != std::errc{} || ptr == rest.data()) return std::nullopt;
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    std::string root = "/sys";
    long ticks = -1;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string_view flag = argv[i];
        if (flag == "--sysfs") {
            root = argv[i + 1];
        } else if (flag == "--ticks") {
            ticks = std::strtol(argv[i + 1], nullptr, 10);
        } else {
            std::fprintf(stderr, "usage: %s [--sysfs ROOT] [--ticks N]\n", argv[0]);
            return 2;
        }
    }
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') {
        std::fprintf(stderr, "tessly_floor: HOME must be an absolute path\n");
        return 2;
    }
    const double launchedAt = clockSeconds(CLOCK_REALTIME);

    // ---- set-up -------------------------------------------------------------------------------
    auto& reader = tessly::hwmon::FileReader::Default();
    const auto scan = tessly::hwmon::scanSysfs(reader, root);
    if (!scan) {
        std::fprintf(stderr, "tessly_floor: cannot walk %s\n", root.c_str());
        return 1;
    }
    const auto plan = tessly::hwmon::planSensors(*scan);
    std::vector<Input> temperatures;
    for (const auto& service : plan.services) {
        const auto kind = tessly::hwmonCategory(service.productName);
        if (!kind) continue;
        const int fd = ::open(service.path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        const double scale = service.unit == tessly::hwmon::Unit::decidegreeCelsius ? 0.1 : 0.001;
        temperatures.push_back({fd, scale, *kind});
    }
    std::vector<int> memory;
    for (const auto& input : plan.memory) {
        if (const int fd = ::open(input.path.c_str(), O_RDONLY | O_CLOEXEC); fd >= 0) {
            memory.push_back(fd);
        }
    }
    std::vector<int> fans;
    std::optional<double> minRPM, maxRPM;
    for (const auto& fan : plan.fans) {
        fans.push_back(::open(fan.inputPath.c_str(), O_RDONLY | O_CLOEXEC));
        if (fan.minPath) {
            if (const auto v = readOnce(*fan.minPath, 1.0); v && (!minRPM || *v < *minRPM))
                minRPM = v;
        }
        if (fan.maxPath) {
            if (const auto v = readOnce(*fan.maxPath, 1.0); v && (!maxRPM || *v > *maxRPM))
                maxRPM = v;
        }
    }
    if (!(minRPM && maxRPM && *minRPM < *maxRPM)) minRPM = maxRPM = std::nullopt;
    std::vector<double> rpms(fans.size());

    // Where the agent publishes: the run-time directory, else beside the control file.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::filesystem::path container =
        runtime != nullptr && runtime[0] == '/'
            ? std::filesystem::path(runtime) / "tessly"
            : std::filesystem::path(home) / ".local/state/tessly";
    std::error_code ignored;
    std::filesystem::create_directories(container, ignored);
    const int dir = ::open(container.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        std::fprintf(stderr, "tessly_floor: cannot open %s\n", container.c_str());
        return 1;
    }

    const int timer = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    itimerspec schedule{};
    schedule.it_interval.tv_sec = 1;
    schedule.it_value.tv_sec = 1;
    if (timer < 0 || ::timerfd_settime(timer, 0, &schedule, nullptr) != 0) {
        std::fprintf(stderr, "tessly_floor: no timer\n");
        return 1;
    }

    // ---- ticks ----------------------------------------------------------------------------------
    std::optional<double> cpu, gpu, mem, battery, storage;
    std::optional<double> lastThermal;
    std::array<char, 4096> control{};
    Out out;
    for (long tick = 0; ticks < 0 || tick <= ticks; ++tick) {
        if (tick > 0) {
            std::uint64_t expirations = 0;
            if (::read(timer, &expirations, sizeof expirations) < 0) continue;
        }

        if (const int fd = ::openat(dir, "control.json", O_RDONLY | O_CLOEXEC | O_NONBLOCK);
            fd >= 0) {
            const ssize_t n = ::read(fd, control.data(), control.size());
            ::close(fd);
            if (n > 0) {
                const auto stop = stopRequestedAt({control.data(), static_cast<std::size_t>(n)});
                if (stop && *stop > launchedAt) return 0;
            }
        }

        const double now = clockSeconds(CLOCK_MONOTONIC);
        if (!lastThermal || now - *lastThermal >= thermalInterval) {
            lastThermal = now;
            double cpuMax = 0, gpuMax = 0, batterySum = 0, storageSum = 0;
            int cpuN = 0, gpuN = 0, batteryN = 0, storageN = 0;
            for (const auto& t : temperatures) {
                const auto c = readValue(t.fd, t.scale);
                if (!c || !(*c > 0.0)) continue;
                switch (t.kind) {
                    case TemperatureCategory::cpu:
                        cpuMax = cpuN++ == 0 ? *c : std::max(cpuMax, *c);
                        break;
                    case TemperatureCategory::gpu:
                        gpuMax = gpuN++ == 0 ? *c : std::max(gpuMax, *c);
                        break;
                    case TemperatureCategory::battery:
                        batterySum += *c;
                        ++batteryN;
                        break;
                    case TemperatureCategory::storage:
                        storageSum += *c;
                        ++storageN;
                        break;
                }
            }
            double memMax = 0;
            for (const int fd : memory) {
                if (const auto c = readValue(fd, 0.001); c && *c > memMax) memMax = *c;
            }
            cpu = cpuN ? std::optional(cpuMax) : std::nullopt;
            gpu = gpuN ? std::optional(gpuMax) : std::nullopt;
            mem = memMax > 0 ? std::optional(memMax) : std::nullopt;
            battery = batteryN ? std::optional(batterySum / batteryN) : std::nullopt;
            storage = storageN ? std::optional(storageSum / storageN) : std::nullopt;
        }
        double highest = 0;
        for (std::size_t i = 0; i < fans.size(); ++i) {
            rpms[i] = readValue(fans[i], 1.0).value_or(0.0);
            if (i == 0 || rpms[i] > highest) highest = rpms[i];
        }

        out.clear();
        out.text("{");
        out.key("thermal");
        out.text("{");
        out.field("cpuTemperatureC", cpu);
        out.field("gpuTemperatureC", gpu);
        out.field("memoryTemperatureC", mem);
        out.field("batteryTemperatureC", battery);
        out.field("storageTemperatureC", storage);
        out.text("}");
        if (!fans.empty()) {
            out.key("fan");
            out.text("{");
            out.field("rpm", highest);
            out.field("fanCount", static_cast<double>(fans.size()));
            out.key("rpms");
            out.text("[");
            for (std::size_t i = 0; i < rpms.size(); ++i) {
                if (i > 0) out.text(",");
                out.number(rpms[i]);
            }
            out.text("]");
            out.field("minRPM", minRPM);
            out.field("maxRPM", maxRPM);
            out.text("}");
        }
        out.field("sampledAt", clockSeconds(CLOCK_REALTIME));
        out.key("helperVersion");
        out.text("\"floor\"}");

        const int fd =
            ::openat(dir, ".sensors.json.floor", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) continue;
        const auto bytes = out.view();
        const bool written =
            ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
        const bool closed = ::close(fd) == 0;
        if (written && closed) (void)::renameat(dir, ".sensors.json.floor", dir, "sensors.json");
    }
    return 0;
}
