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
// listing, and each read of the temperature source over it, releases all it copied.
TEST_F(HIDTemperatureServicesTest, ClientListsTemperatureSensorsAndEveryReadReleasesWhatItCopied) {
    // Each service's name comes back when it is a string, its temperature when it has one.
    const emu::HIDService rows[] = {
        {Product::string, "PMU tdie1", 45.5},
        {Product::string, "NAND CH0 temp", std::nullopt},
        {Product::number, "", 70.0},
        {Product::missing, "", 71.0},
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

    // The Mac's temperature source over this client: only services named into a category are
    // asked for an event, the SMC gives memory, and every read gives back all it copied
    // (TearDown: and at the end everything is released and the SMC connection closed, once).
    emu::setSMCKey("TRD0", "flt ", {0x00, 0x00, 0x26, 0x42});  // 41.5
    const std::size_t events = emu::callCount("IOHIDServiceClientCopyEvent");
    AppleTemperatureSource source(std::move(services), SMCBridge(openAppleSMC()));
    for (int read = 0; read < 30; ++read) {
        TemperatureTally tally;
        ASSERT_TRUE(source.readTemperatures(tally));
        EXPECT_EQ(tally.reading(), (ThermalReading{.cpuTemperatureC = 45.5,
                                                   .memoryTemperatureC = 41.5,
                                                   .batteryTemperatureC = 33.0,
                                                   .storageTemperatureC = 34.0}));
        ASSERT_EQ(emu::liveCFObjects(), live) << "read " << read;
        ASSERT_EQ(emu::liveIOObjects(), 1u) << "read " << read;  // the SMC connection
    }
    // The four services named into a category, on every read.
    EXPECT_EQ(emu::callCount("IOHIDServiceClientCopyEvent") - events, 4u * 30);
}

}  // namespace
}  // namespace tessly::darwin
