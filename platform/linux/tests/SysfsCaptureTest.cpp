// The copy of a machine's sensor files that `tessly capture` makes.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "SysfsTree.h"
#include "platform/linux/ConfinedFileReader.h"
#include "platform/linux/SysfsCapture.h"

namespace tessly::hwmon::testing {
namespace {

namespace fs = std::filesystem;

std::string report(const std::string& root) {
    return reportText(root, *ConfinedFileReader::within(root));
}

IoResult<CaptureSummary> capture(const std::string& root, const std::string& destination) {
    return captureSysfs(*ConfinedFileReader::within(root), root, destination);
}

// Every file and link below `root`, with the links' texts.
std::vector<std::string> listing(const fs::path& root) {
    std::vector<std::string> out;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string name = entry.path().lexically_relative(root).string();
        if (entry.is_symlink())
            out.push_back(name + " -> " + fs::read_symlink(entry).string());
        else if (!entry.is_directory())
            out.push_back(name);
    }
    std::sort(out.begin(), out.end());
    return out;
}

TEST(SysfsCaptureTest, EveryMachineReadsBackAsItself) {
    const SysfsTree scratch;
    for (const auto& file : fs::directory_iterator(TESSLY_LINUX_FIXTURES)) {
        if (file.path().extension() != ".tree") continue;
        const std::string name = file.path().stem().string();
        SCOPED_TRACE(name);
        const SysfsTree tree = SysfsTree::fixture(name);
        const std::string copy = scratch.path(name);
        const auto captured = capture(tree.root(), copy);
        ASSERT_TRUE(captured) << captured.error();
        EXPECT_GT(captured->files, 0u);
        EXPECT_EQ(report(copy), report(tree.root()));
    }
    // A chip keeps the device it links to; serial numbers stay home.
    EXPECT_EQ(fs::read_symlink(scratch.path("rockchip-rk3588/class/hwmon/hwmon1")),
              "../../devices/virtual/thermal/thermal_zone1/hwmon1");
    EXPECT_TRUE(fs::exists(scratch.path("node-exporter/class/power_supply/BAT0/model_name")));
    EXPECT_FALSE(fs::exists(scratch.path("node-exporter/class/power_supply/BAT0/serial_number")));
}

// Hostile entries are left out without blocking or leaving the root; only a new or empty
// directory is written into, never through a link.
TEST(SysfsCaptureTest, HostileEntriesAreLeftOutAndOnlyANewOrEmptyDirectoryIsWrittenInto) {
    SysfsTree tree(
        "[class/hwmon/hwmon0]\nname = coretemp\ntemp1_input = 45000\ntemp3_input/\n"
        "[class/power_supply/BAT0]\ntype = Battery\ntemp = 305\n");
    const SysfsTree outside("[chip]\nname = SECRET\ntemp1_input = 99000\n");
    ASSERT_EQ(::mkfifo(tree.path("class/hwmon/hwmon0/temp2_input").c_str(), 0600), 0);
    tree.write("class/hwmon/hwmon0/temp4_input", std::string(1 << 20, '7'));
    const std::string beside = "../../../" + fs::path(outside.root()).filename().string();
    tree.add("[class/hwmon]\nhwmon1 -> " + outside.path("chip") + "\nhwmon2 -> " + beside +
             "/chip\n");
    tree.add("[class/hwmon/hwmon0]\ntemp5_input -> " + outside.path("chip/temp1_input") + "\n");

    SysfsTree scratch("[empty]\n[target]\n[full]\nfile = x\n");
    const auto captured = capture(tree.root(), scratch.path("new"));
    ASSERT_TRUE(captured) << captured.error();
    EXPECT_EQ(
        listing(scratch.path("new")),
        (std::vector<std::string>{"class/hwmon/hwmon0/name", "class/hwmon/hwmon0/temp1_input",
                                  "class/power_supply/BAT0/temp", "class/power_supply/BAT0/type"}));
    std::vector<std::string> leftOut;
    for (const auto& left : captured->leftOut)
        leftOut.push_back(left.path + ": " + ioErrorText(left.error));
    EXPECT_EQ(leftOut.size(), 4u);
    EXPECT_EQ(leftOut.at(0), "class/hwmon/hwmon0/temp2_input: not a regular file");
    EXPECT_EQ(leftOut.at(1), "class/hwmon/hwmon0/temp4_input: " + ioErrorText(EFBIG));
    EXPECT_TRUE(leftOut.at(2).starts_with("class/hwmon/hwmon1: "));
    EXPECT_TRUE(leftOut.at(3).starts_with("class/hwmon/hwmon2: "));
    EXPECT_EQ(captured->chips, 1u);
    EXPECT_EQ(captured->supplies, 1u);

    scratch.write("file", "x");
    scratch.add("[.]\nlink -> target\n");
    const std::pair<std::string, int> cases[] = {{"empty", 0},      {"full", ENOTEMPTY},
                                                 {"link", ELOOP},   {"link/", ELOOP},
                                                 {"file", ENOTDIR}, {"none/new", ENOENT}};
    for (const auto& [name, error] : cases) {
        const auto copied = capture(tree.root(), scratch.path(name));
        EXPECT_EQ(copied.error(), error) << name;
        EXPECT_EQ(copied.has_value(), error == 0) << name;
    }
    EXPECT_TRUE(fs::exists(scratch.path("empty/class/hwmon/hwmon0/name")));
    EXPECT_EQ(listing(scratch.path("full")), std::vector<std::string>{"file"});
    EXPECT_TRUE(fs::is_empty(scratch.path("target")));
}

}  // namespace
}  // namespace tessly::hwmon::testing
