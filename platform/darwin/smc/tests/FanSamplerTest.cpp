// The fan sampler over scripted SMCs: what it reads on the first sample and on every later one,
// how speeds and limits are reduced, and what it makes of keys that misbehave.

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "platform/darwin/testing/ScriptedSMC.h"
#include "smc/FanSampler.h"
#include "smc/FourCC.h"

namespace tessly::testing {
namespace {

using Keys = std::vector<std::string>;
constexpr float nanf = std::numeric_limits<float>::quiet_NaN();

FanReading reading(std::vector<double> rpms, std::optional<double> min = std::nullopt,
                   std::optional<double> max = std::nullopt) {
    FanReading r;
    r.rpm = *std::max_element(rpms.begin(), rpms.end());
    r.fanCount = std::ssize(rpms);
    r.rpms = std::move(rpms);
    r.minRPM = min;
    r.maxRPM = max;
    return r;
}

// The fan count and limits are read once, the speeds on every sample: "flt " keys once each,
// any other type twice (once more as "fpe2"). A speed that cannot be read counts as 0.
TEST(FanSamplerTest, CountAndLimitsAreReadOnceAndSpeedsEverySample) {
    const struct {
        const char* name;
        void (*script)(darwin::ScriptedSMC&);
        FanReading expected;
        Keys first, steady;
    } cases[] = {
        {"two flt fans with limits",
         [](darwin::ScriptedSMC& smc) {
             smc.setUInt8("FNum", 2).setFloat("F0Ac", 2000).setFloat("F1Ac", 2450.5f);
             smc.setFloat("F0Mn", 1200).setFloat("F0Mx", 5000).setFloat("F1Mn", 1300);
             smc.setFloat("F1Mx", 5500);
         },
         reading({2000, 2450.5}, 1200, 5500),
         {"FNum", "F0Ac", "F1Ac", "F0Mn", "F0Mx", "F1Mn", "F1Mx"},
         {"F0Ac", "F1Ac"}},
        {"an old Intel fan of fpe2 keys",
         [](darwin::ScriptedSMC& smc) {
             smc.setUInt8("FNum", 1).setFPE2("F0Ac", 2000.25).setFPE2("F0Mn", 1000);
             smc.setFPE2("F0Mx", 6200);
         },
         reading({2000.25}, 1000, 6200),
         {"FNum", "F0Ac", "F0Ac", "F0Mn", "F0Mn", "F0Mx", "F0Mx"},
         {"F0Ac", "F0Ac"}},
        {"a second fan that cannot be read",
         [](darwin::ScriptedSMC& smc) {
             smc.setUInt8("FNum", 2).setFloat("F0Ac", 1800).failExchangesFor("F1Ac");
         },
         reading({1800, 0}),
         {"FNum", "F0Ac", "F1Ac", "F1Ac", "F0Mn", "F0Mn", "F0Mx", "F0Mx", "F1Mn", "F1Mn", "F1Mx",
          "F1Mx"},
         {"F0Ac", "F1Ac", "F1Ac"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        darwin::ScriptedSMC smc;
        c.script(smc);
        FanSampler sampler(SMCBridge(smc.driver()));
        EXPECT_EQ(sampler.readFans(), c.expected);
        EXPECT_EQ(smc.keysRead(), c.first);
        for (int steady = 0; steady < 2; ++steady) {
            smc.clearRecord();
            EXPECT_EQ(sampler.readFans(), c.expected);
            EXPECT_EQ(smc.keysRead(), c.steady);
        }
    }
}

// The representative speed is the highest of the fans', whatever its sign; only finite values
// are values; limits are the lowest minimum and the highest maximum, and only a true range.
TEST(FanSamplerTest, SpeedsAndLimitsReduceOverAllFans) {
    darwin::ScriptedSMC smc;
    smc.setUInt8("FNum", 3).setFloat("F0Ac", -5).setFloat("F1Ac", -3).setFloat("F2Ac", nanf);
    smc.setFloat("F0Mn", 900).setFloat("F1Mn", nanf).setFloat("F2Mx", 4000).setFloat("F0Mx", 3000);
    const auto reading = FanSampler(SMCBridge(smc.driver())).readFans();
    ASSERT_TRUE(reading);
    EXPECT_EQ(reading->rpm, 0);
    EXPECT_EQ(reading->rpms, (std::vector<double>{-5, -3, 0}));
    darwin::ScriptedSMC negative;
    negative.setUInt8("FNum", 2).setFloat("F0Ac", -5).setFloat("F1Ac", -3);
    EXPECT_EQ(FanSampler(SMCBridge(negative.driver())).readFans()->rpm, -3);
    EXPECT_EQ(reading->minRPM, 900);
    EXPECT_EQ(reading->maxRPM, 4000);

    darwin::ScriptedSMC equal;
    equal.setUInt8("FNum", 1).setFloat("F0Ac", 1000).setFloat("F0Mn", 1000).setFloat("F0Mx", 1000);
    const auto flat = FanSampler(SMCBridge(equal.driver())).readFans();
    EXPECT_FALSE(flat->minRPM || flat->maxRPM);
}

// No SMC, no count or no fans: no reading. A count once read stays; fans from 10 on are asked
// for by the last four characters of their keys.
TEST(FanSamplerTest, WithoutFansThereIsNoReadingAndManyFansAreAllRead) {
    EXPECT_FALSE(FanSampler(SMCBridge(nullptr)).readFans());
    darwin::ScriptedSMC smc;
    FanSampler sampler(SMCBridge(smc.driver()));
    EXPECT_FALSE(sampler.readFans());  // no FNum yet: asked again next time
    smc.setUInt8("FNum", 0);
    EXPECT_FALSE(sampler.readFans());
    smc.setUInt8("FNum", 12).clearRecord();
    EXPECT_FALSE(sampler.readFans());  // 0 fans, cached
    EXPECT_EQ(smc.keysRead(), Keys{});

    darwin::ScriptedSMC many;
    many.setUInt8("FNum", 12).setFloat("10Ac", 1010).setFloat("11Ac", 1111);
    const auto reading = FanSampler(SMCBridge(many.driver())).readFans();
    ASSERT_TRUE(reading);
    EXPECT_EQ(reading->rpms->at(10), 1010);
    EXPECT_EQ(reading->rpm, 1111);
}

}  // namespace
}  // namespace tessly::testing
