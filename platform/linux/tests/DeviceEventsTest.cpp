// The agent following devices through the kernel's uevents. Runs under umockdev's preload
// (umockdev-wrapper), which stands in a testbed for sysfs and delivers the testbed's uevents to
// netlink monitors; the agent reads the testbed's sysfs through its real path.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <umockdev.h>

#include <TesslyKit/TesslyKit.h>

#include <cstdlib>
#include <filesystem>

#include "SysfsTree.h"
#include "agent/SensorsAgent.h"
#include "base/ManualClock.h"
#include "platform/linux/DeviceEvents.h"
#include "platform/linux/EventLoop.h"
#include "platform/linux/SysfsSensors.h"
#include "platform/sim/HandDrivenHost.h"
#include "testing/Scratch.h"

namespace tessly::hwmon::testing {
namespace {

namespace fs = std::filesystem;
using tessly::testing::ScratchHome;

class DeviceEventsTest : public ::testing::Test, protected ScratchHome {
  protected:
    void SetUp() override {
        const char* preload = std::getenv("LD_PRELOAD");
        ASSERT_TRUE(preload != nullptr &&
                    std::string_view(preload).find("libumockdev-preload") != std::string::npos)
            << "run under umockdev-wrapper";
        testbed_ = umockdev_testbed_new();
        sys_ = owned(umockdev_testbed_get_sys_dir(testbed_));
        cpu_ = addChip("hwmon0", "coretemp", "45000");

        watchDevices(loop_, changes_, openKernelDeviceEvents());
        ASSERT_TRUE(changes_.watching());
        loop_.addRepeatingTimer(0.005, [this] { loop_.quit(); });

        // One discovery for temperatures and fans, as the agent's defaults have it.
        const auto sensors = std::make_shared<SysfsSensors>(sys_, reader_, clock_, &changes_);
        agent_ = std::make_shared<SensorsAgent>(
            ThermalSampler(temperatureSourceOf(sensors), clock_), fanSourceOf(sensors),
            SensorsAgent::Services{host_, loginItems_, log_, clock_, version_});
        host_.setDelegate(agent_.get());
        host_.run();
    }
    void TearDown() override {
        agent_.reset();
        if (testbed_ != nullptr) g_object_unref(testbed_);
    }

    // A string the testbed hands over, freed.
    static std::string owned(gchar* text) {
        std::string copy = text;
        g_free(text);
        return copy;
    }

    std::string addChip(const char* name, const char* chip, const char* millidegrees) {
        return owned(umockdev_testbed_add_device(testbed_, "hwmon", name, nullptr, "name", chip,
                                                 "temp1_input", millidegrees, nullptr, nullptr));
    }
    void uevent(const std::string& device, const char* action) {
        umockdev_testbed_uevent(testbed_, device.c_str(), action);
    }

    // `count` ticks of the agent, each after the loop has taken the events that arrived; what
    // the last one published.
    SensorsPayload tick(int count = 1) {
        SensorsPayload payload;
        for (int i = 0; i < count; ++i) {
            EXPECT_EQ(loop_.run(), std::nullopt);
            clock_.advance(SensorsAgent::tickInterval);
            host_.fire();
            payload = decodeSensorsPayload(tessly::testing::readFile(sensorsFile()))
                          .value_or(SensorsPayload{});
        }
        return payload;
    }
    // The storage temperature published over the next `ticks` ticks, as soon as it is `expected`.
    std::optional<double> storageWithin(int ticks, std::optional<double> expected) {
        std::optional<double> storage;
        for (int i = 0; i < ticks; ++i) {
            storage = tick().thermal.value_or(ThermalReading{}).storageTemperatureC;
            if (storage == expected) break;
        }
        return storage;
    }

    UMockdevTestbed* testbed_ = nullptr;
    std::string sys_, cpu_;
    linux_host::EventLoop loop_;
    DeviceChanges changes_;
    FaultyFileReader reader_;
    ManualClock clock_;
    sim::HandDrivenHost host_;  // ticks by hand; the real loop above only takes device events
    sim::RecordingLoginItems loginItems_;
    sim::RecordingLog log_;
    sim::FixedVersion version_{std::nullopt};
    std::shared_ptr<SensorsAgent> agent_;
};

// A drive, a fan chip and a memory module plugged in after launch are published within two
// ticks and leave as soon when unplugged, the files that stay reading on. A device replaced
// without an event is seen within a minute; without events the sensors are only listed once a
// minute, never walked again. A storm of events between two looks makes one discovery, which
// opens no file it had open (a kept file feeds what its chip is called now); other subsystems,
// actions other than add, remove and change, and messages that are no uevent make none.
TEST_F(DeviceEventsTest, ChipsComeAndGoWithinTwoTicksAndAStormMakesOneDiscovery) {
    EXPECT_EQ(tick().thermal.value_or(ThermalReading{}).cpuTemperatureC, 45.0);
    EXPECT_FALSE(tick().fan);
    const std::string drive = addChip("hwmon1", "nvme", "38000");
    uevent(drive, "add");
    EXPECT_EQ(storageWithin(2, 38.0), 38.0);

    const std::string fans = owned(
        umockdev_testbed_add_device(testbed_, "hwmon", "hwmon2", nullptr, "name", "thinkpad",
                                    "fan1_input", "2400", "fan2_input", "1200", nullptr, nullptr));
    const std::string module = addChip("hwmon3", "spd5118", "41250");
    const std::string zone = addChip("hwmon4", "acpitz", "30000");  // feeds nothing: never read
    for (const auto& device : {fans, module, zone})
        uevent(device, "add");
    SensorsPayload payload;
    for (int i = 0; i < 2 && !(payload.fan && payload.thermal->memoryTemperatureC); ++i)
        payload = tick();
    EXPECT_EQ(payload.fan.value_or(FanReading{}).rpms, (std::vector<double>{2400, 1200}));
    EXPECT_EQ(payload.thermal.value_or(ThermalReading{}).memoryTemperatureC, 41.25);

    for (const auto& device : {drive, fans}) {
        uevent(device, "remove");
        umockdev_testbed_remove_device(testbed_, device.c_str());
    }
    EXPECT_EQ(storageWithin(2, std::nullopt), std::nullopt);
    payload = tick();
    EXPECT_FALSE(payload.fan);
    EXPECT_EQ(payload.thermal.value_or(ThermalReading{}).memoryTemperatureC, 41.25);

    umockdev_testbed_remove_device(testbed_, zone.c_str());  // sends no event
    // Written past the testbed, which would announce the device.
    tessly::testing::writeFile(fs::path(sys_) / "class/hwmon/hwmon5/name", "nvme\n");
    tessly::testing::writeFile(fs::path(sys_) / "class/hwmon/hwmon5/temp1_input", "39000\n");
    EXPECT_EQ(storageWithin(61, 39.0), 39.0);

    tick();
    reader_.clearCounts();
    tick(130);
    EXPECT_EQ(reader_.listings(), 2u * 2u);  // class/hwmon and class/power_supply, twice

    reader_.clearCounts();
    umockdev_testbed_set_attribute(testbed_, cpu_.c_str(), "name", "nvme");
    uevent(cpu_, "change");
    EXPECT_EQ(tick(3).thermal, (ThermalReading{.memoryTemperatureC = 41.25,
                                               .storageTemperatureC = (45 + 39) / 2.0}));
    const std::size_t oneDiscovery = reader_.listings();
    ASSERT_GT(oneDiscovery, 0u);
    for (const auto& path : reader_.opened())
        EXPECT_FALSE(path.ends_with("_input")) << path;

    // Between two ticks, in bursts the loop takes as they come (umockdev gives up on a full
    // socket, where the kernel would drop events and say so).
    reader_.clearCounts();
    for (int burst = 0; burst < 1000 / 8; ++burst) {
        for (int i = 0; i < 8; ++i)
            uevent(cpu_, "change");
        EXPECT_EQ(loop_.run(), std::nullopt);
    }
    tick(3);
    EXPECT_EQ(reader_.listings(), oneDiscovery);

    reader_.clearCounts();
    uevent(
        owned(umockdev_testbed_add_device(testbed_, "input", "mouse0", nullptr, nullptr, nullptr)),
        "add");
    for (const char* action : {"bind", "unbind", "online", "offline", "move"})
        uevent(cpu_, action);
    // Garbage straight into the monitor's socket, as a foreign sender might send it.
    for (const auto& entry :
         fs::directory_iterator(owned(umockdev_testbed_get_root_dir(testbed_)))) {
        if (!entry.path().filename().string().starts_with("event")) continue;
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
        entry.path().string().copy(address.sun_path, sizeof address.sun_path - 1);
        constexpr std::string_view junk = "add@\0\xff\xfe not a uevent";
        ::sendto(fd, junk.data(), junk.size(), 0, reinterpret_cast<sockaddr*>(&address),
                 sizeof address);
        ::close(fd);
    }
    tick(3);
    EXPECT_EQ(reader_.listings(), 0u);
    EXPECT_TRUE(changes_.watching());
}

}  // namespace
}  // namespace tessly::hwmon::testing
