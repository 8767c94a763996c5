// Memory temperature: the one-time probe of the "TRD" keys and the maximum over the kept ones.
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/ManualClock.h"
#include "platform/sim/ScriptedSMC.h"
#include "platform/sim/ScriptedTemperatureServices.h"
#include "smc/FourCC.h"
#include "thermal/ThermalSampler.h"
#include "thermal/tests/ThermalTestSupport.h"

namespace tessly {
namespace {

constexpr float inf = std::numeric_limits<float>::infinity();
constexpr float nan = std::numeric_limits<float>::quiet_NaN();

class MemoryTemperatureTest : public ::testing::Test {
  protected:
    sim::ScriptedSMC smc;
    ManualClock clock;
    ThermalSampler sampler{nullptr, smc.driver(), clock};
};

TEST_F(MemoryTemperatureTest, ProbesEachCandidateOnceInOrderThenReadsOnlyKeptKeys) {
    smc.setFloat("TRD0", 41.5f).setFloat("TRDb", 44.0f).setFloat("TRDk", 90.0f);

    EXPECT_EQ(sampler.readMemoryTemperature(), 44.0);
    // Every candidate in order, then the kept keys.
    std::string probed, expected;
    for (const auto& exchange : smc.exchanges()) {
        if (exchange.request.command == SMCKeyData::keyInfoCommand)
            probed += decodeFourCC(exchange.request.key) + " ";
    }
    for (const char last : std::string_view("0123456789Xabcdefghij0b"))
        expected += std::string("TRD") + last + " ";
    EXPECT_EQ(probed, expected);

    for (int call = 0; call < 2; ++call) {
        smc.clearRecord();
        EXPECT_EQ(sampler.readMemoryTemperature(), 44.0);
        EXPECT_EQ(smc.keyInfoCount(), 2u);
        EXPECT_EQ(smc.keyInfoCount("TRD0"), 1u);
        EXPECT_EQ(smc.keyInfoCount("TRDb"), 1u);
    }
}

TEST_F(MemoryTemperatureTest, KeysThatDoNotQualifyAtTheProbeAreNeverReadAgain) {
    smc.setKey("TRD0", "fpe2", {0x0A, 0x00})
        .setKey("TRD1", "flt", {0, 0, 0x20, 0x42})  // "flt" without its blank
        .setKey("TRD2", "flt ", {0, 0, 0x20})
        .setFloat("TRD3", 40.0f)
        .failExchangesFor("TRD3");

    EXPECT_EQ(sampler.readMemoryTemperature(), std::nullopt);
    EXPECT_EQ(smc.keyInfoCount(), 21u);

    // A key that becomes readable later is not picked up: there is no second probe.
    smc.failExchangesFor("TRD3", false).setFloat("TRD4", 45.0f).clearRecord();
    EXPECT_EQ(sampler.readMemoryTemperature(), std::nullopt);
    EXPECT_EQ(smc.keyInfoCount(), 0u);
}

TEST_F(MemoryTemperatureTest, EightByteValueDecodesItsFirstFourBytes) {
    smc.setKey("TRD5", "flt ", {0x00, 0x00, 0x3D, 0x42, 0x00, 0x00, 0xC6, 0x42});  // 47.25, 99
    EXPECT_EQ(sampler.readMemoryTemperature(), 47.25);
}

TEST(MemoryTemperatureValues, HighestFiniteValueAboveZeroOfKeysKeptWhateverTheirValue) {
    // Values for TRD0, TRD1, ...: the order does not matter, NaN and infinities are passed over.
    const std::pair<std::vector<float>, std::optional<double>> cases[] = {
        {{41.5f, 44.0f}, 44.0},
        {{44.0f, 41.5f, 43.0f}, 44.0},
        {{0.0f, -0.0f, -3.0f}, std::nullopt},
        {{nan, inf, 40.0f, -inf}, 40.0},
        {{inf}, std::nullopt},
        {{nan}, std::nullopt}};
    for (const auto& [values, expected] : cases) {
        sim::ScriptedSMC smc;
        for (std::size_t i = 0; i < values.size(); ++i)
            smc.setFloat("TRD" + std::to_string(i), values[i]);
        ManualClock clock;
        ThermalSampler sampler(nullptr, smc.driver(), clock);
        EXPECT_EQ(sampler.readMemoryTemperature(), expected) << ::testing::PrintToString(values);
        smc.clearRecord();
        sampler.readMemoryTemperature();
        EXPECT_EQ(smc.keyInfoCount(), values.size());
    }
}

TEST_F(MemoryTemperatureTest, KeptKeyThatFailsLaterIsPassedOverOnThatCallOnly) {
    smc.setFloat("TRD0", 41.0f).setFloat("TRD1", 45.0f);
    ASSERT_EQ(sampler.readMemoryTemperature(), 45.0);

    using Fault = void (*)(sim::ScriptedSMC&);
    const std::pair<const char*, Fault> faults[] = {
        {"exchange fails", [](sim::ScriptedSMC& s) { s.failExchangesFor("TRD1"); }},
        {"key gone", [](sim::ScriptedSMC& s) { s.removeKey("TRD1"); }},
        {"other type",
         [](sim::ScriptedSMC& s) {
             s.setKey("TRD1", "fpe2", {0, 0, 0, 0});
         }},
        {"three bytes",
         [](sim::ScriptedSMC& s) {
             s.setKey("TRD1", "flt ", {0, 0, 0x34});
         }},
        {"infinite", [](sim::ScriptedSMC& s) { s.setFloat("TRD1", inf); }},
    };
    for (const auto& [what, fault] : faults) {
        fault(smc);
        EXPECT_EQ(sampler.readMemoryTemperature(), 41.0) << what;
        smc.failExchangesFor("TRD1", false).setFloat("TRD1", 45.0f).clearRecord();
        EXPECT_EQ(sampler.readMemoryTemperature(), 45.0) << what << ", recovered";
        EXPECT_EQ(smc.keyInfoCount(), 2u) << what;
    }
}

TEST(MemoryTemperatureClosedSMC, NothingOnEveryCallWhileHIDFieldsStillCount) {
    sim::ScriptedTemperatureServices services;
    services.add("PMU tdie0", 50.0);
    ManualClock clock;
    ThermalSampler sampler(services.services(), nullptr, clock);
    for (int call = 0; call < 3; ++call) {
        EXPECT_EQ(sampler.readMemoryTemperature(), std::nullopt);
        EXPECT_EQ(sampler.sample(), Reading().cpu(50.0));
        clock.advance(ThermalSampler::minimumInterval);
    }
}

TEST_F(MemoryTemperatureTest, ReadOnlyOnReadingsThatListedTheServices) {
    sim::ScriptedTemperatureServices services;
    ThermalSampler withServices(services.services(), smc.driver(), clock);
    smc.setFloat("TRD0", 40.0f);

    ASSERT_TRUE(withServices.sample());
    EXPECT_EQ(smc.keyInfoCount(), 22u);
    EXPECT_FALSE(withServices.sample());  // throttled
    EXPECT_EQ(smc.keyInfoCount(), 22u);
    clock.advance(2.0);
    ASSERT_TRUE(withServices.sample());
    EXPECT_EQ(smc.keyInfoCount(), 23u);
}

}  // namespace
}  // namespace tessly
