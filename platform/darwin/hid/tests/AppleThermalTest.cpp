// The temperatures of a Mac: which Apple service names feed which category, and the source's walk
// over scripted services and a scripted SMC.

#include <gtest/gtest.h>

#include <optional>
#include <string_view>
#include <tuple>

#include "hid/AppleNaming.h"
#include "hid/AppleTemperatureSource.h"
#include "platform/darwin/testing/ScriptedSMC.h"
#include "platform/darwin/testing/ScriptedTemperatureServices.h"

namespace tessly::testing {
namespace {

using enum TemperatureCategory;

TEST(AppleNamingTest, TheFirstOfFiveOrderedTestsDecides) {
    const std::pair<std::string_view, std::optional<TemperatureCategory>> cases[] = {
        {"PMU tdie10", cpu},
        {"PMU TP0s", cpu},
        {"PMU TP1g", gpu},
        {"gas gauge battery", battery},
        {"NAND CH0 temp", storage},
        // Earlier tests win: "tdie" over "NAND" and " TP", " TP…s" over "battery".
        {"tdie NAND", cpu},
        {"tdie TP1g", cpu},
        {"battery TP0s", cpu},
        // " TP" ending in another letter is left to the later tests.
        {"PMU TP0x battery", battery},
        {"PMU TP0x NAND", storage},
        {"PMU TP0x", std::nullopt},
        // Only the battery test ignores case.
        {"Gas Gauge BatTery", battery},
        {"BATTERY pack", battery},
        {"PMU TDIE1", std::nullopt},
        {"PMU tp0s", std::nullopt},
        {"nand CH0", std::nullopt},
        {"PMU tdev1", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [name, category] : cases)
        EXPECT_EQ(appleCategory(name), category) << name;
}

// Services that cannot be listed give no reading, and memory keys are then not read at all; an
// empty listing is a reading (of memory alone here). A service's temperature is read only when
// its name falls in a category: any other service costs one name read. Memory temperature joins
// from the SMC after the walk.
TEST(AppleTemperatureSourceTest, OnlyListedServicesNamedIntoACategoryAndThenMemoryAreRead) {
    darwin::ScriptedTemperatureServices services;
    darwin::ScriptedSMC smc;
    AppleTemperatureSource source{services.services(), SMCBridge(smc.driver())};
    const auto read = [&]() -> std::optional<ThermalReading> {
        TemperatureTally tally;
        if (!source.readTemperatures(tally)) return std::nullopt;
        return tally.reading();
    };
    smc.setFloat("TRD0", 41.5f);
    services.failListing();
    EXPECT_EQ(read(), std::nullopt);
    EXPECT_EQ(smc.keyInfoCount(), 0u);
    services.failListing(false);
    EXPECT_EQ(read(), (ThermalReading{.memoryTemperatureC = 41.5}));
    TemperatureTally tally;
    EXPECT_FALSE(AppleTemperatureSource(nullptr, SMCBridge(smc.driver())).readTemperatures(tally));

    services.add("PMU tdie1", 60);
    const std::size_t ignored = services.add("PMU tdev1", 38);
    services.addWithoutName(70);
    services.add("PMU TP1g", std::nullopt);  // no temperature event
    services.add("gas gauge battery", 30);
    services.add("NAND CH0 temp", 35);
    EXPECT_EQ(read(), (ThermalReading{.cpuTemperatureC = 60,
                                      .memoryTemperatureC = 41.5,
                                      .batteryTemperatureC = 30,
                                      .storageTemperatureC = 35}));
    EXPECT_EQ(services.nameReads(ignored), 1u);
    EXPECT_EQ(services.temperatureReads(), 4u);  // the four named into a category, once each
}

}  // namespace
}  // namespace tessly::testing
