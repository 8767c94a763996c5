#include "smc/FanSampler.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/sim/ScriptedSMC.h"
#include "smc/FourCC.h"

namespace tessly {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Keys = std::vector<std::string>;
constexpr float notANumber = std::numeric_limits<float>::quiet_NaN();
constexpr float infinity = std::numeric_limits<float>::infinity();

// The keys whose reads began, in order (a five-character key shows as its packed last four).
Keys keyReads(const sim::ScriptedSMC& smc) {
    Keys keys;
    for (const auto& e : smc.exchanges()) {
        if (e.request.command == SMCKeyData::keyInfoCommand)
            keys.push_back(decodeFourCC(e.request.key));
    }
    return keys;
}

FanSampler samplerOn(const sim::ScriptedSMC& smc) {
    return FanSampler(SMCBridge(smc.driver()));
}

FanReading reading(std::vector<double> rpms, std::optional<double> min = std::nullopt,
                   std::optional<double> max = std::nullopt) {
    const double top = *std::max_element(rpms.begin(), rpms.end());
    return {.rpm = top,
            .fanCount = std::ssize(rpms),
            .rpms = std::move(rpms),
            .minRPM = min,
            .maxRPM = max};
}

TEST(FanSamplerTest, ScriptedMachines) {
    // A script, the reading, the keys read by the first sample and by each later one.
    const Keys secondFanTwice = {"FNum", "F0Ac", "F1Ac", "F1Ac", "F0Mn", "F0Mn",
                                 "F0Mx", "F0Mx", "F1Mn", "F1Mn", "F1Mx", "F1Mx"};
    const std::tuple<const char*, void (*)(sim::ScriptedSMC&), FanReading, Keys, Keys> cases[] = {
        {"two-fan Apple Silicon laptop, flt keys",
         [](sim::ScriptedSMC& smc) {
             smc.setUInt8("FNum", 2)
                 .setKey("F0Ac", "flt ", {0x00, 0x00, 0xFA, 0x44})  // 2000.0
                 .setFloat("F1Ac", 2450.5f)
                 .setFloat("F0Mn", 1200.0f)
                 .setFloat("F0Mx", 5000.0f)
                 .setFloat("F1Mn", 1300.0f)
                 .setFloat("F1Mx", 5500.0f);
         },
         reading({2000.0, 2450.5}, 1200.0, 5500.0),
         {"FNum", "F0Ac", "F1Ac", "F0Mn", "F0Mx", "F1Mn", "F1Mx"},
         {"F0Ac", "F1Ac"}},
        {"old Intel machine, fpe2 keys read twice each",
         [](sim::ScriptedSMC& smc) {
             smc.setUInt8("FNum", 1)
                 .setKey("F0Ac", "fpe2", {0x1F, 0x41})   // 8001 / 4
                 .setKey("F0Mn", "fpe2", {0x0F, 0xA0})   // 1000
                 .setKey("F0Mx", "fpe2", {0x60, 0xE0});  // 6200
         },
         reading({2000.25}, 1000.0, 6200.0),
         {"FNum", "F0Ac", "F0Ac", "F0Mn", "F0Mn", "F0Mx", "F0Mx"},
         {"F0Ac", "F0Ac"}},
        {"flt and fpe2 fans, no limit keys",
         [](sim::ScriptedSMC& smc) {
             smc.setUInt8("FNum", 2)
                 .setKey("F0Ac", "flt ", {0x00, 0x00, 0xFA, 0x44})
                 .setKey("F1Ac", "fpe2", {0x1F, 0x40});
         },
         reading({2000.0, 2000.0}),
         secondFanTwice,
         {"F0Ac", "F1Ac", "F1Ac"}},
        {"second fan unreadable counts as 0",
         [](sim::ScriptedSMC& smc) {
             smc.setUInt8("FNum", 2).setFloat("F0Ac", 1800.0f).failExchangesFor("F1Ac");
         },
         reading({1800.0, 0.0}),
         secondFanTwice,
         {"F0Ac", "F1Ac", "F1Ac"}},
    };
    for (const auto& [name, script, expected, firstReads, steadyReads] : cases) {
        SCOPED_TRACE(name);
        sim::ScriptedSMC smc;
        script(smc);
        {
            auto sampler = samplerOn(smc);
            EXPECT_EQ(sampler.sample(), expected);
            EXPECT_EQ(keyReads(smc), firstReads);
            for (int steady = 0; steady < 2; ++steady) {
                smc.clearRecord();
                EXPECT_EQ(sampler.sample(), expected);
                EXPECT_EQ(keyReads(smc), steadyReads);
            }
        }
        EXPECT_EQ(smc.openDrivers(), 0u) << "the sampler's bridge closes its connection";
    }
}

TEST(FanSamplerTest, SpeedDecodingAndNonFiniteValues) {
    // A speed that does not count (not finite, too short, another type) is 0; "flt " keys are
    // read once per sample, others twice (as "fpe2").
    const std::tuple<const char*, Bytes, double, std::size_t> cases[] = {
        {"flt ", {0x00, 0x00, 0xFA, 0x44}, 2000.0, 1},
        {"flt ", {0x00, 0x00, 0xFA, 0x44, 0xFF}, 2000.0, 1},  // extra bytes ignored
        {"flt ", {0, 0, 0, 0}, 0.0, 1},
        {"flt ", {0x00, 0x00, 0xC8, 0xC2}, -100.0, 1},  // negative kept
        {"flt ",
         {0xFF, 0xFF, 0x7F, 0x7F},
         static_cast<double>(std::numeric_limits<float>::max()),
         1},
        {"flt ", {0x00, 0x00, 0xC0, 0x7F}, 0.0, 1},  // quiet NaN
        {"flt ", {0x01, 0x00, 0x80, 0x7F}, 0.0, 1},  // signalling NaN
        {"flt ", {0x00, 0x00, 0xC0, 0xFF}, 0.0, 1},  // negative NaN
        {"flt ", {0x00, 0x00, 0x80, 0x7F}, 0.0, 1},  // +inf
        {"flt ", {0x00, 0x00, 0x80, 0xFF}, 0.0, 1},  // -inf
        {"flt ", {0x00, 0xFA, 0x44}, 0.0, 2},
        {"fpe2", {0xFF, 0xFF}, 16383.75, 2},
        {"fpe2", {0x1F}, 0.0, 2},
        {"ui16", {0x07, 0xD0}, 0.0, 2},
    };
    for (const auto& [type, bytes, speed, reads] : cases) {
        SCOPED_TRACE(::testing::Message() << type << ::testing::PrintToString(bytes));
        sim::ScriptedSMC smc;
        smc.setUInt8("FNum", 2).setKey("F0Ac", type, bytes).setFloat("F1Ac", 1500.0f);
        auto sampler = samplerOn(smc);
        sampler.sample();
        smc.clearRecord();
        // Fan 0 goes first, so a value that does not count would otherwise decide rpm.
        EXPECT_EQ(sampler.sample(), reading({speed, 1500.0}));
        EXPECT_EQ(smc.keyInfoCount("F0Ac"), reads);
    }
}

TEST(FanSamplerTest, LimitsSpanAllFansAndIgnoreNonFiniteValues) {
    using Limits = std::vector<std::pair<const char*, float>>;
    constexpr std::optional<double> none;
    // The lowest minimum and highest maximum of any fan, when both exist and min < max.
    const std::tuple<Limits, std::optional<double>, std::optional<double>> cases[] = {
        {{{"F0Mn", 1200}, {"F0Mx", 5000}, {"F1Mn", 1000}}, 1000, 5000},
        {{{"F0Mn", 3000}, {"F0Mx", 3000}}, none, none},
        {{{"F0Mn", 5000}, {"F1Mx", 1000}}, none, none},
        {{{"F0Mn", 1000}, {"F1Mn", 1200}}, none, none},
        {{{"F0Mx", 5000}}, none, none},
        {{{"F0Mn", -50}, {"F1Mx", 0}}, -50, 0},
        {{{"F0Mn", notANumber}, {"F0Mx", infinity}, {"F1Mn", 1000}, {"F1Mx", 5000}}, 1000, 5000},
        {{{"F0Mn", -infinity}, {"F1Mn", 1200}, {"F1Mx", 5000}}, 1200, 5000},
        {{{"F0Mn", 1000}, {"F0Mx", infinity}}, none, none},
    };
    for (const auto& [limits, min, max] : cases) {
        sim::ScriptedSMC smc;
        smc.setUInt8("FNum", 2).setFloat("F0Ac", 2000.0f).setFloat("F1Ac", 2100.0f);
        for (const auto& [key, value] : limits)
            smc.setFloat(key, value);
        EXPECT_EQ(samplerOn(smc).sample(), reading({2000.0, 2100.0}, min, max))
            << ::testing::PrintToString(limits);
    }
}

TEST(FanSamplerTest, LimitsUnusableAtFirstStayAbsentWithoutFurtherReads) {
    sim::ScriptedSMC smc;
    smc.setUInt8("FNum", 1)
        .setFloat("F0Ac", 2000.0f)
        .setFloat("F0Mn", 3000.0f)
        .setFloat("F0Mx", 3000.0f);
    auto sampler = samplerOn(smc);
    EXPECT_EQ(sampler.sample(), reading({2000.0}));
    smc.setFloat("F0Mn", 1000.0f).setFloat("F0Mx", 6000.0f).clearRecord();
    EXPECT_EQ(sampler.sample(), reading({2000.0}));
    EXPECT_EQ(keyReads(smc), Keys{"F0Ac"});
}

TEST(FanSamplerTest, FanCountIsCachedOnlyOnceRead) {
    const std::pair<const char*, void (*)(sim::ScriptedSMC&)> cases[] = {
        {"missing", [](sim::ScriptedSMC&) {}},
        {"another type", [](sim::ScriptedSMC& smc) { smc.setKey("FNum", "si8 ", {1}); }},
        {"no bytes", [](sim::ScriptedSMC& smc) { smc.setKey("FNum", "ui8 ", {}); }},
        {"exchange fails", [](sim::ScriptedSMC& smc) { smc.failExchangeNumber(0); }},
    };
    for (const auto& [name, unusable] : cases) {
        SCOPED_TRACE(name);
        sim::ScriptedSMC smc;
        smc.setFloat("F0Ac", 2000.0f);
        unusable(smc);
        auto sampler = samplerOn(smc);
        EXPECT_EQ(sampler.sample(), std::nullopt);
        EXPECT_EQ(keyReads(smc), Keys{"FNum"});

        smc.setUInt8("FNum", 1).clearRecord();
        EXPECT_EQ(sampler.sample(), reading({2000.0}));
        EXPECT_EQ(smc.keyInfoCount("FNum"), 1u);

        smc.removeKey("FNum").clearRecord();
        EXPECT_EQ(sampler.sample(), reading({2000.0}));
        EXPECT_EQ(keyReads(smc), Keys{"F0Ac"});
    }
}

TEST(FanSamplerTest, FanlessMachineReadsNothingAfterTheFirstCountAndNoSMCNothingAtAll) {
    sim::ScriptedSMC smc;
    smc.setUInt8("FNum", 0).setFloat("F0Ac", 2000.0f).setFloat("F0Mn", 1000.0f);
    auto sampler = samplerOn(smc);
    FanSampler closed{SMCBridge(nullptr)};
    for (int call = 0; call < 3; ++call) {
        EXPECT_EQ(sampler.sample(), std::nullopt);
        EXPECT_EQ(closed.sample(), std::nullopt);
    }
    EXPECT_EQ(keyReads(smc), Keys{"FNum"});
}

TEST(FanSamplerTest, FanIndexTenAndAboveUsesTheLastFourCharacters) {
    sim::ScriptedSMC smc;
    smc.setUInt8("FNum", 11).setFloat("F0Mn", 1000.0f).setFloat("F10Mx", 6000.0f);
    std::vector<double> speeds;
    for (int i = 0; i <= 10; ++i) {
        speeds.push_back(1000.0 + 10.0 * i);
        smc.setFloat("F" + std::to_string(i) + "Ac", static_cast<float>(speeds.back()));
    }
    EXPECT_EQ(samplerOn(smc).sample(), reading(speeds, 1000.0, 6000.0));
    const Keys reads = keyReads(smc);
    ASSERT_GE(reads.size(), 13u);
    EXPECT_EQ(reads[2], "F1Ac");
    EXPECT_EQ(reads[11], "10Ac");  // "F10Ac" packed to 0x31304163
    EXPECT_EQ(reads.back(), "10Mx");
}

}  // namespace
}  // namespace tessly
