// Memory temperature over scripted SMCs: the one probe of the candidate keys, which keys it
// keeps, and what later reads make of them.

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "platform/darwin/testing/ScriptedSMC.h"
#include "smc/MemoryTemperature.h"

namespace tessly::testing {
namespace {

using Keys = std::vector<std::string>;

// The candidates are probed once, in order, and "flt " keys of 4 bytes or more are kept (only
// the first 4 decoded); each later read touches only the kept keys, passes over one that fails
// on that read alone, and reports the highest finite value above 0. No open SMC, no kept key, or
// no kept value above 0: no temperature; a probe that kept nothing is not repeated.
TEST(MemoryTemperatureTest, CandidatesAreProbedOnceAndTheHighestKeptValueAboveZeroIsRead) {
    darwin::ScriptedSMC smc;
    smc.setFloat("TRD0", 41.5f).setFloat("TRDX", 44.25f).setFloat("TRDj", -1);
    smc.setKey("TRD5", "flt ", {0x00, 0x00, 0x20, 0x42, 0x00, 0x00, 0xC8, 0x42});  // 40, then 100
    smc.setKey("TRD3", "ui16", {0, 40}).setKey("TRD7", "flt ", {0x00, 0x00, 0x26});
    MemoryTemperature memory{SMCBridge(smc.driver())};
    EXPECT_EQ(memory.readMemoryTemperature(), 44.25);
    Keys probe(smc::memoryKeys.begin(), smc::memoryKeys.end());
    probe.insert(probe.end(), {"TRD0", "TRD5", "TRDX", "TRDj"});
    EXPECT_EQ(smc.keysRead(), probe);

    smc.clearRecord();
    smc.setFloat("TRDX", std::numeric_limits<float>::infinity()).setFloat("TRD1", 90);
    smc.setKey("TRD0", "ui16", {0, 60});
    EXPECT_EQ(memory.readMemoryTemperature(), 40.0);  // TRD5: infinity does not compete
    EXPECT_EQ(smc.keysRead(), (Keys{"TRD0", "TRD5", "TRDX", "TRDj"}));
    smc.setFloat("TRD0", 50);
    EXPECT_EQ(memory.readMemoryTemperature(), 50.0);

    EXPECT_EQ(MemoryTemperature{SMCBridge(nullptr)}.readMemoryTemperature(), std::nullopt);

    darwin::ScriptedSMC none;
    none.setKey("TRD0", "ui8 ", {40});
    MemoryTemperature nothingKept{SMCBridge(none.driver())};
    EXPECT_EQ(nothingKept.readMemoryTemperature(), std::nullopt);
    none.setFloat("TRD0", 40).clearRecord();
    EXPECT_EQ(nothingKept.readMemoryTemperature(), std::nullopt);
    EXPECT_EQ(none.keyInfoCount(), 0u);

    darwin::ScriptedSMC cold;
    cold.setFloat("TRD0", 0)
        .setFloat("TRD1", -4)
        .setFloat("TRD2", std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(MemoryTemperature{SMCBridge(cold.driver())}.readMemoryTemperature(), std::nullopt);
}

}  // namespace
}  // namespace tessly::testing
