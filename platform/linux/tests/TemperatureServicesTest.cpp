// The hwmon temperature services: what is listed under which name, in degrees Celsius, and how
// bad files, odd trees and changing machines come through.

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/ManualClock.h"
#include "platform/linux/HwmonSensors.h"
#include "platform/linux/tests/SysfsTree.h"

namespace tessly::hwmon::testing {
namespace {

using Listing = std::vector<std::pair<std::string, std::optional<double>>>;

class TemperatureServicesTest : public ::testing::Test {
  protected:
    std::unique_ptr<TemperatureServices> open() {
        return makeHwmonTemperatureServices(tree.root(), tree.reader(), clock);
    }

    // Every service of one listing with its temperature; nothing when the list is unavailable.
    static std::optional<Listing> list(TemperatureServices& services) {
        const auto list = services.copyServices();
        if (!list) return std::nullopt;
        Listing out;
        for (std::size_t i = 0; i < list->count(); ++i) {
            const auto name = list->productName(i);
            out.emplace_back(name ? std::string(*name) : "?", list->temperature(i));
        }
        return out;
    }

    SysfsTree tree;
    ManualClock clock;
};

// The choices that need more than one input (Tctl beside Tdie, BAT* beside its power supply) are
// made here; what is listed, also chips the sampler ignores, goes by "<chip> <label>".
TEST_F(TemperatureServicesTest, ListsChipLabelNamesInDegreesAfterTheDiscoveryChoices) {
    tree.add(R"(
[class/hwmon/hwmon0]
name = coretemp
temp1_label = Package id 0
temp1_input = 45000
temp2_input = 44000
[class/hwmon/hwmon1]
name = k10temp
temp1_label = Tctl
temp1_input = 60000
temp2_label = Tdie
temp2_input = 50000
[class/hwmon/hwmon2]
name = BAT1
temp1_input = 32000
[class/hwmon/hwmon3]
name = acpitz
temp1_input = 27800
[class/power_supply/AC]
type = Mains
[class/power_supply/BAT0]
type = Battery
temp = 305
[class/hwmon/hwmon4]
name = BAT2
temp1_input = 33000
[class/power_supply/BAT2]
type = Battery
temp ! ENODATA
)");
    const auto services = open();
    EXPECT_EQ(services->naming(), SensorNaming::hwmon);
    EXPECT_EQ(list(*services), (Listing{
                                   {"coretemp Package id 0", 45.0},
                                   {"coretemp temp2", 44.0},
                                   {"k10temp Tdie", 50.0},
                                   {"BAT1 temp1", 32.0},  // no power supply BAT1 reports it
                                   {"acpitz temp1", 27.8},
                                   // its supply has a temp file, but it gives no value
                                   {"BAT2 temp1", 33.0},
                                   {"power_supply BAT0", 30.5},  // tenths of a degree
                                   {"power_supply BAT2", std::nullopt},
                               }));
}

TEST_F(TemperatureServicesTest, ValuesAreReadAfreshWithOnePreadAndOnlyIntegersCount) {
    tree.add("[class/hwmon/hwmon0]\nname = coretemp\ntemp1_input = 1\n");
    auto services = open();
    auto list = services->copyServices();
    // A negative value is passed on; the sampler drops what is not above 0.
    const std::pair<std::string, std::optional<double>> cases[] = {
        {"45000\n", 45.0},
        {"45125", 45.125},
        {"-1000\n", -1.0},
        {"", std::nullopt},
        {"N/A\n", std::nullopt},
        {"99999999999999999999\n", std::nullopt},
        {std::string(500, '7'), std::nullopt}};
    tree.reader().clearCounts();
    for (const auto& [content, expected] : cases) {
        tree.write("class/hwmon/hwmon0/temp1_input", content);
        EXPECT_EQ(list->temperature(0), expected) << '"' << content << '"';
    }
    EXPECT_EQ(tree.reader().reads(), std::size(cases));
    EXPECT_EQ(tree.reader().opens(), 1u);
    EXPECT_EQ(tree.reader().openFiles(), 1u) << "kept open for the next reading";
    services.reset();
    tree.write("class/hwmon/hwmon0/temp1_input", "46000\n");
    EXPECT_EQ(list->temperature(0), 46.0) << "a list outlives its services";
    list.reset();
    EXPECT_EQ(tree.reader().openFiles(), 0u) << "closed with the last holder";
}

TEST_F(TemperatureServicesTest, FilesFailingEveryReadGiveNothingAndCostNoDiscovery) {
    tree.add(
        "[class/hwmon/hwmon0]\nname = amdgpu\ntemp1_label = edge\ntemp1_input = 51000\n"
        "temp2_label = junction\ntemp2_input = 1\nfan1_input ! EIO\n");
    const Listing expected{{"amdgpu edge", 51.0}, {"amdgpu junction", std::nullopt}};
    for (const int error : {EIO, ENODATA, ENXIO, EINVAL, EAGAIN}) {
        SCOPED_TRACE(error);
        tree.reader().failReads(tree.path("class/hwmon/hwmon0/temp2_input"), error);
        const auto services = open();
        EXPECT_EQ(list(*services), expected);
        const auto listings = tree.reader().listings();
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(list(*services), expected);
        EXPECT_EQ(tree.reader().listings(), listings);
    }
}

// Real sysfs attributes are regular files; anything else in a tree is a read error for that file,
// found without blocking, and never costs the other sensors their values.
TEST_F(TemperatureServicesTest, FilesThatAreNoRegularFilesAreReadErrorsNeverABlockedTick) {
    tree.add(R"(
[class/hwmon/hwmon0]
name = coretemp
temp2_input = 44000
temp3_input = 43000
[class/hwmon/hwmon1]
temp1_input = 99000
)");
    const auto at = [&](std::string_view relative) { return tree.path(relative); };
    ASSERT_EQ(::mkfifo(at("class/hwmon/hwmon0/temp1_input").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(at("class/hwmon/hwmon0/temp3_label").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(at("class/hwmon/hwmon1/name").c_str(), 0600), 0);
    const int socketFd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = at("class/hwmon/hwmon0/temp4_input");
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(::bind(socketFd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(socketFd);
    // A device node, where the test may make one (as root): the null device, harmless to open.
    const bool device =
        ::mknod(at("class/hwmon/hwmon0/temp5_input").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;

    Listing expected{{"coretemp temp1", std::nullopt},
                     {"coretemp temp2", 44.0},
                     {"coretemp temp3", 43.0},
                     {"coretemp temp4", std::nullopt}};
    if (device) expected.emplace_back("coretemp temp5", std::nullopt);
    const auto services = open();
    EXPECT_EQ(list(*services), expected);
    EXPECT_EQ(list(*services), expected);
    EXPECT_EQ(tree.reader().openFiles(), 2u) << "only the regular files are kept";
}

// Beyond the descriptors that may be kept, a file is opened, read and closed for each reading:
// every value still comes, and the kept ones cost one read each.
TEST_F(TemperatureServicesTest, FilesBeyondTheDescriptorBudgetAreReadByOpenReadClose) {
    tree.add(R"(
[class/hwmon/hwmon0]
name = coretemp
temp1_input = 41000
temp2_input = 42000
temp3_input = 43000
temp4_input = 44000
temp5_input = 45000
)");
    tree.reader().keepAtMost(2);
    const auto services = open();
    const Listing expected{{"coretemp temp1", 41.0},
                           {"coretemp temp2", 42.0},
                           {"coretemp temp3", 43.0},
                           {"coretemp temp4", 44.0},
                           {"coretemp temp5", 45.0}};
    EXPECT_EQ(list(*services), expected);
    tree.reader().clearCounts();
    EXPECT_EQ(list(*services), expected);
    EXPECT_EQ(tree.reader().reads(), 5u);
    EXPECT_EQ(tree.reader().opens(), 3u);
    EXPECT_EQ(tree.reader().openFiles(), 2u);
}

TEST_F(TemperatureServicesTest, OddTreesAreReadForWhatTheyHold) {
    tree.add(R"(
# sparse indices
[class/hwmon/hwmon0]
name = nvme
temp1_label = Sensor 1
temp1_input = 40000
temp9_label = Sensor 8
temp9_input = 41000
# no name anywhere: ignored
[class/hwmon/hwmon1]
temp1_input = 99000
# the older layout: name and attributes in device/
[class/hwmon/hwmon2]
device/name = k8temp
device/temp1_input = 52000
device/temp = 52000
# a name that cannot be read, and an empty one: ignored
[class/hwmon/hwmon3]
name ! EIO
temp1_input = 98000
[class/hwmon/hwmon4]
name :=
temp1_input = 97000
# two chips of one name, labels that are not UTF-8 and a label that cannot be read
[class/hwmon/hwmon5]
name = coretemp
temp1_label = Core\xff 0
temp1_input = 53000
[class/hwmon/hwmon6]
name = coretemp
temp1_label ! EIO
temp1_input = 54000
# a chip whose directory cannot be read, and entries that are no chips
[class/hwmon/hwmon7]
name = k10temp
temp1_input = 96000
[class/hwmon]
hwmonX/
power/
)");
    tree.reader().failListing(tree.path("class/hwmon/hwmon7"), EACCES);
    EXPECT_EQ(list(*open()), (Listing{
                                 {"nvme Sensor 1", 40.0},
                                 {"nvme Sensor 8", 41.0},
                                 {"k8temp temp1", 52.0},
                                 {"coretemp Core\xEF\xBF\xBD 0", 53.0},
                                 {"coretemp temp1", 54.0},
                             }));
}

TEST_F(TemperatureServicesTest, MissingHwmonIsAMachineWithoutSensorsUnreadableIsNoList) {
    const auto services = open();
    EXPECT_EQ(list(*services), Listing{});
    tree.add("[class/hwmon]\n");
    EXPECT_EQ(list(*open()), Listing{});

    tree.add("[class/hwmon/hwmon0]\nname = coretemp\ntemp1_input = 40000\n");
    tree.reader().failListing(tree.path("class/hwmon"), EACCES);
    const auto blocked = open();
    EXPECT_EQ(list(*blocked), std::nullopt);
    tree.reader().clearFaults();
    EXPECT_EQ(list(*blocked), (Listing{{"coretemp temp1", 40.0}})) << "tried again at once";
}

TEST_F(TemperatureServicesTest, ChipsComeAndGo) {
    tree.add("[class/hwmon/hwmon0]\nname = coretemp\ntemp1_input = 40000\n");
    tree.add("[class/hwmon/hwmon1]\nname = drivetemp\ntemp1_input = 30000\n");
    const auto services = open();
    const auto first = services->copyServices();
    ASSERT_EQ(first->count(), 2u);

    // A new chip shows with the regular discovery, a minute after the last.
    tree.add("[class/hwmon/hwmon2]\nname = amdgpu\ntemp1_input = 50000\n");
    clock.advance(59);
    EXPECT_EQ(list(*services)->size(), 2u);
    clock.advance(1);
    EXPECT_EQ(list(*services)->size(), 3u);

    // A chip that vanishes between discovery and read gives nothing, and the next listing,
    // at once, no longer holds it. A list handed out earlier stays valid.
    tree.remove("class/hwmon/hwmon1");
    tree.reader().deviceGone(tree.path("class/hwmon/hwmon1"));
    const auto before = services->copyServices();
    EXPECT_EQ(before->temperature(1), std::nullopt);
    EXPECT_EQ(list(*services), (Listing{{"coretemp temp1", 40.0}, {"amdgpu temp1", 50.0}}));
    EXPECT_EQ(before->productName(1), "drivetemp temp1");
    EXPECT_EQ(first->productName(0), "coretemp temp1");
    EXPECT_EQ(first->temperature(0), 40.0);
    EXPECT_EQ(first->productName(2), std::nullopt);
    EXPECT_EQ(first->temperature(2), std::nullopt);
}

}  // namespace
}  // namespace tessly::hwmon::testing
