// The hwmon SMC driver: the exact key protocol, key assignment, and what re-discovery changes.

#include <bit>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "base/ManualClock.h"
#include "platform/linux/HwmonSensors.h"
#include "platform/linux/tests/SysfsTree.h"
#include "smc/FourCC.h"
#include "smc/SMCBridge.h"

namespace tessly::hwmon::testing {
namespace {

// A float key's value, or nothing when the read fails or the key is not "flt ".
std::optional<float> floatKey(const SMCBridge& smc, std::string_view key) {
    const auto value = smc.readKey(key);
    if (!value || value->dataType != "flt " || value->bytes.size() != 4) return std::nullopt;
    const auto& b = value->bytes;
    return std::bit_cast<float>(
        static_cast<std::uint32_t>(b[0] | b[1] << 8 | b[2] << 16 | b[3] << 24));
}

// A chip with one fan of that speed, in its device's directory and linked from class/hwmon as
// sysfs does. All such chips have the same name; their devices tell them apart.
std::string fanChip(int hwmon, int fan, int rpm, std::string device = {}) {
    const std::string n = std::to_string(hwmon);
    if (device.empty()) device = "fan." + n;
    const std::string dir = "devices/platform/" + device + "/hwmon/hwmon" + n;
    return "[class/hwmon]\nhwmon" + n + " -> ../../" + dir + "\n[" + dir +
           "]\nname = fanchip\nfan" + std::to_string(fan) + "_input = " + std::to_string(rpm) +
           "\n";
}

class HwmonSMCDriverTest : public ::testing::Test {
  protected:
    SMCBridge open() { return SMCBridge(openHwmonSMCDriver(tree.root(), tree.reader(), clock)); }

    SysfsTree tree;
    ManualClock clock;
};

TEST_F(HwmonSMCDriverTest, AnswersKeyInformationFromDiscoveryAndValuesWithOnePread) {
    tree.add(R"(
[class/hwmon/hwmon0]
name = thinkpad
fan1_input = 3855
fan1_min = 1200
fan1_max = 5000
[class/hwmon/hwmon1]
name = jc42
temp1_input = 41500
)");
    // Fans by hwmon number, then fan number, both numerically.
    tree.add(fanChip(10, 1, 1001));
    tree.add("[class/hwmon/hwmon2]\nname = nct6798\nfan10_input = 210\nfan2_input = 22\n");
    auto driver = openHwmonSMCDriver(tree.root(), tree.reader(), clock);
    const auto info = driver->call(SMCKeyData::keyInfoRequest(fourCC("F0Ac")));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->result, 0);
    EXPECT_EQ(info->dataSize, 4u);
    EXPECT_EQ(info->dataType, fourCC("flt "));
    EXPECT_EQ(tree.reader().reads(), 4u) << "discovery read the names and nothing else";

    EXPECT_EQ(driver->call(SMCKeyData::keyInfoRequest(fourCC("F4Ac")))->result,
              SMCKeyData::resultKeyNotFound);
    EXPECT_NE(driver->call(SMCKeyData{.key = fourCC("F0Ac"), .command = 7})->result, 0);

    const SMCBridge smc(std::move(driver));
    EXPECT_EQ(smc.readUInt8("FNum"), 4);
    // TRD0 in degrees from millidegrees.
    const std::pair<const char*, float> keys[] = {{"F1Ac", 22},   {"F2Ac", 210},  {"F3Ac", 1001},
                                                  {"F0Mn", 1200}, {"F0Mx", 5000}, {"TRD0", 41.5f}};
    for (const auto& [key, value] : keys)
        EXPECT_EQ(floatKey(smc, key), value) << key;
    for (const char* absent : {"TRD1", "F1Mn", "FNam"})
        EXPECT_EQ(smc.readKey(absent), std::nullopt) << absent;

    tree.reader().clearCounts();
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(floatKey(smc, "F0Ac"), 3855.0f);
    EXPECT_EQ(tree.reader().reads(), 5u);
    EXPECT_EQ(tree.reader().opens(), 1u) << "opened once, then re-read";
    EXPECT_EQ(tree.reader().listings(), 0u);
}

TEST_F(HwmonSMCDriverTest, OffersAtMost110FansAnd21MemoryKeys) {
    for (int chip = 0; chip < 200; ++chip)
        tree.add(fanChip(chip, 1, 1000 + chip));
    for (int chip = 200; chip < 225; ++chip) {
        tree.add("[class/hwmon/hwmon" + std::to_string(chip) + "]\nname = spd5118\ntemp1_input = " +
                 std::to_string(20000 + 100 * (chip - 200)) + "\n");
    }
    const SMCBridge smc = open();
    EXPECT_EQ(smc.readUInt8("FNum"), 110);
    // "F109Ac" packs to "09Ac", still its own key.
    const std::pair<const char*, float> keys[] = {
        {"F9Ac", 1009}, {"F109Ac", 1109}, {"TRD0", 20}, {"TRDX", 21}, {"TRDj", 22}};
    for (const auto& [key, value] : keys)
        EXPECT_EQ(floatKey(smc, key), value) << key;
    EXPECT_EQ(smc.readKey("TRDk"), std::nullopt);
}

TEST_F(HwmonSMCDriverTest, KeysStayAsFirstDiscoveredAndVanishedFansReadAsNothing) {
    tree.add(fanChip(3, 1, 1500) + fanChip(4, 1, 2500));
    const SMCBridge smc = open();
    ASSERT_EQ(smc.readUInt8("FNum"), 2);
    ASSERT_EQ(floatKey(smc, "F0Ac"), 1500.0f);

    // A fan that appears later takes no key, even after the regular discovery, nor does a chip
    // of the same name on another device take the key of one that goes away.
    tree.add(fanChip(1, 1, 900));
    clock.advance(61);
    EXPECT_EQ(smc.readUInt8("FNum"), 2);
    EXPECT_EQ(floatKey(smc, "F0Ac"), 1500.0f);

    // hwmon3 goes away: its fan reads as nothing, the other fan is unaffected.
    tree.remove("class/hwmon/hwmon3");
    tree.remove("devices/platform/fan.3");
    tree.reader().deviceGone(tree.path("class/hwmon/hwmon3"));
    EXPECT_EQ(floatKey(smc, "F0Ac"), std::nullopt);
    EXPECT_EQ(floatKey(smc, "F1Ac"), 2500.0f);
    EXPECT_EQ(floatKey(smc, "F0Ac"), std::nullopt);

    // The same chip comes back under another number: the regular discovery finds it again.
    tree.add(fanChip(7, 1, 1600, "fan.3"));
    clock.advance(30);
    EXPECT_EQ(floatKey(smc, "F0Ac"), std::nullopt) << "not before the minute is up";
    clock.advance(31);
    EXPECT_EQ(floatKey(smc, "F0Ac"), 1600.0f);
    EXPECT_EQ(smc.readUInt8("FNum"), 2);
}

TEST_F(HwmonSMCDriverTest, AGoneDeviceIsRediscoveredAtOnceButOnlyOnceAMinute) {
    tree.add(fanChip(0, 1, 1000) + fanChip(1, 1, 2000));
    const SMCBridge smc = open();
    ASSERT_EQ(floatKey(smc, "F1Ac"), 2000.0f);
    ASSERT_EQ(tree.reader().listings(), 4u);  // class/hwmon, two chips, class/power_supply

    // The driver of hwmon1 is rebound: the kept file reports ENODEV, the next key read
    // re-discovers and reads the fresh file.
    tree.reader().deviceGone(tree.path("class/hwmon/hwmon1"));
    EXPECT_EQ(floatKey(smc, "F1Ac"), std::nullopt);
    EXPECT_EQ(floatKey(smc, "F1Ac"), 2000.0f);
    EXPECT_EQ(tree.reader().listings(), 8u);

    // A file that reports ENODEV on every read while its directory stays: no further discovery
    // within the minute, however often it is read.
    tree.reader().failReads(tree.path("class/hwmon/hwmon1/fan1_input"), ENODEV);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(floatKey(smc, "F1Ac"), std::nullopt);
    EXPECT_EQ(floatKey(smc, "F0Ac"), 1000.0f);
    EXPECT_EQ(tree.reader().listings(), 8u);
    clock.advance(60);
    EXPECT_EQ(floatKey(smc, "F0Ac"), 1000.0f);
    EXPECT_EQ(tree.reader().listings(), 12u);
}

TEST_F(HwmonSMCDriverTest, NoFansWithoutHwmonAndNoKeyUntilADiscoverySucceeds) {
    EXPECT_EQ(open().readUInt8("FNum"), 0);  // cached for life by the fan sampler

    tree.add(fanChip(0, 1, 1000));
    tree.reader().failListing(tree.path("class/hwmon"), EACCES);
    const SMCBridge smc = open();
    EXPECT_EQ(smc.readUInt8("FNum"), std::nullopt);  // read again on the next sample
    tree.reader().clearFaults();
    EXPECT_EQ(smc.readUInt8("FNum"), 1);
    EXPECT_EQ(floatKey(smc, "F0Ac"), 1000.0f);
}

}  // namespace
}  // namespace tessly::hwmon::testing
