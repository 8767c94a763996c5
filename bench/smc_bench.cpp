// Time and heap allocations of SMC key reads and of a steady-state fan sample.
//
// "allocs" is the number of operator new calls per iteration, counted by the replacement below.
// The scripted SMC records every exchange (and allocates for it), so allocation figures come from
// QuietSMC, a fixed key table that answers the driver protocol without recording anything.

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>

#include <benchmark/benchmark.h>

#include "AllocationCounter.h"

#include "platform/darwin/testing/ScriptedSMC.h"
#include "smc/FanSampler.h"
#include "smc/FourCC.h"
#include "smc/SMCBridge.h"

namespace tessly {
namespace {

// A two-fan machine with "flt " keys that allocates nothing per exchange.
class QuietSMC final : public SMCDriver {
  public:
    std::optional<SMCKeyData> call(const SMCKeyData& input) noexcept override {
        SMCKeyData reply{};
        reply.key = input.key;
        const Key* key = find(input.key);
        if (key == nullptr) {
            reply.result = SMCKeyData::resultKeyNotFound;
        } else if (input.command == SMCKeyData::keyInfoCommand) {
            reply.dataSize = key->size;
            reply.dataType = key->type;
        } else {
            for (std::size_t i = 0; i < key->size && i < input.dataSize; ++i) {
                reply.bytes[i] = key->bytes[i];
            }
        }
        return reply;
    }

  private:
    struct Key {
        std::uint32_t code;
        std::uint32_t type;
        std::uint32_t size;
        std::uint8_t bytes[4];
    };
    static const Key* find(std::uint32_t code) noexcept {
        static constexpr Key keys[] = {
            {fourCC("FNum"), fourCC("ui8 "), 1, {2}},
            {fourCC("F0Ac"), fourCC("flt "), 4, {0x00, 0x00, 0xFA, 0x44}},  // 2000
            {fourCC("F1Ac"), fourCC("flt "), 4, {0x00, 0x20, 0x19, 0x45}},  // 2450
            {fourCC("F0Mn"), fourCC("flt "), 4, {0x00, 0x00, 0x96, 0x44}},  // 1200
            {fourCC("F0Mx"), fourCC("flt "), 4, {0x00, 0x40, 0x9C, 0x45}},  // 5000
            {fourCC("F1Mn"), fourCC("flt "), 4, {0x00, 0x00, 0x96, 0x44}},
            {fourCC("F1Mx"), fourCC("flt "), 4, {0x00, 0x40, 0x9C, 0x45}},
        };
        for (const auto& key : keys) {
            if (key.code == code) return &key;
        }
        return nullptr;
    }
};

darwin::ScriptedSMC twoFanScript() {
    darwin::ScriptedSMC smc;
    smc.setUInt8("FNum", 2)
        .setFloat("F0Ac", 2000.0f)
        .setFloat("F1Ac", 2450.0f)
        .setFloat("F0Mn", 1200.0f)
        .setFloat("F0Mx", 5000.0f)
        .setFloat("F1Mn", 1200.0f)
        .setFloat("F1Mx", 5000.0f);
    return smc;
}

// Runs `body` per iteration and reports operator new calls per iteration as "allocs".
template <typename Body>
void measure(benchmark::State& state, Body body) {
    const std::uint64_t before = tessly::bench::allocationCount();
    for (auto _ : state)
        body();
    const std::uint64_t after = tessly::bench::allocationCount();
    state.counters["allocs"] =
        benchmark::Counter(static_cast<double>(after - before), benchmark::Counter::kAvgIterations);
}

void BM_ReadKey_Quiet(benchmark::State& state) {
    const SMCBridge bridge(std::make_unique<QuietSMC>());
    measure(state, [&] { benchmark::DoNotOptimize(bridge.readKey("F0Ac")); });
}
BENCHMARK(BM_ReadKey_Quiet);

void BM_ReadKey_Scripted(benchmark::State& state) {
    darwin::ScriptedSMC smc = twoFanScript();
    const SMCBridge bridge(smc.driver());
    std::size_t reads = 0;
    measure(state, [&] {
        benchmark::DoNotOptimize(bridge.readKey("F0Ac"));
        if (++reads % 4096 == 0) smc.clearRecord();  // keeps the record's memory bounded
    });
}
BENCHMARK(BM_ReadKey_Scripted);

void BM_FanSampleSteady_Quiet(benchmark::State& state) {
    FanSampler sampler{SMCBridge(std::make_unique<QuietSMC>())};
    if (!sampler.readFans()) state.SkipWithError("no reading");  // caches count and limits
    measure(state, [&] { benchmark::DoNotOptimize(sampler.readFans()); });
}
BENCHMARK(BM_FanSampleSteady_Quiet);

void BM_FanSampleSteady_Scripted(benchmark::State& state) {
    darwin::ScriptedSMC smc = twoFanScript();
    FanSampler sampler{SMCBridge(smc.driver())};
    if (!sampler.readFans()) state.SkipWithError("no reading");
    std::size_t samples = 0;
    measure(state, [&] {
        benchmark::DoNotOptimize(sampler.readFans());
        if (++samples % 1024 == 0) smc.clearRecord();
    });
}
BENCHMARK(BM_FanSampleSteady_Scripted);

}  // namespace
}  // namespace tessly

BENCHMARK_MAIN();
