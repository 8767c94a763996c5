// Temperatures in the domain's terms: the tally's filter and reductions, the sampler's throttle
// over a scripted source and a manual clock, and joined sources.

#include <gtest/gtest.h>

#include <limits>
#include <utility>
#include <vector>

#include "base/ManualClock.h"
#include "thermal/ThermalSampler.h"

namespace tessly::testing {
namespace {

using enum TemperatureCategory;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double largest = std::numeric_limits<double>::max();
using Readings = std::vector<std::pair<TemperatureCategory, double>>;

// Hands over fixed readings and counts how often it was read; `lists` false: it cannot list.
struct ScriptedSource final : TemperatureSource {
    ScriptedSource(Readings given, int& counter, bool listing = true)
        : readings(std::move(given)), reads(counter), lists(listing) {}
    bool readTemperatures(TemperatureSink& sink) override {
        ++reads;
        for (const auto& [category, celsius] : readings)
            sink.add(category, celsius);
        return lists;
    }
    Readings readings;
    int& reads;
    bool lists;
};

// CPU, GPU and memory report the highest value, battery and storage the mean; only finite
// values above 0 count, and a dropped value neither wins nor counts.
TEST(TemperatureTallyTest, CategoriesReduceByMaximumOrMean) {
    TemperatureTally tally;
    const Readings added = {{cpu, 50},     {cpu, 60},     {cpu, inf},     {gpu, 42},
                            {gpu, 47.5},   {memory, 38},  {memory, 41},   {memory, -3},
                            {battery, 30}, {battery, 33}, {battery, nan}, {battery, 0},
                            {storage, 33}, {storage, 35}};
    for (const auto& [category, celsius] : added)
        tally.add(category, celsius);
    EXPECT_EQ(tally.reading(), (ThermalReading{.cpuTemperatureC = 60,
                                               .gpuTemperatureC = 47.5,
                                               .memoryTemperatureC = 41,
                                               .batteryTemperatureC = 31.5,
                                               .storageTemperatureC = 34}));
    EXPECT_EQ(TemperatureTally().reading(), ThermalReading{});

    // Huge values stay finite: the mean of the largest doubles is the largest.
    TemperatureTally huge;
    for (int i = 0; i < 3; ++i)
        huge.add(storage, largest);
    EXPECT_EQ(huge.reading().storageTemperatureC, largest);
}

// One reading per minimumInterval on the monotonic clock: setting the wall clock neither delays
// nor hastens it, and a throttled call does not reach the source. A source that cannot list gives
// no reading, and the call still counts for the throttle; a source that lists nothing gives a
// reading with every field absent.
TEST(ThermalSamplerTest, TheThrottleFollowsTheMonotonicClockAndCountsCallsThatListNothing) {
    ManualClock clock;
    int reads = 0;
    ThermalSampler sampler(std::make_unique<ScriptedSource>(Readings{{cpu, 50}}, reads), clock);
    EXPECT_EQ(sampler.sample()->cpuTemperatureC, 50);
    clock.advance(1.999);
    EXPECT_FALSE(sampler.sample());
    clock.advance(0.001);
    EXPECT_TRUE(sampler.sample());  // exactly the interval later
    clock.setWall(clock.wallNow() + 3600);
    EXPECT_FALSE(sampler.sample());
    clock.setWall(clock.wallNow() - 7200);
    clock.advance(2);
    EXPECT_TRUE(sampler.sample());
    EXPECT_EQ(reads, 3);

    ThermalSampler failing(std::make_unique<ScriptedSource>(Readings{{cpu, 50}}, reads, false),
                           clock);
    EXPECT_FALSE(failing.sample());
    clock.advance(1);
    EXPECT_FALSE(failing.sample());
    EXPECT_EQ(reads, 4);

    ThermalSampler empty(std::make_unique<ScriptedSource>(Readings{}, reads), clock);
    EXPECT_EQ(empty.sample(), ThermalReading{});
    EXPECT_FALSE(ThermalSampler(nullptr, clock).sample());
}

TEST(ThermalSamplerTest, JoinedSourcesListWhenEitherLists) {
    int reads = 0;
    for (const auto& [first, second] :
         {std::pair{true, true}, {true, false}, {false, true}, {false, false}}) {
        const auto joined = joinTemperatureSources(
            std::make_unique<ScriptedSource>(Readings{{cpu, 50}}, reads, first),
            std::make_unique<ScriptedSource>(Readings{{gpu, 40}}, reads, second));
        TemperatureTally tally;
        EXPECT_EQ(joined->readTemperatures(tally), first || second);
        EXPECT_EQ(tally.reading().cpuTemperatureC, 50);
        EXPECT_EQ(tally.reading().gpuTemperatureC, 40);
    }
    EXPECT_EQ(reads, 8);
    EXPECT_EQ(joinTemperatureSources(nullptr, nullptr), nullptr);
}

}  // namespace
}  // namespace tessly::testing
