// The SMC vocabulary and protocol: four-character codes, the value codec on real bytes, the key
// names, and the bridge's two-exchange read over a scripted driver.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "platform/darwin/testing/ScriptedSMC.h"
#include "smc/FourCC.h"
#include "smc/SMCBridge.h"
#include "smc/SMCKeys.h"
#include "smc/SMCValues.h"

namespace tessly::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

template <std::size_t n>
Bytes bytesOf(const std::array<std::uint8_t, n>& bytes) {
    return {bytes.begin(), bytes.end()};
}

// Real byte patterns: 1200 rpm as "flt " (0x44960000, little-endian) and as "fpe2" (4800
// quarters, big-endian).
TEST(SMCVocabulary, TheCodecDecodesAndEncodesRealBytes) {
    const std::pair<Bytes, float> flts[] = {{{0x00, 0x00, 0x96, 0x44}, 1200.0f},
                                            {{0x00, 0x00, 0xC8, 0xC2}, -100.0f},
                                            {{0x00, 0x00, 0x26, 0x42, 0xFF}, 41.5f}};
    for (const auto& [bytes, value] : flts) {
        EXPECT_EQ(smc::decodeFlt(bytes), value);
        EXPECT_EQ(bytesOf(smc::encodeFlt(value)), Bytes(bytes.begin(), bytes.begin() + 4));
    }
    EXPECT_EQ(smc::decodeFlt(Bytes{0, 0, 0x96}), std::nullopt);
    EXPECT_TRUE(std::isnan(*smc::decodeFlt(Bytes{0x00, 0x00, 0xC0, 0x7F})));  // passed on as is

    const std::pair<Bytes, double> fpe2s[] = {
        {{0x12, 0xC0}, 1200.0}, {{0x1F, 0x41}, 2000.25}, {{0xFF, 0xFF}, 16383.75}, {{0, 0}, 0}};
    for (const auto& [bytes, value] : fpe2s) {
        EXPECT_EQ(smc::decodeFpe2(bytes), value);
        EXPECT_EQ(bytesOf(smc::encodeFpe2(value)), bytes);
    }
    EXPECT_EQ(smc::decodeFpe2(Bytes{0x12}), std::nullopt);
    EXPECT_EQ(bytesOf(smc::encodeFpe2(-5)), (Bytes{0, 0}));
    EXPECT_EQ(bytesOf(smc::encodeFpe2(1e9)), (Bytes{0xFF, 0xFF}));
    EXPECT_EQ(smc::decodeUi8(Bytes{3, 9}), 3);
    EXPECT_EQ(smc::decodeUi8(Bytes{}), std::nullopt);
}

// Codes pack the first character highest; fan keys are formatted in place, tens digits and all.
TEST(SMCVocabulary, FourCharacterCodesAndFanKeyNames) {
    EXPECT_EQ(fourCC("FNum"), 0x464E756Du);
    EXPECT_EQ(fourCC("ui8 "), 0x75693820u);
    EXPECT_EQ(fourCC("F10Ac"), fourCC("10Ac"));  // the last four characters
    using smc::FanKey, smc::FanValue;
    EXPECT_EQ(FanKey(0, FanValue::speed).name(), "F0Ac");
    EXPECT_EQ(FanKey(7, FanValue::minimum).name(), "F7Mn");
    EXPECT_EQ(FanKey(10, FanValue::maximum).name(), "F10Mx");
    EXPECT_EQ(FanKey(109, FanValue::speed).name(), "F109Ac");
}

// A read is key information, then the value bytes; each request carries only its key, size and
// command, and the first failed exchange or error result ends the read there. A moved bridge
// keeps the one driver and closes it once; a closed bridge reads nothing.
TEST(SMCBridgeTest, ReadsAreTwoExchangesEndingAtTheFirstFailureAndTheDriverClosesOnce) {
    darwin::ScriptedSMC smc;
    smc.setKey("TEST", "ch8*", {1, 2, 3}).setUInt8("FNum", 2).setFloat("F0Ac", 1.5f);
    {
        SMCBridge opened(smc.driver());
        const SMCBridge bridge = std::move(opened);
        EXPECT_EQ(smc.openDrivers(), 1u);
        EXPECT_EQ(bridge.readKey("TEST"), SMCValue::of("ch8*", {1, 2, 3}));
        ASSERT_EQ(smc.exchanges().size(), 2u);
        const SMCKeyData info = SMCKeyData::keyInfoRequest(fourCC("TEST"));
        const SMCKeyData read = SMCKeyData::readBytesRequest(fourCC("TEST"), 3);
        EXPECT_EQ(std::memcmp(&smc.exchanges()[0].request, &info, sizeof info), 0);
        EXPECT_EQ(std::memcmp(&smc.exchanges()[1].request, &read, sizeof read), 0);

        EXPECT_EQ(bridge.readUInt8("FNum"), 2);
        EXPECT_EQ(bridge.readUInt8("F0Ac"), std::nullopt);  // another type
        smc.clearRecord();
        EXPECT_EQ(bridge.readKey("NONE"), std::nullopt);  // 0x84 to the key information
        EXPECT_EQ(smc.exchanges().size(), 1u);
        smc.failExchangesFor("TEST");
        EXPECT_EQ(bridge.readKey("TEST"), std::nullopt);

        // A key claiming more value bytes than the block holds is no value, not a cut one.
        smc.setKey("BIG!", "ch8*", Bytes(32, 7));
        EXPECT_EQ(bridge.readKey("BIG!")->bytes().size(), 32u);
        smc.setClaimedSize("BIG!", 33);
        EXPECT_EQ(bridge.readKey("BIG!"), std::nullopt);
    }
    EXPECT_EQ(smc.openDrivers(), 0u);
    EXPECT_FALSE(SMCBridge(nullptr).isOpen());
    EXPECT_EQ(SMCBridge(nullptr).readKey("FNum"), std::nullopt);
}

}  // namespace
}  // namespace tessly::testing
