#include "smc/SMCBridge.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/sim/ScriptedSMC.h"

namespace tessly {
namespace {

static_assert(std::endian::native == std::endian::little,
              "the byte patterns below are the driver's native (little-endian) order");

using Bytes = std::vector<std::uint8_t>;
using Block = std::array<std::uint8_t, sizeof(SMCKeyData)>;

Block bytesOf(const SMCKeyData& data) {
    Block block;
    std::memcpy(block.data(), &data, sizeof data);
    return block;
}

// Around a real driver: the reply to exchange number `at` (0-based) gets `result` as its result
// byte, as a driver reports an error.
struct ResultInjectingDriver final : SMCDriver {
    ResultInjectingDriver(std::unique_ptr<SMCDriver> d, std::size_t n, std::uint8_t r)
        : inner(std::move(d)), at(n), result(r) {}
    std::optional<SMCKeyData> call(const SMCKeyData& input) noexcept override {
        auto reply = inner->call(input);
        if (reply && calls++ == at) reply->result = result;
        return reply;
    }
    std::unique_ptr<SMCDriver> inner;
    std::size_t at, calls = 0;
    std::uint8_t result;
};

TEST(SMCBridgeTest, RequestsCarryKeySizeAndCommandAndAreZeroElsewhere) {
    constexpr std::array<std::size_t, 4> padding = {10, 11, 37, 43};
    // The key (offsets 0..3), then the size at 28..31 in the read-bytes request.
    const std::tuple<const char*, Bytes, Block> cases[] = {
        {"FNum", {2}, {0x6D, 0x75, 0x4E, 0x46}},
        {"F0Ac", {0, 0, 0xFA, 0x44}, {0x63, 0x41, 0x30, 0x46}},
        {"F10Ac", Bytes(32, 7), {0x63, 0x41, 0x30, 0x31}},
    };
    for (const auto& [key, value, info] : cases) {
        SCOPED_TRACE(key);
        sim::ScriptedSMC smc;
        smc.setKey(key, "flt ", value);
        ASSERT_TRUE(SMCBridge(smc.driver()).readKey(key));
        ASSERT_EQ(smc.exchanges().size(), 2u);
        Block expected[] = {info, info};
        expected[0][42] = 9;
        expected[1][42] = 5;
        expected[1][28] = static_cast<std::uint8_t>(value.size());
        for (std::size_t n = 0; n < 2; ++n) {
            const Block sent = bytesOf(smc.exchanges()[n].request);
            for (std::size_t i = 0; i < sent.size(); ++i) {
                if (std::find(padding.begin(), padding.end(), i) != padding.end()) continue;
                EXPECT_EQ(sent[i], expected[n][i]) << "request " << n << " offset " << i;
            }
        }
    }
}

TEST(SMCBridgeTest, EveryReadGoesToTheDriver) {
    sim::ScriptedSMC smc;
    const SMCBridge bridge(smc.driver());
    smc.setUInt8("FNum", 2);
    EXPECT_EQ(bridge.readUInt8("FNum"), 2);
    smc.setUInt8("FNum", 3);
    EXPECT_EQ(bridge.readUInt8("FNum"), 3);
    EXPECT_EQ(smc.exchanges().size(), 4u);
}

TEST(SMCBridgeTest, FailedExchangeOrErrorResultEndsTheReadThere) {
    using Driver = std::unique_ptr<SMCDriver>;
    const auto injecting = [](std::size_t at, std::uint8_t result) {
        return [=](sim::ScriptedSMC& smc) -> Driver {
            return std::make_unique<ResultInjectingDriver>(smc.driver(), at, result);
        };
    };
    const std::tuple<const char*, std::function<Driver(sim::ScriptedSMC&)>, std::size_t> cases[] = {
        {"unknown key: 0x84 in the first reply",
         [](sim::ScriptedSMC& smc) { return smc.removeKey("F0Ac").driver(); }, 1},
        {"0x84 in the second reply", injecting(1, 0x84), 2},
        {"other error in the first reply", injecting(0, 0x01), 1},
        {"first exchange fails",
         [](sim::ScriptedSMC& smc) { return smc.failExchangeNumber(0).driver(); }, 1},
        {"second exchange fails",
         [](sim::ScriptedSMC& smc) { return smc.failExchangeNumber(1).driver(); }, 2},
    };
    for (const auto& [name, driver, exchanges] : cases) {
        SCOPED_TRACE(name);
        sim::ScriptedSMC smc;
        smc.setFloat("F0Ac", 2000.0f);
        EXPECT_EQ(SMCBridge(driver(smc)).readKey("F0Ac"), std::nullopt);
        EXPECT_EQ(smc.exchanges().size(), exchanges);
    }
}

TEST(SMCBridgeTest, ValueSizeComesFromKeyInformationAndMayNotExceedTheValueArea) {
    Bytes held(40);
    for (std::size_t i = 0; i < held.size(); ++i)
        held[i] = static_cast<std::uint8_t>(0x10 + i);
    for (const std::uint32_t claimed : {0u, 1u, 3u, 4u, 32u, 33u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(claimed);
        sim::ScriptedSMC smc;
        smc.setKey("TEST", "ch8*", held).setClaimedSize("TEST", claimed);
        const auto value = SMCBridge(smc.driver()).readKey("TEST");
        if (claimed > 32) {
            EXPECT_EQ(value, std::nullopt);
            EXPECT_EQ(smc.exchanges().size(), 1u);
            continue;
        }
        // The type comes from the key information; the read-bytes reply's type field is unused.
        EXPECT_EQ(value, (SMCValue{"ch8*", Bytes(held.begin(), held.begin() + claimed)}));
        EXPECT_EQ(smc.exchanges().size(), 2u);
    }
}

TEST(SMCBridgeTest, ReadUInt8WantsTypeUi8AndAtLeastOneByte) {
    const std::tuple<const char*, Bytes, std::optional<std::uint8_t>> cases[] = {
        {"ui8 ", {7}, 7},
        {"ui8 ", {200, 1}, 200},
        {"ui8 ", {}, std::nullopt},
        {"ui8", {7}, std::nullopt},
        {"si8 ", {7}, std::nullopt},
        {"ui16", {0, 7}, std::nullopt},
        {"flt ", {7, 0, 0, 0}, std::nullopt}};
    for (const auto& [type, bytes, expected] : cases) {
        sim::ScriptedSMC smc;
        smc.setKey("FNum", type, bytes);
        EXPECT_EQ(SMCBridge(smc.driver()).readUInt8("FNum"), expected) << type << bytes.size();
    }
    sim::ScriptedSMC empty;
    EXPECT_EQ(SMCBridge(empty.driver()).readUInt8("FNum"), std::nullopt);
}

TEST(SMCBridgeTest, ConnectionClosesOnceWhenItsOwnerGoesAndNoneIsNeverOpen) {
    const SMCBridge none(nullptr);
    EXPECT_FALSE(none.isOpen());
    EXPECT_EQ(none.readKey("FNum"), std::nullopt);
    EXPECT_EQ(none.readUInt8("FNum"), std::nullopt);

    sim::ScriptedSMC smc;
    smc.setUInt8("FNum", 1);
    SMCBridge first(smc.driver());
    EXPECT_TRUE(first.isOpen());
    {
        const SMCBridge second(std::move(first));
        EXPECT_EQ(smc.openDrivers(), 1u);
        EXPECT_TRUE(second.isOpen());
        // A moved-from bridge is closed and never touches the connection it gave away.
        EXPECT_FALSE(first.isOpen());
        EXPECT_EQ(first.readUInt8("FNum"), std::nullopt);
        EXPECT_TRUE(smc.exchanges().empty());
    }
    EXPECT_EQ(smc.openDrivers(), 0u);
}

}  // namespace
}  // namespace tessly
