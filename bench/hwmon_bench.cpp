// CPU time and file operations of one steady-state sampling (one ThermalSampler::sample and one
// fan reading, both past their shared discovery) over sysfs trees of 3 and 60
// chips built in a temporary directory. The samplers' clock moves 2 s per iteration, so every
// thermal call passes the throttle.
//
// SteadySample/<chips>/0: the sensors see the same clock, so the listing check that stands in
// for device events runs once a minute, every 30 samples, as in the agent; its cost is spread
// over the samples. SteadySample/<chips>/1: their clock stands still, so no re-discovery falls
// inside: the cost of sampling alone.
//
// Counters, per sample: "preads", "opens", "listings", "values" (the sensor values the two
// samplers read: classified temperatures, memory modules among them, and fan speeds). The goal is
// preads == values with no opens or listings.
//
// ".../iterations:<n>" runs a fixed number of samples, so that system calls per sample can be
// measured from outside as the difference of two runs:
//   strace -f -c ./hwmon_bench --benchmark_filter='SteadySample/60/1/iterations:1000$'
//   strace -f -c ./hwmon_bench --benchmark_filter='SteadySample/60/1/iterations:11000$'

#include <stdlib.h>
#include <sys/resource.h>

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include <benchmark/benchmark.h>

#include "base/ManualClock.h"
#include "platform/linux/SysfsSensors.h"
#include "thermal/ThermalSampler.h"

namespace tessly::hwmon {
namespace {

namespace fs = std::filesystem;

// The POSIX reader, counting what it is asked to do.
class CountingReader final : public FileReader {
  public:
    IoResult<std::vector<std::string>> listDirectory(const std::string& path) override {
        ++listings;
        return FileReader::Default().listDirectory(path);
    }
    IoResult<int> open(const std::string& path) noexcept override {
        ++opens;
        return FileReader::Default().open(path);
    }
    IoResult<std::size_t> readAt0(int fd, std::span<char> buffer) noexcept override {
        ++preads;
        return FileReader::Default().readAt0(fd, buffer);
    }
    // At most keepAtMost descriptors kept, as under a low descriptor limit; the POSIX rule
    // when unset.
    bool mayKeepOpen(int fd) const noexcept override {
        if (keepAtMost == 0) return FileReader::Default().mayKeepOpen(fd);
        if (kept.contains(fd)) return true;
        if (kept.size() >= keepAtMost) return false;
        kept.insert(fd);
        return true;
    }
    void close(int fd) noexcept override {
        ++closes;
        kept.erase(fd);
        FileReader::Default().close(fd);
    }
    IoResult<std::string> readLink(const std::string& path) override {
        return FileReader::Default().readLink(path);
    }

    std::size_t listings = 0, opens = 0, preads = 0, closes = 0;
    std::size_t keepAtMost = 0;
    mutable std::set<int> kept;
};

class Tree {
  public:
    Tree() {
        std::string pattern = (fs::temp_directory_path() / "tessly-bench.XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        root = pattern;
    }
    ~Tree() {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
    void write(const std::string& relative, const std::string& content) const {
        const fs::path file = root + "/" + relative;
        fs::create_directories(file.parent_path());
        std::ofstream(file) << content << '\n';
    }

    std::string root;
};

// Chip kinds, in rotation. Per chip of each kind, the values a steady sample reads: coretemp 4,
// nvme 1 (Composite), amdgpu 2 temperatures + 1 fan, jc42 1 memory module, nct6798 3 fans (its
// temperatures are ignored), acpitz none.
void addChip(const Tree& tree, int n) {
    const std::string dir = "class/hwmon/hwmon" + std::to_string(n) + "/";
    const auto temp = [&](int i, const std::string& label, int value) {
        if (!label.empty()) tree.write(dir + "temp" + std::to_string(i) + "_label", label);
        tree.write(dir + "temp" + std::to_string(i) + "_input", std::to_string(value));
    };
    const auto fan = [&](int i, int rpm) {
        tree.write(dir + "fan" + std::to_string(i) + "_input", std::to_string(rpm));
        tree.write(dir + "fan" + std::to_string(i) + "_min", "500");
        tree.write(dir + "fan" + std::to_string(i) + "_max", "3000");
    };
    switch (n % 6) {
        case 0:
            tree.write(dir + "name", "coretemp");
            temp(1, "Package id 0", 61000);
            for (int i = 2; i <= 4; ++i)
                temp(i, "Core " + std::to_string(i - 2), 55000 + i);
            break;
        case 1:
            tree.write(dir + "name", "nvme");
            temp(1, "Composite", 36850);
            temp(2, "Sensor 1", 40850);
            temp(3, "Sensor 2", 39850);
            break;
        case 2:
            tree.write(dir + "name", "amdgpu");
            temp(1, "edge", 47000);
            temp(2, "junction", 52000);
            fan(1, 1500);
            break;
        case 3:
            tree.write(dir + "name", "jc42");
            temp(1, "", 41500);
            break;
        case 4:
            tree.write(dir + "name", "nct6798");
            for (int i = 1; i <= 6; ++i)
                temp(i, "AUXTIN" + std::to_string(i), 30000);
            for (int i = 1; i <= 3; ++i)
                fan(i, 900 + i);
            break;
        default:
            tree.write(dir + "name", "acpitz");
            temp(1, "", 27800);
            break;
    }
}

// The values one steady sample reads, by the comment above.
std::size_t valuesRead(int chips) {
    static constexpr std::size_t perKind[6] = {4, 1, 3, 1, 3, 0};
    std::size_t values = 0;
    for (int n = 0; n < chips; ++n)
        values += perKind[n % 6];
    return values;
}

void SteadySample(benchmark::State& state) {
    const int chips = static_cast<int>(state.range(0));
    const bool discoveryClockStill = state.range(1) != 0;
    Tree tree;
    for (int n = 0; n < chips; ++n)
        addChip(tree, n);
    CountingReader reader;
    ManualClock clock;
    ManualClock stillClock;
    Clock& discoveryClock = discoveryClockStill ? static_cast<Clock&>(stillClock) : clock;
    const auto sensors = std::make_shared<SysfsSensors>(tree.root, reader, discoveryClock, nullptr);
    ThermalSampler thermal(temperatureSourceOf(sensors), clock);
    const auto fans = fanSourceOf(sensors);
    if (!thermal.sample() || (!fans->readFans() && chips > 2)) state.SkipWithError("no reading");

    reader.listings = reader.opens = reader.preads = 0;
    for (auto _ : state) {
        clock.advance(2.0);
        benchmark::DoNotOptimize(thermal.sample());
        benchmark::DoNotOptimize(fans->readFans());
    }
    const auto perSample = benchmark::Counter::kAvgIterations;
    state.counters["preads"] = benchmark::Counter(static_cast<double>(reader.preads), perSample);
    state.counters["opens"] = benchmark::Counter(static_cast<double>(reader.opens), perSample);
    state.counters["listings"] =
        benchmark::Counter(static_cast<double>(reader.listings), perSample);
    state.counters["values"] = static_cast<double>(valuesRead(chips));
}

// A machine of 2,000 chips (about 4,000 values read per tick) with the descriptors it needs and
// with those of a 1,024 limit: every file kept open, or 992 kept (the limit less the reserve of
// 32) and the rest read by open, read and close on every tick. Discovery does not recur.
void ManyChips(benchmark::State& state) {
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);

    constexpr int chips = 2000;
    Tree tree;
    for (int n = 0; n < chips; ++n)
        addChip(tree, n);
    CountingReader reader;
    reader.keepAtMost = static_cast<std::size_t>(state.range(0));
    ManualClock clock;
    ManualClock stillClock;
    const auto sensors = std::make_shared<SysfsSensors>(tree.root, reader, stillClock, nullptr);
    ThermalSampler thermal(temperatureSourceOf(sensors), clock);
    const auto fans = fanSourceOf(sensors);
    if (!thermal.sample() || !fans->readFans()) state.SkipWithError("no reading");

    reader.listings = reader.opens = reader.preads = reader.closes = 0;
    for (auto _ : state) {
        clock.advance(2.0);
        benchmark::DoNotOptimize(thermal.sample());
        benchmark::DoNotOptimize(fans->readFans());
    }
    const auto perSample = benchmark::Counter::kAvgIterations;
    state.counters["preads"] = benchmark::Counter(static_cast<double>(reader.preads), perSample);
    state.counters["opens"] = benchmark::Counter(static_cast<double>(reader.opens), perSample);
    state.counters["closes"] = benchmark::Counter(static_cast<double>(reader.closes), perSample);
    state.counters["kept"] = static_cast<double>(reader.kept.size());
    state.counters["values"] = static_cast<double>(valuesRead(chips));
}
BENCHMARK(ManyChips)->Arg(1 << 20)->Arg(1024 - 32)->Unit(benchmark::kMillisecond);

BENCHMARK(SteadySample)->ArgsProduct({{3, 60}, {0, 1}});
BENCHMARK(SteadySample)->ArgsProduct({{3, 60}, {0, 1}})->Iterations(1000);
BENCHMARK(SteadySample)->ArgsProduct({{3, 60}, {0, 1}})->Iterations(11000);

}  // namespace
}  // namespace tessly::hwmon

BENCHMARK_MAIN();
