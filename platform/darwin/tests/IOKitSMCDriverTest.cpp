#include <algorithm>
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

std::ptrdiff_t firstCall(const std::string& function) {
    const auto& calls = emu::record().calls;
    return std::find(calls.begin(), calls.end(), function) - calls.begin();
}

TEST_F(IOKitSMCDriverTest, OpensTheUserClientAndKeepsOnlyTheConnection) {
    emu::setSMCKey("FNum", "ui8 ", {2});
    auto driver = openAppleSMC();
    ASSERT_NE(driver, nullptr);
    EXPECT_THAT(emu::record().calls,
                ElementsAre("IOServiceMatching(AppleSMC)", "IOServiceGetMatchingService",
                            "IOServiceOpen", "IOObjectRelease"));
    // The lookup consumed the matching dictionary; the service went right after the open.
    EXPECT_EQ(emu::liveCFObjects(), 0u);
    EXPECT_EQ(emu::liveIOObjects(), 1u);
    EXPECT_EQ(emu::openConnections(), 1u);

    const auto reply = driver->call(SMCKeyData::keyInfoRequest(0x464E756D)).value();  // "FNum"
    EXPECT_EQ(reply.result, 0);
    EXPECT_EQ(reply.dataSize, 1u);
    EXPECT_EQ(reply.dataType, 0x75693820u);  // "ui8 "
    EXPECT_EQ(emu::callCount("IOConnectCallStructMethod"), 1u);
    EXPECT_LT(firstCall("IOObjectRelease"), firstCall("IOConnectCallStructMethod"));
    // TearDown: the driver's end closed the connection, once.
}

TEST_F(IOKitSMCDriverTest, NoConnectionWhenTheServiceIsMissingOrRefusesTheOpen) {
    const struct {
        const char* what;
        bool emu::Failures::*failure;
        std::vector<std::string> calls;
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
        EXPECT_THAT(emu::record().calls,
                    ElementsAreArray(c.calls));  // no exchange, nothing to close
        EXPECT_EQ(emu::liveCFObjects(), 0u);
        EXPECT_EQ(emu::liveIOObjects(), 0u);
        EXPECT_THAT(emu::record().problems, IsEmpty());
    }
}

TEST_F(IOKitSMCDriverTest, BridgeReadsKeysOverTheUserClient) {
    emu::setSMCKey("FNum", "ui8 ", {2});
    emu::setSMCKey("ZERO", "ui8 ", {});
    SMCBridge bridge(openAppleSMC());
    ASSERT_TRUE(bridge.isOpen());

    const struct {
        const char* key;
        std::optional<SMCValue> value;
        std::size_t exchanges;
    } cases[] = {
        {"FNum", SMCValue::of("ui8 ", {2}), 2},
        {"ZERO", SMCValue::of("ui8 ", {}), 2},
        {"F9Ac", std::nullopt, 1},  // unknown key: result 0x84 ends the read
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        const std::size_t before = emu::callCount("IOConnectCallStructMethod");
        EXPECT_EQ(bridge.readKey(c.key), c.value);
        EXPECT_EQ(emu::callCount("IOConnectCallStructMethod") - before, c.exchanges);
    }
}

TEST_F(IOKitSMCDriverTest, EachBridgeKeepsOneConnectionForLifeThroughFailuresAndClosesItOnce) {
    emu::setSMCKey("FNum", "ui8 ", {2});
    // The agent's two samplers each own a bridge.
    SMCBridge thermal(openAppleSMC());
    SMCBridge fan(openAppleSMC());
    EXPECT_EQ(emu::openConnections(), 2u);
    emu::failures().structCallsFail = true;
    EXPECT_EQ(thermal.readKey("FNum"), std::nullopt);
    EXPECT_EQ(emu::callCount("IOConnectCallStructMethod"), 1u);
    emu::failures().structCallsFail = false;
    for (int tick = 0; tick < 100; ++tick) {
        EXPECT_EQ(thermal.readUInt8("FNum"), 2);  // the same connection serves again
        EXPECT_EQ(fan.readUInt8("FNum"), 2);
    }
    EXPECT_EQ(emu::callCount("IOServiceOpen"), 2u);
    EXPECT_EQ(emu::callCount("IOServiceClose"), 0u);
    // TearDown: each connection closed at its bridge's end, once.
}

}  // namespace
}  // namespace tessly::darwin
