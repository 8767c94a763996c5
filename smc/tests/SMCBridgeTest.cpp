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

// Fault injection around a real driver: the reply to exchange number `at` (0-based) gets `result`
// as its result byte, as a driver reports an error.
class ResultInjectingDriver final : public SMCDriver {
  public:
    ResultInjectingDriver(std::unique_ptr<SMCDriver> inner, std::size_t at, std::uint8_t result)
        : inner_(std::move(inner)), at_(at), result_(result) {}

    std::optional<SMCKeyData> call(const SMCKeyData& input) noexcept override {
        auto reply = inner_->call(input);
        if (reply && calls_++ == at_) reply->result = result_;
        return reply;
    }

  private:
    std::unique_ptr<SMCDriver> inner_;
    std::size_t at_;
    std::uint8_t result_;
    std::size_t calls_ = 0;
};

TEST(SMCBridgeTest, RequestsCarryKeySizeAndCommandAndAreZeroElsewhere) {
    constexpr std::array<std::size_t, 4> padding = {10, 11, 37, 43};
    struct Case {
        const char* key;
        Bytes value;
        std::array<std::uint8_t, 4> keyBytes;   // offsets 0..3
        std::array<std::uint8_t, 4> sizeBytes;  // offsets 28..31 of the read-bytes request
    };
    const Case cases[] = {
        {"FNum", {2}, {0x6D, 0x75, 0x4E, 0x46}, {1, 0, 0, 0}},
        {"F0Ac", {0, 0, 0xFA, 0x44}, {0x63, 0x41, 0x30, 0x46}, {4, 0, 0, 0}},
        {"F10Ac", Bytes(32, 7), {0x63, 0x41, 0x30, 0x31}, {32, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        sim::ScriptedSMC smc;
        smc.setKey(c.key, "flt ", c.value);
        const SMCBridge bridge(smc.driver());
        ASSERT_TRUE(bridge.readKey(c.key));
        ASSERT_EQ(smc.exchanges().size(), 2u);

        Block info{};
        std::copy(c.keyBytes.begin(), c.keyBytes.end(), info.begin());
        info[42] = 9;
        Block read = info;
        read[42] = 5;
        std::copy(c.sizeBytes.begin(), c.sizeBytes.end(), read.begin() + 28);

        const Block sent[] = {bytesOf(smc.exchanges()[0].request),
                              bytesOf(smc.exchanges()[1].request)};
        const Block* expected[] = {&info, &read};
        for (std::size_t n = 0; n < 2; ++n) {
            for (std::size_t i = 0; i < sent[n].size(); ++i) {
                if (std::find(padding.begin(), padding.end(), i) != padding.end()) continue;
                EXPECT_EQ(sent[n][i], (*expected[n])[i]) << "request " << n << " offset " << i;
            }
        }
    }
}

TEST(SMCBridgeTest, EveryReadGoesToTheDriver) {
    sim::ScriptedSMC smc;
    smc.setUInt8("FNum", 2);
    const SMCBridge bridge(smc.driver());
    EXPECT_EQ(bridge.readUInt8("FNum"), 2);
    smc.setUInt8("FNum", 3);
    EXPECT_EQ(bridge.readUInt8("FNum"), 3);
    EXPECT_EQ(smc.exchanges().size(), 4u);
}

TEST(SMCBridgeTest, FailedExchangeOrErrorResultEndsTheReadThere) {
    struct Case {
        const char* name;
        std::function<std::unique_ptr<SMCDriver>(sim::ScriptedSMC&)> driver;
        std::size_t exchanges;
    };
    const Case cases[] = {
        {"unknown key: 0x84 in the first reply",
         [](sim::ScriptedSMC& smc) { return smc.removeKey("F0Ac").driver(); }, 1},
        {"0x84 in the second reply",
         [](sim::ScriptedSMC& smc) {
             return std::make_unique<ResultInjectingDriver>(smc.driver(), 1, 0x84);
         },
         2},
        {"other error in the first reply",
         [](sim::ScriptedSMC& smc) {
             return std::make_unique<ResultInjectingDriver>(smc.driver(), 0, 0x01);
         },
         1},
        {"first exchange fails",
         [](sim::ScriptedSMC& smc) { return smc.failExchangeNumber(0).driver(); }, 1},
        {"second exchange fails",
         [](sim::ScriptedSMC& smc) { return smc.failExchangeNumber(1).driver(); }, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::ScriptedSMC smc;
        smc.setFloat("F0Ac", 2000.0f);
        const SMCBridge bridge(c.driver(smc));
        EXPECT_EQ(bridge.readKey("F0Ac"), std::nullopt);
        EXPECT_EQ(smc.exchanges().size(), c.exchanges);
    }
}

TEST(SMCBridgeTest, ValueSizeComesFromKeyInformationAndMayNotExceedTheValueArea) {
    Bytes held(40);
    for (std::size_t i = 0; i < held.size(); ++i)
        held[i] = static_cast<std::uint8_t>(0x10 + i);
    const auto first = [&](std::ptrdiff_t n) { return Bytes(held.begin(), held.begin() + n); };
    struct Case {
        std::uint32_t claimed;
        std::optional<Bytes> bytes;
        std::size_t exchanges;
    };
    const Case cases[] = {
        {0, Bytes{}, 2},
        {1, first(1), 2},
        {3, first(3), 2},
        {4, first(4), 2},
        {32, first(32), 2},
        {33, std::nullopt, 1},
        {0xFFFFFFFF, std::nullopt, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.claimed);
        sim::ScriptedSMC smc;
        smc.setKey("TEST", "ch8*", held).setClaimedSize("TEST", c.claimed);
        const SMCBridge bridge(smc.driver());
        const auto value = bridge.readKey("TEST");
        EXPECT_EQ(smc.exchanges().size(), c.exchanges);
        if (!c.bytes) {
            EXPECT_EQ(value, std::nullopt);
            continue;
        }
        // The type comes from the key information; the read-bytes reply's type field is unused.
        EXPECT_EQ(value, (SMCValue{"ch8*", *c.bytes}));
    }
}

TEST(SMCBridgeTest, ReadUInt8WantsTypeUi8AndAtLeastOneByte) {
    struct Case {
        const char* type;
        Bytes bytes;
        std::optional<std::uint8_t> expected;
    };
    const Case cases[] = {
        {"ui8 ", {7}, 7},
        {"ui8 ", {200, 1}, 200},
        {"ui8 ", {}, std::nullopt},
        {"ui8", {7}, std::nullopt},
        {"si8 ", {7}, std::nullopt},
        {"flt ", {7, 0, 0, 0}, std::nullopt},
        {"ui16", {0, 7}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " with " + std::to_string(c.bytes.size()) + " bytes");
        sim::ScriptedSMC smc;
        smc.setKey("FNum", c.type, c.bytes);
        EXPECT_EQ(SMCBridge(smc.driver()).readUInt8("FNum"), c.expected);
    }
    sim::ScriptedSMC empty;
    EXPECT_EQ(SMCBridge(empty.driver()).readUInt8("FNum"), std::nullopt);
}

TEST(SMCBridgeTest, BridgeWithoutDriverIsClosedAndAnswersNothing) {
    const SMCBridge bridge(nullptr);
    EXPECT_FALSE(bridge.isOpen());
    EXPECT_EQ(bridge.readKey("FNum"), std::nullopt);
    EXPECT_EQ(bridge.readUInt8("FNum"), std::nullopt);
}

TEST(SMCBridgeTest, ConnectionClosesOnceWhenItsOwnerGoes) {
    sim::ScriptedSMC smc;
    smc.setUInt8("FNum", 1);
    {
        SMCBridge first(smc.driver());
        EXPECT_TRUE(first.isOpen());
        EXPECT_EQ(smc.openDrivers(), 1u);
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
    EXPECT_EQ(smc.openDrivers(), 0u);
}

}  // namespace
}  // namespace tessly
