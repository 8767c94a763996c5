// The fan sampler over scripted SMCs: what it reads on the first sample and on every later one,
// and what it makes of keys that misbehave. How speeds and limits reduce is FanSource's (fans/).

#include <gtest/gtest.h>

#include "fans/FanSource.h"
#include "platform/darwin/testing/ScriptedSMC.h"
#include "smc/FanSampler.h"

namespace tessly::testing {
namespace {

using Keys = std::vector<std::string>;

// The fan count and limits are read once, the speeds on every sample: "flt " keys once each,
// any other type twice (once more as "fpe2"). A speed that cannot be read counts as 0.
TEST(FanSamplerTest, CountAndLimitsAreReadOnceAndSpeedsEverySample) {
    const struct {
        const char* name;
        void (*script)(darwin::ScriptedSMC&);
        std::optional<FanReading> expected;
        Keys first, steady;
    } cases[] = {
        {"two flt fans with limits",
         [](darwin::ScriptedSMC& smc) {
             smc.setUInt8("FNum", 2).setFloat("F0Ac", 2000).setFloat("F1Ac", 2450.5f);
             smc.setFloat("F0Mn", 1200).setFloat("F0Mx", 5000).setFloat("F1Mn", 1300);
             smc.setFloat("F1Mx", 5500);
         },
         fanReadingOf({2000, 2450.5}, RPMRange{1200, 5500}),
         {"FNum", "F0Ac", "F1Ac", "F0Mn", "F0Mx", "F1Mn", "F1Mx"},
         {"F0Ac", "F1Ac"}},
        {"an old Intel fan of fpe2 keys",
         [](darwin::ScriptedSMC& smc) {
             smc.setUInt8("FNum", 1).setFPE2("F0Ac", 2000.25).setFPE2("F0Mn", 1000);
             smc.setFPE2("F0Mx", 6200);
         },
         fanReadingOf({2000.25}, RPMRange{1000, 6200}),
         {"FNum", "F0Ac", "F0Ac", "F0Mn", "F0Mn", "F0Mx", "F0Mx"},
         {"F0Ac", "F0Ac"}},
        {"a second fan that cannot be read",
         [](darwin::ScriptedSMC& smc) {
             smc.setUInt8("FNum", 2).setFloat("F0Ac", 1800).failExchangesFor("F1Ac");
         },
         fanReadingOf({1800, 0}, std::nullopt),
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

// No SMC, no count or no fans: no reading. A count once read stays.
TEST(FanSamplerTest, WithoutFansThereIsNoReading) {
    EXPECT_FALSE(FanSampler(SMCBridge(nullptr)).readFans());
    darwin::ScriptedSMC smc;
    FanSampler sampler(SMCBridge(smc.driver()));
    EXPECT_FALSE(sampler.readFans());  // no FNum yet: asked again next time
    smc.setUInt8("FNum", 0);
    EXPECT_FALSE(sampler.readFans());
    smc.setUInt8("FNum", 12).clearRecord();
    EXPECT_FALSE(sampler.readFans());  // 0 fans, cached
    EXPECT_EQ(smc.keysRead(), Keys{});
}

}  // namespace
}  // namespace tessly::testing
