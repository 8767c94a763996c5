// The simulated machines and the real agent over them, on simulated time: what each machine
// publishes, that values are a smooth, seeded function of time with spikes, and that the
// simulation obeys control.json without touching the login item.

#include <cmath>
#include <cstring>
#include <sstream>

#include "cli/Simulation.h"
#include "cli/tests/CliTestSupport.h"
#include "smc/SMCBridge.h"

namespace tessly::cli {
namespace {

using sim::SimulatedMachine;

using testing::kNewYear;

class SimulationTest : public testing::CliTest {
  protected:
    std::ostringstream report;

    std::unique_ptr<Simulation> start(std::string_view machine) {
        auto made = SimulatedMachine::make(machine);
        EXPECT_TRUE(made) << machine;
        if (!made) return nullptr;
        auto simulation = std::make_unique<Simulation>(std::move(*made), host, clock, report,
                                                       std::string("9.9.9+sim"));
        simulation->run();
        return simulation;
    }

    // One second of simulated time: one tick of the agent.
    void tick() {
        clock.advance(1.0);
        host.fire();
    }

    SensorsPayload current() {
        const auto payload = SensorBridge::read(clock.wallNow());
        EXPECT_TRUE(payload);
        return payload.value_or(SensorsPayload{});
    }
};

bool inRange(const std::optional<double>& value, double low, double high) {
    return value && *value >= low && *value <= high;
}

TEST_F(SimulationTest, EachMachinePublishesWhatItsHardwareWouldThroughTheRealAgent) {
    const struct {
        const char* machine;
        std::function<void(const SensorsPayload&)> check;
    } cases[] = {
        {"apple-silicon-laptop",
         [](const SensorsPayload& p) {
             ASSERT_TRUE(p.thermal && p.fan);
             EXPECT_TRUE(inRange(p.thermal->cpuTemperatureC, 30, 95));
             EXPECT_TRUE(inRange(p.thermal->gpuTemperatureC, 30, 80));
             EXPECT_TRUE(inRange(p.thermal->memoryTemperatureC, 30, 60));
             EXPECT_TRUE(inRange(p.thermal->batteryTemperatureC, 25, 40));
             EXPECT_TRUE(inRange(p.thermal->storageTemperatureC, 28, 45));
             EXPECT_EQ(p.fan->fanCount, 2);
             EXPECT_EQ(p.fan->rpms->size(), 2u);
             EXPECT_EQ(p.fan->minRPM, 1200);
             EXPECT_EQ(p.fan->maxRPM, 6241);
         }},
        {"fanless-laptop",
         [](const SensorsPayload& p) {
             ASSERT_TRUE(p.thermal);
             EXPECT_FALSE(p.fan);
             EXPECT_TRUE(inRange(p.thermal->cpuTemperatureC, 30, 105));
             EXPECT_TRUE(p.thermal->memoryTemperatureC);
         }},
        {"intel-desktop",
         [](const SensorsPayload& p) {
             ASSERT_TRUE(p.thermal && p.fan);
             EXPECT_TRUE(p.thermal->cpuTemperatureC && p.thermal->gpuTemperatureC &&
                         p.thermal->storageTemperatureC);
             EXPECT_FALSE(p.thermal->memoryTemperatureC);
             EXPECT_FALSE(p.thermal->batteryTemperatureC);
             EXPECT_EQ(p.fan->fanCount, 3);
             for (const double rpm : *p.fan->rpms) {
                 EXPECT_GE(rpm, 580);
                 EXPECT_EQ(std::fmod(rpm * 4, 1.0), 0.0) << rpm;  // fpe2: quarters of an rpm
             }
             EXPECT_EQ(p.fan->minRPM, 600);
             EXPECT_EQ(p.fan->maxRPM, 2600);
         }},
        {"broken-sensors",
         [](const SensorsPayload& p) {
             ASSERT_TRUE(p.thermal && p.fan);
             // NaN, zero, negative and infinite values are dropped by the samplers, not
             // published: what is left is finite and positive.
             EXPECT_TRUE(inRange(p.thermal->cpuTemperatureC, 30, 90));
             EXPECT_FALSE(p.thermal->gpuTemperatureC);      // a service without a value
             EXPECT_FALSE(p.thermal->batteryTemperatureC);  // only ever infinite
             EXPECT_TRUE(inRange(p.thermal->memoryTemperatureC, 30, 60));
             EXPECT_EQ(p.fan->fanCount, 2);
             EXPECT_EQ(p.fan->rpms->at(1), 0.0);  // no speed key: counts as stopped
             EXPECT_FALSE(p.fan->minRPM);         // a limit of an unknown type
             EXPECT_FALSE(p.fan->range());
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.machine);
        host = sim::HandDrivenHost{};
        const auto simulation = start(c.machine);
        ASSERT_TRUE(simulation);
        c.check(current());
        for (int i = 0; i < 5; ++i) {
            tick();
            const auto payload = current();
            EXPECT_EQ(payload.sampledAt, clock.wallNow());
            EXPECT_EQ(payload.helperVersion, "9.9.9+sim");
            c.check(payload);
        }
        // A simulation that runs for days keeps no record of its SMC exchanges.
        EXPECT_TRUE(simulation->machine().smc().exchanges().empty());
    }
}

// The raw value of the first service named `name`, as the platform would hand it over.
std::optional<double> serviceValue(const SimulatedMachine& machine, std::string_view name) {
    const auto list = machine.temperatureServices()->copyServices();
    if (!list) return std::nullopt;
    for (std::size_t i = 0; i < list->count(); ++i) {
        if (list->productName(i) == name) return list->temperature(i);
    }
    return std::nullopt;
}

std::optional<double> fanSpeed(const SimulatedMachine& machine, std::string_view key) {
    const SMCBridge smc(machine.smcDriver());
    const auto value = smc.readKey(key);
    if (!value || value->bytes.size() < 4) return std::nullopt;
    float speed = 0;
    std::memcpy(&speed, value->bytes.data(), sizeof speed);  // "flt ": little-endian
    return speed;
}

TEST(SimulatedMachine, ValuesAreASmoothSeededFunctionOfTimeWithLoadSpikes) {
    auto walked = SimulatedMachine::make("apple-silicon-laptop");
    auto jumped = SimulatedMachine::make("apple-silicon-laptop");
    ASSERT_TRUE(walked && jumped);
    EXPECT_FALSE(SimulatedMachine::make("toaster"));

    double lowest = 1e9;
    double highest = -1e9;
    double largestStep = 0;
    int spikes = 0;
    bool hot = false;
    double previous = *serviceValue(*walked, "PMU tdie1");
    bool fansRested = false;
    bool fansRan = false;
    for (int t = 1; t <= 1200; ++t) {
        walked->advanceTo(t);
        const double celsius = *serviceValue(*walked, "PMU tdie1");
        lowest = std::min(lowest, celsius);
        highest = std::max(highest, celsius);
        largestStep = std::max(largestStep, std::fabs(celsius - previous));
        previous = celsius;
        if (!hot && celsius > 62) ++spikes;
        hot = celsius > 55 ? (hot || celsius > 62) : false;
        const double rpm = *fanSpeed(*walked, "F0Ac");
        fansRested = fansRested || rpm == 0;
        fansRan = fansRan || rpm > 2500;
    }
    EXPECT_LT(largestStep, 12.0);  // smooth: no jumps from one second to the next
    EXPECT_GT(highest - lowest, 25.0);
    EXPECT_GE(spikes, 10);  // about one every other half-minute
    EXPECT_TRUE(fansRested);
    EXPECT_TRUE(fansRan);

    // The broken machine's services cannot be listed now and then.
    auto broken = SimulatedMachine::make("broken-sensors");
    int failedListings = 0;
    for (int t = 0; t < 120; ++t) {
        broken->advanceTo(t);
        if (!broken->temperatureServices()->copyServices()) ++failedListings;
    }
    EXPECT_GT(failedListings, 5);
    EXPECT_LT(failedListings, 60);

    // The same moment gives the same values, however it was reached.
    jumped->advanceTo(1200);
    EXPECT_EQ(serviceValue(*jumped, "PMU tdie1"), serviceValue(*walked, "PMU tdie1"));
    EXPECT_EQ(serviceValue(*jumped, "PMU TP1g"), serviceValue(*walked, "PMU TP1g"));
    EXPECT_EQ(fanSpeed(*jumped, "F1Ac"), fanSpeed(*walked, "F1Ac"));
    EXPECT_EQ(fanSpeed(*jumped, "TRD0"), fanSpeed(*walked, "TRD0"));
}

TEST_F(SimulationTest, ObeysStopRequestsAndOnlyReportsLoginItemRequests) {
    tessly::testing::writeFile(controlFile(), R"({"autostart":true})");
    const auto simulation = start("apple-silicon-laptop");
    ASSERT_TRUE(simulation);
    EXPECT_EQ(report.str(),
              "tessly simulate: the agent would register itself as a login item now (a "
              "simulation leaves the real login item alone)\n");
    EXPECT_FALSE(std::filesystem::exists(scratch / "config" / "autostart"));

    tick();
    EXPECT_EQ(host.terminateRequests, 0);
    SensorBridge::writeControl({.autostart = true, .stopRequestedAt = clock.wallNow()});
    tick();
    EXPECT_EQ(host.terminateRequests, 1);
    EXPECT_TRUE(report.str().ends_with(
        "tessly simulate: a stop was requested in control.json; the simulation ends\n"));
}

}  // namespace
}  // namespace tessly::cli
