// Hours of simulated time in one process: the agent ticks once per simulated second over a machine
// whose readings change all the time, and afterwards holds no more memory and no more file
// descriptors than after its first minutes; once destroyed it holds none at all. Leaks are checked
// with LeakSanitizer where the build has it.
//
// The number of ticks comes from TESSLY_LONG_RUN_TICKS (86400 for a whole day); CI runs a shorter
// default that still spans many discovery periods and control changes.
#include <gtest/gtest.h>

#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <TesslyKit/RecordsJSON.h>
#include <TesslyKit/SensorBridge.h>

#include "agent/SensorsAgent.h"
#include "agent/tests/HwmonAgent.h"
#include "base/ManualClock.h"
#include "platform/sim/HandDrivenHost.h"
#include "platform/sim/ScriptedSMC.h"
#include "platform/sim/ScriptedTemperatureServices.h"
#include "testing/Scratch.h"

#if defined(__SANITIZE_ADDRESS__)
#define TESSLY_LONG_RUN_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESSLY_LONG_RUN_ASAN 1
#endif
#endif
#ifdef TESSLY_LONG_RUN_ASAN
#include <sanitizer/lsan_interface.h>
// From the sanitizer allocator's interface (not every compiler ships its header): the bytes
// allocated and not yet freed, leaving out memory held in quarantine.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

#ifdef TESSLY_LONG_RUN_ASAN
// Freed memory waits in AddressSanitizer's quarantine (256 MiB by default) before it is reused,
// which would make the resident size grow for most of the run whatever the agent does. A small
// quarantine lets it level off during the warm-up; heap growth is checked exactly in any case.
extern "C" const char* __asan_default_options() {
    return "quarantine_size_mb=4";
}
#endif

namespace tessly {
namespace {

namespace fs = std::filesystem;

constexpr long kDefaultTicks = 10'000;
// The first ticks fill caches, open sensor files and grow buffers to their working size.
constexpr long kWarmUpTicks = 2'000;
// What the resident size may still gain after the warm-up without the agent growing: the
// allocator's own bookkeeping. AddressSanitizer's keeps a record of every distinct allocation
// stack, which grows a little whenever the run takes a path for the first time.
#ifdef TESSLY_LONG_RUN_ASAN
constexpr std::size_t kResidentSlack = 4 << 20;
#else
constexpr std::size_t kResidentSlack = 1 << 20;
#endif

long tickCount() {
    if (const char* text = std::getenv("TESSLY_LONG_RUN_TICKS")) {
        char* end = nullptr;
        const long ticks = std::strtol(text, &end, 10);
        if (end != text && *end == '\0' && ticks > kWarmUpTicks) return ticks;
        ADD_FAILURE() << "TESSLY_LONG_RUN_TICKS must be a number above " << kWarmUpTicks;
    }
    return kDefaultTicks;
}

// What the process holds at one moment.
struct Footprint {
    std::size_t fileDescriptors = 0;
    std::size_t residentBytes = 0;
    std::size_t heapBytes = 0;  // bytes allocated and not yet freed

    static Footprint now() {
        Footprint f;
        std::error_code ec;
        for (auto it = fs::directory_iterator("/proc/self/fd", ec); !ec && it != fs::end(it);
             it.increment(ec)) {
            ++f.fileDescriptors;
        }
        std::ifstream statm("/proc/self/statm");
        std::size_t sizePages = 0;
        std::size_t residentPages = 0;
        statm >> sizePages >> residentPages;
        f.residentBytes = residentPages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
#ifdef TESSLY_LONG_RUN_ASAN
        f.heapBytes = __sanitizer_get_current_allocated_bytes();
#else
        f.heapBytes = ::mallinfo2().uordblks;
#endif
        return f;
    }
};

std::string describe(const Footprint& f) {
    char text[160];
    std::snprintf(text, sizeof text, "%zu fds, %.1f MiB resident, %.1f KiB heap", f.fileDescriptors,
                  static_cast<double>(f.residentBytes) / (1 << 20),
                  static_cast<double>(f.heapBytes) / 1024);
    return text;
}

// Writes a sysfs-like attribute in place, as the kernel presents a new value in the same file.
void writeAttribute(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text << '\n';
}

class LongRunTest : public ::testing::Test {
  protected:
    testing::TempDir dir;
    testing::ScopedEnv home{"HOME", dir.path().string()};
    fs::path container = dir / ("Library/Group Containers/" + std::string(SensorBridge::groupID));
    ManualClock clock;
    sim::HandDrivenHost host;
    sim::FixedVersion version{"1.0.0"};
    sim::RecordingLoginItems loginItems;
    sim::RecordingLog log;

    // Runs `ticks` ticks of an agent made by `makeAgent`, calling `change(tick)` before each to
    // move the machine's readings, and checks that the agent's footprint stays flat.
    template <class MakeAgent, class Change>
    void runLong(MakeAgent makeAgent, Change change, long ticks) {
        const Footprint before = Footprint::now();
        {
            std::shared_ptr<SensorsAgent> agent = makeAgent();
            host.setDelegate(agent.get());
            host.run();

            Footprint warm;
            Footprint highest;
            for (long tick = 1; tick <= ticks; ++tick) {
                change(tick);
                // The main application changes its wish now and then; the login item follows.
                if (tick % 3'600 == 0) SensorBridge::writeControl({.autostart = tick % 7'200 == 0});
                clock.advance(SensorsAgent::tickInterval);
                host.fire();
                loginItems.requests.clear();
                if (tick == kWarmUpTicks) warm = highest = Footprint::now();
                if (tick > kWarmUpTicks && tick % 1'000 == 0) {
                    const Footprint f = Footprint::now();
                    highest.fileDescriptors = std::max(highest.fileDescriptors, f.fileDescriptors);
                    highest.residentBytes = std::max(highest.residentBytes, f.residentBytes);
                    highest.heapBytes = std::max(highest.heapBytes, f.heapBytes);
                }
            }
            const Footprint end = Footprint::now();
            std::printf("%ld ticks; before: %s; after warm-up: %s; highest later: %s; end: %s\n",
                        ticks, describe(before).c_str(), describe(warm).c_str(),
                        describe(highest).c_str(), describe(end).c_str());

            // Still publishing the current sample.
            const auto payload =
                decodeSensorsPayload(testing::readFile(container / "sensors.json"));
            ASSERT_TRUE(payload);
            EXPECT_EQ(payload->sampledAt, clock.wallNow());
            EXPECT_TRUE(payload->thermal);
            EXPECT_TRUE(payload->fan);
            EXPECT_EQ(host.terminateRequests, 0);
            EXPECT_TRUE(log.lines.empty());

            EXPECT_EQ(highest.fileDescriptors, warm.fileDescriptors);
            EXPECT_EQ(end.fileDescriptors, warm.fileDescriptors);
            EXPECT_LE(highest.heapBytes, warm.heapBytes + 8 * 1024);
            EXPECT_LE(highest.residentBytes, warm.residentBytes + kResidentSlack);
            host = sim::HandDrivenHost{};
        }
        // Destroyed: every file it opened is closed again.
        EXPECT_EQ(Footprint::now().fileDescriptors, before.fileDescriptors);
#ifdef TESSLY_LONG_RUN_ASAN
        EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "LeakSanitizer found leaks";
#endif
    }
};

TEST_F(LongRunTest, ScriptedMachineStaysFlatOverALongRun) {
    auto services = sim::ScriptedTemperatureServices::appleSiliconLaptop();
    sim::ScriptedSMC thermalSMC;
    sim::ScriptedSMC fanSMC;
    thermalSMC.setFloat("TRD0", 41.5f).setFloat("TRD3", 43.0f);
    fanSMC.setUInt8("FNum", 2).setFloat("F0Ac", 1200.0f).setFPE2("F1Ac", 1300.0);
    fanSMC.setFloat("F0Mn", 1000.0f).setFloat("F0Mx", 4900.0f).setFloat("F1Mx", 5200.0f);

    runLong(
        [&] {
            return std::make_shared<SensorsAgent>(
                ThermalSampler(services.services(), thermalSMC.driver(), clock),
                FanSampler(SMCBridge(fanSMC.driver())),
                SensorsAgent::Services{host, loginItems, log, clock, version});
        },
        [&](long tick) {
            const auto wave = static_cast<double>(tick % 97);
            services.setTemperature(static_cast<std::size_t>(tick % 11), 40.0 + wave / 4);
            services.setTemperature(
                12, tick % 500 == 0 ? std::nullopt : std::optional<double>(30.0 + wave / 8));
            fanSMC.setFloat("F0Ac", static_cast<float>(1200 + tick % 800));
            thermalSMC.setFloat("TRD3", static_cast<float>(40.0 + wave / 10));
            // The scripts record every exchange; the agent must not depend on that record.
            fanSMC.clearRecord();
            thermalSMC.clearRecord();
            services.clearRecord();
        },
        tickCount());
}

TEST_F(LongRunTest, HwmonMachineStaysFlatOverALongRun) {
    // A desktop's sysfs tree: CPU and GPU chips with a fan, a disk, two memory modules. The
    // sensors rediscover every simulated minute, reopening their files each time.
    const fs::path sysfs = dir / "sys";
    const fs::path hwmon = sysfs / "class/hwmon";
    writeAttribute(hwmon / "hwmon0/name", "coretemp");
    writeAttribute(hwmon / "hwmon0/temp1_label", "Package id 0");
    writeAttribute(hwmon / "hwmon0/temp1_input", "61000");
    writeAttribute(hwmon / "hwmon0/temp2_label", "Core 0");
    writeAttribute(hwmon / "hwmon0/temp2_input", "58000");
    writeAttribute(hwmon / "hwmon1/name", "amdgpu");
    writeAttribute(hwmon / "hwmon1/temp1_label", "edge");
    writeAttribute(hwmon / "hwmon1/temp1_input", "47000");
    writeAttribute(hwmon / "hwmon1/fan1_input", "1500");
    writeAttribute(hwmon / "hwmon1/fan1_min", "0");
    writeAttribute(hwmon / "hwmon1/fan1_max", "3300");
    writeAttribute(hwmon / "hwmon2/name", "nvme");
    writeAttribute(hwmon / "hwmon2/temp1_label", "Composite");
    writeAttribute(hwmon / "hwmon2/temp1_input", "36850");
    writeAttribute(hwmon / "hwmon3/name", "jc42");
    writeAttribute(hwmon / "hwmon3/temp1_input", "41500");
    writeAttribute(hwmon / "hwmon4/name", "jc42");
    writeAttribute(hwmon / "hwmon4/temp1_input", "44000");
    writeAttribute(hwmon / "hwmon5/name", "nct6798");
    writeAttribute(hwmon / "hwmon5/fan1_input", "900");
    writeAttribute(hwmon / "hwmon5/fan2_input", "1100");
    writeAttribute(hwmon / "hwmon5/fan2_min", "300");
    writeAttribute(hwmon / "hwmon5/fan2_max", "2000");

    runLong(
        [&] {
            return testing::makeHwmonAgent(
                sysfs.string(), clock,
                SensorsAgent::Services{host, loginItems, log, clock, version});
        },
        [&](long tick) {
            if (tick % 10 != 0) return;  // values change every ten seconds
            const long wave = tick % 170;
            writeAttribute(hwmon / "hwmon0/temp1_input", std::to_string(45'000 + wave * 100));
            writeAttribute(hwmon / "hwmon5/fan1_input", std::to_string(800 + wave));
            writeAttribute(hwmon / "hwmon3/temp1_input", std::to_string(40'000 + wave * 10));
        },
        tickCount());
}

}  // namespace
}  // namespace tessly
