// The Linux sensors from hwmon sysfs trees built in temporary directories.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <limits>

#include "SysfsTree.h"
#include "base/ManualClock.h"
#include "platform/linux/HwmonClassification.h"
#include "platform/linux/SysfsScan.h"
#include "platform/linux/SysfsSensors.h"
#include "platform/linux/SysfsText.h"
#include "thermal/ThermalSampler.h"

namespace tessly::hwmon::testing {
namespace {

using namespace std::string_view_literals;

TEST(SysfsTextTest, AttributesAreReadAsTheKernelWritesThem) {
    const std::pair<std::string_view, std::int64_t> integers[] = {
        {"49000\n", 49000},
        {" -273150 \n", -273150},
        {"-5\n", -5},
        {"5\n\n", 5},
        {"123456789012345678\n", 123456789012345678},
        {"-9223372036854775808\n", std::numeric_limits<std::int64_t>::min()},
        {"9223372036854775807", std::numeric_limits<std::int64_t>::max()}};
    for (const auto& [text, value] : integers)
        EXPECT_EQ(parseSysfsInteger(text), value) << text;
    for (const std::string_view text :
         {"-\n"sv, "9223372036854775808"sv, ""sv, "12abc"sv, "+12"sv, "1.5"sv, "12\0"sv})
        EXPECT_EQ(parseSysfsInteger(text), std::nullopt) << text;
    EXPECT_EQ(attributeText("Package id 0\n"), "Package id 0");
    EXPECT_EQ(attributeText("N1\xFF\n"), "N1\xEF\xBF\xBD");
    EXPECT_EQ(parseSensorAttribute("fan10_max"),
              (SensorAttribute{SensorType::fan, 10, SensorItem::max}));
    for (const char* name : {"temp", "temp0_input", "temp01_input", "temp1_crit", "in0_input"})
        EXPECT_EQ(parseSensorAttribute(name), std::nullopt) << name;
}

// What a chip feeds by its name alone, and what an input feeds beside its chip's other inputs.
TEST(HwmonClassificationTest, ChipsAndInputsFeedWhatTheirNamesSay) {
    using enum TemperatureCategory;
    using Feeds = std::optional<TemperatureCategory>;
    // Beside the PC chips, SoC thermal zones (Rockchip, Qualcomm, Allwinner, MediaTek, Exynos).
    const std::pair<Feeds, std::vector<std::string_view>> chips[] = {
        {cpu,
         {"coretemp", "k10temp", "soc_thermal", "bigcore0_thermal", "littlecore_thermal",
          "cpu0_1_thermal", "cpucl2_thermal", "core_thermal"}},
        {gpu, {"amdgpu", "gpu_thermal", "gpuss0_thermal", "gpu1_thermal"}},
        {storage, {"nvme", "drivetemp"}},
        {battery, {"BAT0"}},
        {memory, {"jc42", "spd5118", "ddr_thermal", "mem_thermal", "ddr_ctrler_thermal"}},
        {std::nullopt,
         {"hidpp_battery_2", "k10temp_x", "acpitz", "center_thermal", "npu_thermal",
          "mdm_core_thermal", "modem0_thermal", "g3d_thermal", "_thermal", "cpu_thermal_zone",
          "CPU_thermal"}}};
    for (const auto& [feeds, names] : chips) {
        for (const std::string_view chip : names)
            EXPECT_EQ(chipCategory(chip), feeds) << chip;
    }

    using Labels = std::vector<std::string>;
    const Labels zen2{"Tctl", "Tdie"}, zen3{"Tctl", "Tccd1"}, nvme{"Composite", "Sensor 1"},
        one{"temp1"};
    const std::tuple<std::string_view, std::string_view, const Labels&, bool, Feeds> inputs[] = {
        {"k10temp", "Tctl", zen2, false, std::nullopt},
        {"zenpower", "Tctl", zen2, false, std::nullopt},
        {"k10temp", "Tdie", zen2, false, cpu},
        {"k10temp", "Tctl", zen3, false, cpu},  // no Tdie: Tctl is it
        {"nvme", "Sensor 1", nvme, false, std::nullopt},
        {"nvme", "temp1", one, false, storage},
        {"BAT0", "temp1", one, true, std::nullopt},  // its supply gives it
        {"BAT0", "temp1", one, false, battery},
        {"acpitz", "temp1", one, false, std::nullopt},
    };
    for (const auto& [chip, label, labels, supplyGives, feeds] : inputs) {
        const auto use = classifyTemperature(chip, label, labels, supplyGives);
        EXPECT_EQ(use.category, feeds) << chip << ' ' << label;
        EXPECT_EQ(use.reason.empty(), feeds.has_value()) << chip << ' ' << label;
    }
    EXPECT_TRUE(supplyContribution("Battery", "System", true).presented);
    EXPECT_FALSE(supplyContribution("Battery", "Device", true).presented);  // a mouse
    EXPECT_FALSE(supplyContribution("Battery", std::nullopt, false).presented);
    EXPECT_FALSE(supplyContribution("Mains", std::nullopt, true).presented);
}

// Both seams over one discovery of a tree, as the agent builds them.
struct Sensors {
    explicit Sensors(SysfsTree& tree, const DeviceChanges* changes = nullptr)
        : sysfs(std::make_shared<SysfsSensors>(tree.root(), tree.reader(), clock, changes)),
          thermal(temperatureSourceOf(sysfs), clock),
          fans(fanSourceOf(sysfs)) {}
    ThermalReading temperatures() {
        TemperatureTally tally;
        sysfs->readTemperatures(tally);
        return tally.reading();
    }
    ManualClock clock;
    std::shared_ptr<SysfsSensors> sysfs;
    ThermalSampler thermal;
    std::unique_ptr<FanSource> fans;
};

std::optional<FanReading> fans(std::vector<double> rpms, std::optional<double> min = {},
                               std::optional<double> max = {}) {
    return FanReading{.rpm = std::ranges::max(rpms),
                      .fanCount = std::ssize(rpms),
                      .rpms = std::move(rpms),
                      .minRPM = min,
                      .maxRPM = max};
}

// Real machines (fixtures/), and what they publish, worked out by hand from the mapping.
TEST(MachinesTest, EachPublishesWhatItsChipsMean) {
    const std::tuple<std::string_view, ThermalReading, std::optional<FanReading>> cases[] = {
        {"thinkpad-t420", {.cpuTemperatureC = 69.0}, fans({3855})},  // acpitz left out
        {"raspberry-pi4", {.cpuTemperatureC = 62.322}, std::nullopt},
        // The cores' zones, not the hotter center and NPU.
        {"rockchip-rk3588", {.cpuTemperatureC = 48.064, .gpuTemperatureC = 45.343}, std::nullopt},
        {"amd-epyc-2socket", {.cpuTemperatureC = 29.75}, std::nullopt},  // Tctl beside Tdie
        {"amd-fx-ga970a",
         {.cpuTemperatureC = 14.5, .gpuTemperatureC = 38.0},
         fans({1323, 979, 0, 0})},
        {"amd-ryzen-ab350", {.gpuTemperatureC = 28.0}, fans({0, 0, 1660})},  // EINVAL counts 0
        {"intel-raptorlake",
         {.cpuTemperatureC = 37.0, .storageTemperatureC = 34.85},
         fans({1278, 1278, 0, 0, 0, 0})},
        {"node-exporter", {.cpuTemperatureC = 55.0}, fans({0, 1998, 1098}, 0.0, 6156.0)},
        {"thinkpad-cannonlake", {}, std::nullopt},  // names and labels only
        {"apple-m1max-asahi", {}, fans({0, 0})},
    };
    for (const auto& [fixture, thermal, fan] : cases) {
        SCOPED_TRACE(fixture);
        SysfsTree tree = SysfsTree::fixture(fixture);
        Sensors sensors(tree);
        EXPECT_EQ(sensors.thermal.sample(), thermal);
        EXPECT_EQ(sensors.fans->readFans(), fan);
    }
}

class HwmonTest : public ::testing::Test {
  protected:
    SysfsTree tree;
};

// The choices that need a chip's other inputs are made at discovery (Tctl beside Tdie, BAT*
// beside a supply that gives the temperature); values come in degrees, a supply's in tenths;
// memory modules are temperatures like any other. Temperatures and fans share that one
// discovery, and an event makes the next reading discover.
TEST_F(HwmonTest, InputsAreClassifiedAtADiscoveryBothSeamsShareAndEventsStartAgain) {
    tree.add(
        "[class/hwmon/hwmon0]\nname = k10temp\ntemp1_label = Tctl\ntemp1_input = 90000\n"
        "temp2_label = Tdie\ntemp2_input = 50000\n"
        "[class/hwmon/hwmon1]\nname = BAT0\ntemp1_input = 99000\n"
        "[class/hwmon/hwmon2]\nname = BAT1\ntemp1_input = 33000\n"
        "[class/hwmon/hwmon3]\nname = jc42\ntemp1_input = 41500\n"
        "[class/hwmon/hwmon4]\nname = spd5118\ntemp1_input = 43250\n"
        "[class/power_supply/BAT0]\ntype = Battery\ntemp = 305\n"
        "[class/power_supply/BAT1]\ntype = Battery\ntemp ! ENODATA\n"
        "[class/hwmon/hwmon5]\nname = thinkpad\nfan1_input = 2000\n");
    DeviceChanges changes;
    changes.startWatching();
    Sensors sensors(tree, &changes);
    // BAT1's supply gives no value, so its chip's stands for it; BAT0's supply stands for its chip.
    EXPECT_EQ(sensors.thermal.sample(), (ThermalReading{.cpuTemperatureC = 50.0,
                                                        .memoryTemperatureC = 43.25,
                                                        .batteryTemperatureC = (30.5 + 33.0) / 2}));
    const auto walk = tree.reader().listings();
    EXPECT_EQ(sensors.fans->readFans()->fanCount, 1);
    EXPECT_EQ(tree.reader().listings(), walk);

    for (int fan = 2; fan <= 150; ++fan)  // more fans than any key format could name
        tree.write("class/hwmon/hwmon5/fan" + std::to_string(fan) + "_input",
                   std::to_string(1000 + fan));
    EXPECT_EQ(sensors.fans->readFans()->fanCount, 1);
    changes.changed();
    const auto reading = sensors.fans->readFans();
    EXPECT_EQ(reading->fanCount, 150);
    EXPECT_EQ(reading->rpms->back(), 1150.0);
    EXPECT_EQ(tree.reader().listings(), 2 * walk);

    tree.reader().failListing(tree.path("class/hwmon"), EIO);
    changes.changed();
    EXPECT_EQ(sensors.fans->readFans()->fanCount, 150);  // a failed walk keeps the last one
}

// A value is one pread of a file kept open; beyond the descriptor budget a file is opened, read
// and closed each time. Anything but a regular file is a read error, never a blocked tick.
TEST_F(HwmonTest, ValuesAreOnePreadAndOnlyRegularFilesAreRead) {
    tree.add(
        "[class/hwmon/hwmon0]\nname = coretemp\ntemp1_input = 40001\ntemp2_input = 40002\n"
        "temp3_input = 40003\ntemp4_input = 40004\n");
    ASSERT_EQ(::mkfifo(tree.path("class/hwmon/hwmon0/temp5_input").c_str(), 0600), 0);
    const int socketFd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    tree.path("class/hwmon/hwmon0/temp6_input").copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(socketFd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(socketFd);
    const bool device = ::mknod(tree.path("class/hwmon/hwmon0/temp7_input").c_str(), S_IFCHR | 0600,
                                makedev(1, 3)) == 0;

    tree.reader().keepAtMost(2);
    Sensors sensors(tree);
    EXPECT_EQ(sensors.temperatures().cpuTemperatureC, 40.004);
    tree.reader().clearCounts();
    EXPECT_EQ(sensors.temperatures().cpuTemperatureC, 40.004);
    EXPECT_EQ(tree.reader().reads(), 4u);
    EXPECT_EQ(tree.reader().opened().size(), device ? 5u : 4u);  // all but the two kept
    EXPECT_EQ(tree.reader().openFiles(), 2u);
    EXPECT_EQ(tree.reader().listings(), 0u);  // no discovery between two ticks
}

// Under a soft limit of 64 descriptors, a hundred sensor files read through the POSIX reader all
// give their values, twice, and 32 descriptors stay free for the process's other files. Why not,
// on standard error; the exit status says whether it held.
int readBeyondTheDescriptorLimit() {
    constexpr std::size_t reserve = 32;
    SysfsTree tree("[class/hwmon/hwmon0]\nname = drivetemp\n");
    for (int i = 1; i <= 100; ++i)
        tree.write("class/hwmon/hwmon0/temp" + std::to_string(i) + "_input",
                   std::to_string(i * 1000));
    const rlimit limit{.rlim_cur = 64, .rlim_max = 64};
    ::setrlimit(RLIMIT_NOFILE, &limit);
    ManualClock clock;
    SysfsSensors sensors(tree.root(), FileReader::Default(), clock, nullptr);
    for (int round = 0; round < 2; ++round) {
        TemperatureTally tally;
        sensors.readTemperatures(tally);
        // The mean of 1..100 is 50.5 only when every file gave its value.
        const double mean = tally.reading().storageTemperatureC.value_or(0);
        if (mean != 50.5) return std::fprintf(stderr, "mean %f\n", mean), 1;
    }
    std::vector<int> spare;
    for (int fd; spare.size() < reserve && (fd = ::dup(STDERR_FILENO)) >= 0;)
        spare.push_back(fd);
    for (const int fd : spare)
        ::close(fd);  // the sanitizers' checks need descriptors of their own
    if (spare.size() < reserve) return std::fprintf(stderr, "%zu free\n", spare.size()), 1;
    return 0;
}

// In a child that runs this program anew ("threadsafe"): the POSIX reader learns the limit once
// per process, so no earlier test of this run may have asked it first.
TEST(DescriptorReserveTest, ManyFilesUnderALowLimitLeaveTheReserveFree) {
    const std::string style = GTEST_FLAG_GET(death_test_style);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::exit(readBeyondTheDescriptorLimit()), ::testing::ExitedWithCode(0), "");
    GTEST_FLAG_SET(death_test_style, style);
}

// Without device events, the class directories are listed once a minute and the tree walked
// only when the listing changed: a fan chip and a memory module that came after launch appear
// then. A gone device makes the next reading discover at once, but a file that keeps failing so
// costs one early discovery a minute. A chip replaced by another (as many entries as before) is
// seen as well; a rediscovery keeps the files it finds again by their path, opening only new
// ones, and decides anew what each feeds: a number taken by another chip feeds by its new name.
TEST_F(HwmonTest, ChipsThatComeOrChangeWithoutEventsAreSeenWithinAMinute) {
    tree.add("[class/hwmon/hwmon0]\nname = coretemp\ntemp1_input = 40000\n");
    Sensors sensors(tree);
    EXPECT_FALSE(sensors.fans->readFans());
    const auto walk = tree.reader().listings();  // class/hwmon twice, the chip, power_supply
    tree.add(
        "[class/hwmon/hwmon1]\nname = thinkpad\nfan1_input = 2000\nfan1_max = 5000\n"
        "fan2_input = 1000\nfan2_min = 800\n");
    tree.add("[class/hwmon/hwmon2]\nname = jc42\ntemp1_input = 41000\n");
    sensors.clock.advance(59);
    tree.reader().clearCounts();
    EXPECT_FALSE(sensors.fans->readFans());
    EXPECT_EQ(tree.reader().listings(), 0u);
    sensors.clock.advance(1);
    EXPECT_EQ(sensors.fans->readFans(), fans({2000, 1000}, 800, 5000));
    EXPECT_EQ(sensors.temperatures().memoryTemperatureC, 41.0);

    tree.reader().failReads(tree.path("class/hwmon/hwmon2/temp1_input"), ENODEV);
    tree.reader().clearCounts();
    for (int i = 0; i < 5; ++i)
        sensors.temperatures();
    // One early discovery: the listing, and a walk of three chips and the supplies.
    EXPECT_EQ(tree.reader().listings(), walk + 2);

    // The file reads again; it said its device was gone, so a minute on brings a discovery, and
    // a minute after that with nothing new one listing of each class directory and no walk.
    tree.reader().clearFaults();
    sensors.clock.advance(60);
    sensors.temperatures();
    sensors.clock.advance(60);
    tree.reader().clearCounts();
    sensors.fans->readFans();
    EXPECT_EQ(tree.reader().listings(), 2u);

    std::filesystem::remove_all(tree.path("class/hwmon/hwmon0"));
    tree.write("class/hwmon/hwmon2/name", "nvme\n");
    tree.add("[class/hwmon/hwmon3]\nname = drivetemp\ntemp1_input = 35000\n");
    sensors.clock.advance(60);
    tree.reader().clearCounts();
    EXPECT_EQ(sensors.temperatures(), (ThermalReading{.storageTemperatureC = (41 + 35) / 2.0}));
    EXPECT_EQ(
        std::ranges::count_if(tree.reader().opened(),
                              [](const std::string& path) { return path.ends_with("_input"); }),
        1);
}

// Every sensor file with what it feeds (or why not) and its value or error.
TEST_F(HwmonTest, TheReportShowsEveryFileAndWhatItFeeds) {
    tree.add(
        "[class/hwmon/hwmon0]\nname = coretemp\ntemp1_label = Package id 0\n"
        "temp1_input = 45000\ntemp2_input ! EIO\n"
        "[class/hwmon/hwmon1]\nname = jc42\ntemp1_input = 40250\n"
        "[class/hwmon/hwmon2]\nname = thinkpad\nfan1_input = 2100\nfan1_max = N/A\n"
        "[class/hwmon/hwmon3]\ntemp1_input = 30000\n"
        "[class/hwmon/hwmon4]\nname = acpitz\ntemp1_input = 50000\n");
    EXPECT_EQ(reportText(tree.root(), tree.reader()),
              "class/hwmon/hwmon0/temp1_input|coretemp|Package id 0|cpuTemperatureC|45.000000\n"
              "class/hwmon/hwmon0/temp2_input|coretemp|temp2|cpuTemperatureC|Input/output error\n"
              "class/hwmon/hwmon1/temp1_input|jc42|temp1|memoryTemperatureC|40.250000\n"
              "class/hwmon/hwmon4/temp1_input|acpitz|temp1|not a CPU, GPU, storage or battery "
              "sensor|50.000000\n"
              "class/hwmon/hwmon2/fan1_input|thinkpad|fan1|rpms[0]|2100.000000\n"
              "class/hwmon/hwmon2/fan1_max|thinkpad|fan1|maxRPM|no value\n"
              "class/hwmon/hwmon3/temp1_input||temp1|no name file, neither in the hwmon directory "
              "nor in device/|30.000000\n");
}

}  // namespace
}  // namespace tessly::hwmon::testing
