#include <iterator>
#include <optional>
#include <string>

#include "EmulatedMac.h"
#include "hid/AppleTemperatureSource.h"
#include "platform/darwin/DarwinServices.h"
#include "smc/SMCBridge.h"
#include "thermal/TemperatureSource.h"

namespace tessly::darwin {
namespace {

using ::testing::ElementsAre;
using ::testing::Optional;
using ::testing::Pair;
using Product = emu::HIDService::Product;

using HIDTemperatureServicesTest = EmulatedMac;

// The client is restricted to temperature sensors as it is made, or is not made at all; each
// listing reports names and temperatures and releases what it copied.
TEST_F(HIDTemperatureServicesTest, ClientListsTemperatureSensorsAndReleasesWhatItCopied) {
    // Each service's name comes back when it is a string, its temperature when it has one.
    const emu::HIDService rows[] = {
        {Product::string, "PMU tdie1", 45.5},
        {Product::string, "NAND CH0 temp", std::nullopt},
        {Product::number, "", 30.0},
        {Product::missing, "", 31.0},
        {Product::string, "", 20.0},
        // UTF-8 takes more bytes than the UTF-16 length: two, three and four per character.
        {Product::string, "Sonde température", 40.0},
        {Product::string, "温度 battery", 33.0},
        {Product::string, "\U0001F321 NAND", 34.0},
    };
    for (const auto& row : rows)
        emu::addHIDService(row);
    // Not a temperature sensor (keyboard usage): the matching keeps it out of every listing.
    emu::addHIDService({Product::string, "Keyboard battery", 25.0, 0x01, 0x06});

    emu::failures().clientCreateFails = true;
    EXPECT_EQ(makeHIDTemperatureServices(), nullptr);
    EXPECT_THAT(emu::record().calls, ElementsAre("IOHIDEventSystemClientCreate"));
    emu::failures().clientCreateFails = false;

    auto services = makeHIDTemperatureServices();
    ASSERT_NE(services, nullptr);
    // Matching by two signed 64-bit numbers; the dictionary and its numbers are gone, the client
    // and every service it holds stay (TearDown: until the end).
    EXPECT_THAT(emu::record().lastMatching,
                Optional(ElementsAre(
                    Pair("PrimaryUsage", emu::MatchingNumber{kCFNumberSInt64Type, 5}),
                    Pair("PrimaryUsagePage", emu::MatchingNumber{kCFNumberSInt64Type, 65280}))));
    const std::size_t live = emu::liveCFObjects();
    EXPECT_EQ(live, 2u + std::size(rows));
    {
        const auto list = services->copyServices();
        ASSERT_NE(list, nullptr);
        ASSERT_EQ(list->count(), std::size(rows));
        for (std::size_t i = 0; i < std::size(rows); ++i) {
            SCOPED_TRACE(i);
            const bool named = rows[i].product == Product::string;
            EXPECT_EQ(list->productName(i), named ? std::optional(rows[i].name) : std::nullopt);
            EXPECT_EQ(list->temperature(i), rows[i].celsius);
        }
        EXPECT_EQ(list->productName(std::size(rows)), std::nullopt);
        EXPECT_EQ(list->temperature(std::size(rows)), std::nullopt);
    }
    EXPECT_EQ(emu::liveCFObjects(), live);  // array, names, numbers and events all released

    emu::failures().copyServicesFails = true;
    EXPECT_EQ(services->copyServices(), nullptr);
    emu::failures().copyServicesFails = false;
    EXPECT_NE(services->copyServices(), nullptr);
    // TearDown: no CFRelease(NULL) or other misuse was recorded.
}

// The Mac's temperature source end to end: only services named into a category are asked for an
// event, the SMC gives memory, and every read gives back all it copied (TearDown: and at the end
// everything is released and the SMC connection closed, once).
TEST_F(HIDTemperatureServicesTest, TheSourceOverTheEmulatedMacBalancesEveryObjectReadAfterRead) {
    emu::addHIDService({Product::string, "PMU tdie1", 60.0});
    emu::addHIDService({Product::string, "PMU tdie2", std::nullopt});
    emu::addHIDService({Product::string, "PMU tdev1", 38.0});
    emu::addHIDService({Product::number, "", 70.0});
    emu::addHIDService({Product::missing, "", 70.0});
    emu::setSMCKey("TRD0", "flt ", {0x00, 0x00, 0x26, 0x42});  // 41.5

    AppleTemperatureSource source(makeHIDTemperatureServices(), SMCBridge(openAppleSMC()));
    const std::size_t live = emu::liveCFObjects();  // the client and the services it holds
    for (int read = 0; read < 30; ++read) {
        TemperatureTally tally;
        ASSERT_TRUE(source.readTemperatures(tally));
        EXPECT_EQ(tally.reading(),
                  (ThermalReading{.cpuTemperatureC = 60.0, .memoryTemperatureC = 41.5}));
        ASSERT_EQ(emu::liveCFObjects(), live) << "read " << read;
        ASSERT_EQ(emu::liveIOObjects(), 1u) << "read " << read;  // the SMC connection
    }
    // Only the two "tdie" services were asked for events, on every read.
    EXPECT_EQ(emu::callCount("IOHIDServiceClientCopyEvent"), 2u * 30);
}

}  // namespace
}  // namespace tessly::darwin
