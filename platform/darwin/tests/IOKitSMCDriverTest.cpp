#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "EmulatedMac.h"
#include "platform/darwin/DarwinServices.h"
#include "smc/SMCBridge.h"

namespace tessly::darwin {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

using IOKitSMCDriverTest = EmulatedMac;

TEST_F(IOKitSMCDriverTest, NoConnectionWhenTheServiceIsMissingOrRefusesTheOpen) {
    const struct {
        const char* what;
        bool emu::Failures::*failure;
        std::vector<std::string> calls;  // no exchange, nothing to close
    } cases[] = {
        {"no AppleSMC service",
         &emu::Failures::noAppleSMC,
         {"IOServiceMatching(AppleSMC)", "IOServiceGetMatchingService"}},
        {"open returns an error",
         &emu::Failures::openFails,
         {"IOServiceMatching(AppleSMC)", "IOServiceGetMatchingService", "IOServiceOpen",
          "IOObjectRelease"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        emu::reset();
        emu::setSMCKey("FNum", "ui8 ", {2});
        emu::failures().*c.failure = true;

        SMCBridge bridge(openAppleSMC());
        EXPECT_FALSE(bridge.isOpen());
        EXPECT_EQ(bridge.readKey("FNum"), std::nullopt);
        EXPECT_THAT(emu::record().calls, ElementsAreArray(c.calls));
        EXPECT_EQ(emu::liveCFObjects(), 0u);
        EXPECT_EQ(emu::liveIOObjects(), 0u);
        EXPECT_THAT(emu::record().problems, IsEmpty());
    }
}

TEST_F(IOKitSMCDriverTest, EachBridgeKeepsOnlyItsConnectionReadsOverItForLifeAndClosesItOnce) {
    emu::setSMCKey("FNum", "ui8 ", {2});
    emu::setSMCKey("ZERO", "ui8 ", {});
    // The agent's two samplers each own a bridge. The service goes right after the open, before
    // the first exchange, and the lookup consumed the matching dictionary: only the connections
    // are left.
    SMCBridge thermal(openAppleSMC());
    EXPECT_THAT(emu::record().calls,
                ElementsAre("IOServiceMatching(AppleSMC)", "IOServiceGetMatchingService",
                            "IOServiceOpen", "IOObjectRelease"));
    SMCBridge fan(openAppleSMC());
    EXPECT_EQ(emu::liveCFObjects(), 0u);
    EXPECT_EQ(emu::liveIOObjects(), 2u);

    const struct {
        const char* key;
        bool callsFail;
        std::optional<SMCValue> value;
        std::size_t exchanges;
    } cases[] = {
        {"FNum", true, std::nullopt, 1},                // a failed exchange ends the read
        {"FNum", false, SMCValue::of("ui8 ", {2}), 2},  // the same connection serves again
        {"ZERO", false, SMCValue::of("ui8 ", {}), 2},
        {"F9Ac", false, std::nullopt, 1},  // unknown key: result 0x84 ends the read
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        emu::failures().structCallsFail = c.callsFail;
        const std::size_t before = emu::callCount("IOConnectCallStructMethod");
        EXPECT_EQ(thermal.readKey(c.key), c.value);
        EXPECT_EQ(emu::callCount("IOConnectCallStructMethod") - before, c.exchanges);
    }
    for (int tick = 0; tick < 100; ++tick) {
        EXPECT_EQ(thermal.readUInt8("FNum"), 2);
        EXPECT_EQ(fan.readUInt8("FNum"), 2);
    }
    EXPECT_EQ(emu::callCount("IOServiceOpen"), 2u);
    EXPECT_EQ(emu::callCount("IOServiceClose"), 0u);
    // TearDown: each connection closed at its bridge's end, once.
}

}  // namespace
}  // namespace tessly::darwin
