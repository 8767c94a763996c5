// The Linux sensors from hwmon sysfs trees built in temporary directories: the text of attribute
// files, what real machines publish, the temperature services and the SMC driver over them, and
// the report of `tessly sensors`.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <limits>
#include <sstream>

#include "SysfsTree.h"
#include "base/ManualClock.h"
#include "platform/linux/HwmonSensors.h"
#include "platform/linux/SensorReport.h"
#include "platform/linux/SysfsScan.h"
#include "platform/linux/SysfsText.h"
#include "smc/FanSampler.h"
#include "smc/FourCC.h"
#include "smc/SMCValues.h"
#include "thermal/TemperatureCategory.h"
#include "thermal/ThermalSampler.h"

namespace tessly::hwmon::testing {
namespace {

using namespace std::string_view_literals;
using Listing = std::vector<std::pair<std::string, std::optional<double>>>;

TEST(SysfsTextTest, AttributesAreReadAsTheKernelWritesThem) {
    const std::pair<std::string_view, std::optional<std::int64_t>> integers[] = {
        {"49000\n", 49000},
        {" -273150 \n", -273150},
        {"-5\n", -5},
        {"5\n\n", 5},
        {"-\n", std::nullopt},
        {"123456789012345678\n", 123456789012345678},
        {"-9223372036854775808\n", std::numeric_limits<std::int64_t>::min()},
        {"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
        {"9223372036854775808", std::nullopt},
        {"", std::nullopt},
        {"12abc", std::nullopt},
        {"+12", std::nullopt},
        {"1.5", std::nullopt},
        {"12\0"sv, std::nullopt}};
    for (const auto& [text, value] : integers)
        EXPECT_EQ(parseSysfsInteger(text), value) << text;
    EXPECT_EQ(attributeText("Package id 0\n"), "Package id 0");
    EXPECT_EQ(attributeText("N1\xFF\n"), "N1\xEF\xBF\xBD");
    EXPECT_EQ(parseSensorAttribute("fan10_max"),
              (SensorAttribute{SensorType::fan, 10, SensorItem::max}));
    for (const char* name : {"temp", "temp0_input", "temp01_input", "temp1_crit", "in0_input"})
        EXPECT_EQ(parseSensorAttribute(name), std::nullopt) << name;
}

// Both samplers over a tree, as the agent builds them: each with its own SMC driver.
struct Samplers {
    explicit Samplers(SysfsTree& tree)
        : thermal(makeHwmonTemperatureServices(tree.root(), tree.reader(), clock),
                  openHwmonSMCDriver(tree.root(), tree.reader(), clock), clock),
          fans(SMCBridge(openHwmonSMCDriver(tree.root(), tree.reader(), clock))) {}
    ManualClock clock;
    ThermalSampler thermal;
    FanSampler fans;
};

std::optional<FanReading> fans(std::vector<double> rpms, std::optional<double> min = {},
                               std::optional<double> max = {}) {
    const double top = *std::max_element(rpms.begin(), rpms.end());
    return FanReading{.rpm = top,
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
        Samplers samplers(tree);
        EXPECT_EQ(samplers.thermal.sample(), thermal);
        EXPECT_EQ(samplers.fans.sample(), fan);
    }
}

class HwmonTest : public ::testing::Test {
  protected:
    SysfsTree tree;
    ManualClock clock;

    std::unique_ptr<TemperatureServices> services() {
        return makeHwmonTemperatureServices(tree.root(), tree.reader(), clock);
    }
    static Listing list(TemperatureServices& services) {
        Listing out;
        const auto list = services.copyServices();
        for (std::size_t i = 0; list && i < list->count(); ++i)
            out.emplace_back(std::string(list->productName(i).value_or("?")), list->temperature(i));
        return out;
    }
    SMCBridge smc() { return SMCBridge(openHwmonSMCDriver(tree.root(), tree.reader(), clock)); }
    static std::optional<float> floatKey(const SMCBridge& smc, std::string_view key) {
        const auto value = smc.readKey(key);
        return value ? smc::decodeFlt(value->bytes()) : std::nullopt;
    }
};

// The choices that need a chip's other inputs are made here (Tctl beside Tdie, BAT* beside a
// supply that gives the temperature); values come in degrees, a supply's in tenths.
TEST_F(HwmonTest, ServicesAreNamedChipAndLabelInDegrees) {
    tree.add(R"(
[class/hwmon/hwmon0]
name = k10temp
temp1_label = Tctl
temp1_input = 60000
temp2_label = Tdie
temp2_input = 50000
[class/hwmon/hwmon1]
name = BAT0
temp1_input = 32000
[class/hwmon/hwmon2]
name = BAT1
temp1_input = 33000
[class/power_supply/BAT0]
type = Battery
temp = 305
[class/power_supply/BAT1]
type = Battery
temp ! ENODATA
)");
    EXPECT_EQ(list(*services()), (Listing{{"k10temp Tdie", 50.0},
                                          {"BAT1 temp1", 33.0},  // its supply gives no value
                                          {"power_supply BAT0", 30.5},
                                          {"power_supply BAT1", std::nullopt}}));
}

// A value is one pread of a file kept open; beyond the descriptor budget a file is opened, read
// and closed each time. Anything but a regular file is a read error, never a blocked tick.
TEST_F(HwmonTest, ValuesAreOnePreadAndOnlyRegularFilesAreRead) {
    tree.add("[class/hwmon/hwmon0]\nname = coretemp\n");
    for (int i = 1; i <= 4; ++i)
        tree.write("class/hwmon/hwmon0/temp" + std::to_string(i) + "_input",
                   std::to_string(40000 + i));
    ASSERT_EQ(::mkfifo(tree.path("class/hwmon/hwmon0/temp5_input").c_str(), 0600), 0);
    const int socketFd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    tree.path("class/hwmon/hwmon0/temp6_input").copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(socketFd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(socketFd);
    const bool device = ::mknod(tree.path("class/hwmon/hwmon0/temp7_input").c_str(), S_IFCHR | 0600,
                                makedev(1, 3)) == 0;
    Listing expected{{"coretemp temp1", 40.001},       {"coretemp temp2", 40.002},
                     {"coretemp temp3", 40.003},       {"coretemp temp4", 40.004},
                     {"coretemp temp5", std::nullopt}, {"coretemp temp6", std::nullopt}};
    if (device) expected.emplace_back("coretemp temp7", std::nullopt);

    tree.reader().keepAtMost(2);
    const auto hwmon = services();
    EXPECT_EQ(list(*hwmon), expected);
    tree.reader().clearCounts();
    EXPECT_EQ(list(*hwmon), expected);
    EXPECT_EQ(tree.reader().reads(), 4u);
    EXPECT_EQ(tree.reader().opens(), expected.size() - 2);
    EXPECT_EQ(tree.reader().openFiles(), 2u);
}

// Under a soft limit of 64 descriptors, a hundred sensor files read through the POSIX reader all
// give their values, twice, and 32 descriptors stay free for the process's other files. Why not,
// on standard error; the exit status says whether it held.
int readBeyondTheDescriptorLimit() {
    constexpr int files = 100;
    constexpr std::size_t reserve = 32;
    SysfsTree tree("[class/hwmon/hwmon0]\nname = coretemp\n");
    for (int i = 1; i <= files; ++i)
        tree.write("class/hwmon/hwmon0/temp" + std::to_string(i) + "_input", "40000");
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = 64;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    ManualClock clock;
    const auto services = makeHwmonTemperatureServices(tree.root(), FileReader::Default(), clock);
    for (int round = 0; round < 2; ++round) {
        const auto list = services->copyServices();
        int valued = 0;
        for (std::size_t i = 0; list && i < list->count(); ++i)
            valued += list->temperature(i) == 40.0;
        if (valued != files) return std::fprintf(stderr, "%d of %d values\n", valued, files), 1;
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

// New chips show at the discovery a minute after the last; a gone device makes the next listing
// discover at once, but a file that keeps failing so costs one early discovery a minute.
TEST_F(HwmonTest, ChipsComeAndGoWithoutADiscoveryStorm) {
    tree.add("[class/hwmon/hwmon0]\nname = coretemp\ntemp1_input = 40000\n");
    tree.add("[class/hwmon/hwmon1]\nname = drivetemp\ntemp1_input = 30000\n");
    const auto hwmon = services();
    ASSERT_EQ(list(*hwmon).size(), 2u);
    tree.add("[class/hwmon/hwmon2]\nname = amdgpu\ntemp1_input = 50000\n");
    clock.advance(59);
    EXPECT_EQ(list(*hwmon).size(), 2u);
    clock.advance(1);
    EXPECT_EQ(list(*hwmon).size(), 3u);

    tree.reader().failReads(tree.path("class/hwmon/hwmon1/temp1_input"), ENODEV);
    const auto listings = tree.reader().listings();
    for (int i = 0; i < 5; ++i)
        list(*hwmon);
    // One early discovery: class/hwmon, the three chips and class/power_supply.
    EXPECT_EQ(tree.reader().listings(), listings + 5);
}

// The services and both SMC drivers of an agent, given one scan, walk the tree once when they
// discover together; after a device found gone, a walk that failed or a device event, the tree
// is walked again.
TEST_F(HwmonTest, OneWalkServesEveryReaderOfTheTreeAtOnce) {
    tree.add("[class/hwmon/hwmon0]\nname = jc42\ntemp1_input = 40000\n");
    tree.add("[class/hwmon/hwmon1]\nname = thinkpad\nfan1_input = 2000\n");
    ASSERT_TRUE(scanSysfs(tree.reader(), tree.root()).has_value());
    const std::size_t oneWalk = tree.reader().listings();
    tree.reader().clearCounts();

    DeviceChanges changes;
    const auto scan = std::make_shared<SharedScan>(tree.root(), tree.reader(), &changes);
    ThermalSampler thermal(
        makeHwmonTemperatureServices(tree.root(), tree.reader(), clock, nullptr, scan),
        openHwmonSMCDriver(tree.root(), tree.reader(), clock, nullptr, scan), clock);
    FanSampler fans(
        SMCBridge(openHwmonSMCDriver(tree.root(), tree.reader(), clock, nullptr, scan)));
    EXPECT_EQ(thermal.sample()->memoryTemperatureC, 40.0);
    EXPECT_EQ(fans.sample()->rpm, 2000.0);
    EXPECT_EQ(tree.reader().listings(), oneWalk);

    tree.reader().deviceGone(tree.path("class/hwmon/hwmon1"));
    tree.reader().clearCounts();
    fans.sample();  // the fan's device is gone: its driver walks again, at the same moment too
    EXPECT_EQ(tree.reader().listings(), oneWalk);

    tree.reader().failListing(tree.path("class/hwmon"), EIO);
    clock.advance(1);
    EXPECT_FALSE(scan->scan(clock.monotonicNow()).has_value());
    tree.reader().clearFaults();
    EXPECT_TRUE(scan->scan(clock.monotonicNow()).has_value());
    changes.changed();
    tree.reader().clearCounts();
    scan->scan(clock.monotonicNow());
    EXPECT_EQ(tree.reader().listings(), oneWalk);
}

// The driver answers the fan and memory keys over the exact protocol; the keys are fixed by the
// first discovery, 110 fans and 21 memory keys at most.
TEST_F(HwmonTest, TheSMCDriverAnswersFanAndMemoryKeys) {
    tree.add(R"(
[class/hwmon/hwmon0]
name = thinkpad
fan1_input = 3855
fan1_min = 1200
[class/hwmon/hwmon1]
name = jc42
temp1_input = 41500
)");
    for (int chip = 2; chip < 130; ++chip) {
        tree.add("[class/hwmon/hwmon" + std::to_string(chip) +
                 "]\nname = fanchip\nfan1_input = " + std::to_string(1000 + chip) + "\n");
    }
    auto driver = openHwmonSMCDriver(tree.root(), tree.reader(), clock);
    const auto info = driver->call(SMCKeyData::keyInfoRequest(fourCC("F0Ac")));
    EXPECT_EQ(info->dataType, fourCC("flt "));
    EXPECT_EQ(info->dataSize, 4u);
    EXPECT_EQ(driver->call(SMCKeyData::keyInfoRequest(fourCC("F0Mx")))->result,
              SMCKeyData::resultKeyNotFound);
    const SMCBridge bridge(std::move(driver));
    EXPECT_EQ(bridge.readUInt8("FNum"), 110);
    EXPECT_EQ(floatKey(bridge, "F0Ac"), 3855.0f);
    EXPECT_EQ(floatKey(bridge, "F0Mn"), 1200.0f);
    EXPECT_EQ(floatKey(bridge, "F109Ac"), 1110.0f);
    EXPECT_EQ(floatKey(bridge, "TRD0"), 41.5f);
    EXPECT_EQ(bridge.readKey("TRD1"), std::nullopt);

    tree.remove("class/hwmon/hwmon0");
    tree.reader().deviceGone(tree.path("class/hwmon/hwmon0"));
    EXPECT_EQ(floatKey(bridge, "F0Ac"), std::nullopt);  // gone: nothing, and no other fan's value
    EXPECT_EQ(floatKey(bridge, "F1Ac"), 1002.0f);
    EXPECT_EQ(bridge.readUInt8("FNum"), 110);
}

// Every sensor file with what it feeds (or why not) and its value or error.
TEST_F(HwmonTest, TheReportShowsEveryFileAndWhatItFeeds) {
    tree.add(R"(
[class/hwmon/hwmon0]
name = coretemp
temp1_label = Package id 0
temp1_input = 45000
temp2_input ! EIO
[class/hwmon/hwmon1]
name = jc42
temp1_input = 40250
[class/hwmon/hwmon2]
name = thinkpad
fan1_input = 2100
fan1_max = N/A
[class/hwmon/hwmon3]
temp1_input = 30000
)");
    std::ostringstream out;
    const auto fieldOf = [](std::string_view name) noexcept {
        return payloadFieldOf(SensorNaming::hwmon, name);
    };
    for (const auto& e : reportSensors(tree.root(), fieldOf, tree.reader())) {
        out << e.path.substr(tree.root().size() + 1) << '|' << e.chip << '|' << e.label << '|'
            << (e.feeds.empty() ? "-" : e.feeds) << '|'
            << (e.value            ? std::to_string(*e.value)
                : e.readError != 0 ? ioErrorText(e.readError)
                                   : "no value")
            << '\n';
    }
    EXPECT_EQ(out.str(),
              "class/hwmon/hwmon0/temp1_input|coretemp|Package id 0|cpuTemperatureC|45.000000\n"
              "class/hwmon/hwmon0/temp2_input|coretemp|temp2|cpuTemperatureC|Input/output error\n"
              "class/hwmon/hwmon1/temp1_input|jc42|temp1|TRD0|40.250000\n"
              "class/hwmon/hwmon2/fan1_input|thinkpad|fan1|F0Ac|2100.000000\n"
              "class/hwmon/hwmon2/fan1_max|thinkpad|fan1|F0Mx|no value\n"
              "class/hwmon/hwmon3/temp1_input||temp1|-|30.000000\n");
}

}  // namespace
}  // namespace tessly::hwmon::testing
