// Time and heap allocations of one thermal sample on a 60-service machine with 4 memory keys,
// past the one-time memory probe. The manual clock moves 2 s per iteration, so every call passes
// the throttle and walks the services.
//
// "allocs" is the number of operator new calls per sample, counted by the replacement below.
// "Quiet" runs over a fixed service table and SMC key table that record nothing; "Scripted" over
// the recording scripts of the darwin tests (ScriptedTemperatureServices and ScriptedSMC, whose
// exchange record is cleared every 1024 samples to keep its memory bounded).

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>

#include "AllocationCounter.h"

#include "base/ManualClock.h"
#include "hid/AppleTemperatureSource.h"
#include "platform/darwin/testing/ScriptedSMC.h"
#include "platform/darwin/testing/ScriptedTemperatureServices.h"
#include "smc/FourCC.h"
#include "thermal/ThermalSampler.h"

namespace tessly {
namespace {

// 60 services as an Apple Silicon machine names them: 30 classified (11 CPU dies, 10 CPU and 7
// GPU " TP" sensors, a battery, a NAND) and 30 ignored.
std::vector<std::pair<std::string, double>> sixtyServices() {
    std::vector<std::pair<std::string, double>> services;
    const auto add = [&](std::string name) {
        services.emplace_back(std::move(name), 30.0 + static_cast<double>(services.size()) * 0.5);
    };
    for (int i = 0; i <= 10; ++i)
        add("PMU tdie" + std::to_string(i));
    for (int i = 0; i < 10; ++i)
        add("PMU TP" + std::to_string(i) + "s");
    for (int i = 0; i < 7; ++i)
        add("PMU TP" + std::to_string(i) + "g");
    add("gas gauge battery");
    add("NAND CH0 temp");
    for (int i = 1; i <= 20; ++i)
        add("PMU tdev" + std::to_string(i));
    for (int i = 1; i <= 8; ++i)
        add("PMU TR" + std::to_string(i) + "d");
    add("PMU tcal");
    add("noname");
    return services;
}

constexpr std::string_view memoryKeys[] = {"TRD0", "TRD1", "TRD2", "TRDX"};

// The sixty services from a fixed table; names are views into it, nothing is recorded.
class QuietServices final : public TemperatureServices {
  public:
    QuietServices() : table_(sixtyServices()) {}

    std::unique_ptr<TemperatureServiceList> copyServices() override {
        return std::make_unique<List>(table_);
    }

  private:
    class List final : public TemperatureServiceList {
      public:
        explicit List(const std::vector<std::pair<std::string, double>>& table) : table_(table) {}
        std::size_t count() const noexcept override { return table_.size(); }
        std::optional<std::string_view> productName(std::size_t i) override {
            return table_[i].first;
        }
        std::optional<double> temperature(std::size_t i) noexcept override {
            return table_[i].second;
        }

      private:
        const std::vector<std::pair<std::string, double>>& table_;
    };

    std::vector<std::pair<std::string, double>> table_;
};

// The four memory keys as "flt " values (40.0 to 43.0 °C); every other key is unknown (0x84).
class QuietSMC final : public SMCDriver {
  public:
    std::optional<SMCKeyData> call(const SMCKeyData& input) noexcept override {
        SMCKeyData reply{};
        reply.key = input.key;
        for (std::size_t i = 0; i < std::size(memoryKeys); ++i) {
            if (fourCC(memoryKeys[i]) != input.key) continue;
            if (input.command == SMCKeyData::keyInfoCommand) {
                reply.dataSize = 4;
                reply.dataType = fourCC("flt ");
            } else {
                // 40.0f + i as little-endian IEEE 754 single: 0x42200000 + i * 0x00040000.
                const std::uint32_t bits = 0x42200000u + static_cast<std::uint32_t>(i) * 0x40000u;
                for (std::size_t b = 0; b < 4; ++b) {
                    reply.bytes[b] = static_cast<std::uint8_t>(bits >> (8 * b));
                }
            }
            return reply;
        }
        reply.result = SMCKeyData::resultKeyNotFound;
        return reply;
    }
};

// Samples every iteration, after one untimed sample that runs the memory probe, and reports
// operator new calls per sample as "allocs".
template <typename AfterSample>
void measure(benchmark::State& state, ThermalSampler& sampler, ManualClock& clock,
             AfterSample afterSample) {
    if (!sampler.sample()) state.SkipWithError("no reading");  // runs the memory probe
    clock.advance(ThermalSampler::minimumInterval);
    const std::uint64_t before = tessly::bench::allocationCount();
    for (auto _ : state) {
        auto reading = sampler.sample();
        if (!reading || !reading->memoryTemperatureC) {
            state.SkipWithError("no reading");
            break;
        }
        benchmark::DoNotOptimize(reading);
        clock.advance(ThermalSampler::minimumInterval);
        afterSample();
    }
    const std::uint64_t after = tessly::bench::allocationCount();
    state.counters["allocs"] =
        benchmark::Counter(static_cast<double>(after - before), benchmark::Counter::kAvgIterations);
}

void BM_Sample60Services_Quiet(benchmark::State& state) {
    ManualClock clock;
    ThermalSampler sampler(
        std::make_unique<AppleTemperatureSource>(std::make_unique<QuietServices>(),
                                                 SMCBridge(std::make_unique<QuietSMC>())),
        clock);
    measure(state, sampler, clock, [] {});
}
BENCHMARK(BM_Sample60Services_Quiet);

void BM_Sample60Services_Scripted(benchmark::State& state) {
    darwin::ScriptedTemperatureServices services;
    for (auto& [name, celsius] : sixtyServices())
        services.add(name, celsius);
    darwin::ScriptedSMC smc;
    for (std::size_t i = 0; i < std::size(memoryKeys); ++i) {
        smc.setFloat(memoryKeys[i], 40.0f + static_cast<float>(i));
    }
    ManualClock clock;
    ThermalSampler sampler(
        std::make_unique<AppleTemperatureSource>(services.services(), SMCBridge(smc.driver())),
        clock);
    std::size_t samples = 0;
    measure(state, sampler, clock, [&] {
        if (++samples % 1024 == 0) smc.clearRecord();
    });
}
BENCHMARK(BM_Sample60Services_Scripted);

}  // namespace
}  // namespace tessly

BENCHMARK_MAIN();
