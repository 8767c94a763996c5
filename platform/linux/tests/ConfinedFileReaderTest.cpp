// `tessly sensors --sysfs ROOT` reads only below ROOT: links that point outside are never
// followed out of it, and nothing but regular files is opened. Both ways of keeping paths inside
// (the kernel's, and the checked lookup where the kernel's is missing) are held to that.

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include <gtest/gtest.h>

#include "platform/linux/ConfinedFileReader.h"
#include "platform/linux/FileReader.h"
#include "testing/Scratch.h"

namespace tessly::hwmon {
namespace {

namespace fs = std::filesystem;
using Resolution = ConfinedFileReader::Resolution;
using tessly::testing::TempDir;
using tessly::testing::writeFile;

class ConfinedFileReaderTest : public ::testing::TestWithParam<Resolution> {
  protected:
    // hwmon1 and hwmon2 lead to `outside`; hwmon3 and hwmon4 to a sibling whose name begins with
    // the root's.
    ConfinedFileReaderTest() {
        writeFile(outside / "secret", "SECRET\n");
        writeFile(sibling / "secret", "SECRET\n");
        writeFile(root / "devices/chip/hwmon/hwmon0/name", "coretemp\n");
        fs::create_directories(root / "class/hwmon");
        fs::create_symlink("../../devices/chip/hwmon/hwmon0", root / "class/hwmon/hwmon0");
        fs::create_symlink(outside, root / "class/hwmon/hwmon1");             // absolute
        fs::create_symlink("../../../outside", root / "class/hwmon/hwmon2");  // up and out
        fs::create_symlink(sibling, root / "class/hwmon/hwmon3");
        fs::create_symlink("../../../sys-other", root / "class/hwmon/hwmon4");
        fs::create_symlink(outside / "secret", root / "devices/chip/hwmon/hwmon0/label");
        reader = ConfinedFileReader::within(root.string(), GetParam());
    }

    std::optional<std::string> text(const std::string& relative) {
        return readSmallFile(*reader, root.string() + "/" + relative).optional();
    }

    TempDir dir;
    fs::path root = dir / "sys";
    fs::path outside = dir / "outside";
    fs::path sibling = dir / "sys-other";
    std::unique_ptr<ConfinedFileReader> reader;
};

TEST_P(ConfinedFileReaderTest, LinksInsideAreFollowedAndOnlyRegularFilesInsideAreRead) {
    ASSERT_TRUE(reader);
    EXPECT_EQ(text("class/hwmon/hwmon0/name"), "coretemp\n");
    const auto chips = reader->listDirectory(root.string() + "/class/hwmon");
    ASSERT_TRUE(chips);
    EXPECT_EQ(chips->size(), 5u);
    EXPECT_TRUE(reader->readLink(root.string() + "/class/hwmon/hwmon0").has_value());

    for (const char* escape : {"class/hwmon/hwmon0/label", "../outside/secret"})
        EXPECT_NE(text(escape), "SECRET\n") << escape;
    for (const std::string escape :
         {"class/hwmon/hwmon1", "class/hwmon/hwmon2", "class/hwmon/hwmon3", "class/hwmon/hwmon4"}) {
        EXPECT_NE(text(escape + "/secret"), "SECRET\n") << escape;
        // A directory outside is never listed: its names would show up in the report as paths.
        const auto listing = reader->listDirectory(root.string() + "/" + escape);
        EXPECT_TRUE(!listing || std::ranges::find(*listing, "secret") == listing->end()) << escape;
    }
    // Paths that do not start with the root are refused outright.
    EXPECT_EQ(reader->open((outside / "secret").string()).error(), EXDEV);
    EXPECT_EQ(reader->open((sibling / "secret").string()).error(), EXDEV);

    const fs::path chip = root / "devices/chip/hwmon/hwmon0";
    ASSERT_EQ(::mkfifo((chip / "temp1_input").c_str(), 0600), 0);  // no writer: would block
    fs::create_directories(chip / "temp2_input");
    std::vector<std::string> names{"temp1_input", "temp2_input"};
    if (::mknod((chip / "temp3_input").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0)
        names.emplace_back("temp3_input");
    for (const auto& name : names)
        EXPECT_EQ(reader->open(root.string() + "/class/hwmon/hwmon0/" + name).error(),
                  notARegularFile)
            << name;
}

INSTANTIATE_TEST_SUITE_P(BothResolutions, ConfinedFileReaderTest,
                         ::testing::Values(Resolution::kernel, Resolution::checked),
                         [](const ::testing::TestParamInfo<Resolution>& param) {
                             return param.param == Resolution::kernel ? "kernel" : "checked";
                         });

TEST(ConfinedFileReader, TheRootSlashNamesPathsFromSlash) {
    const auto reader = ConfinedFileReader::within("");
    ASSERT_TRUE(reader);
    EXPECT_TRUE(reader->listDirectory("/proc/self").has_value());
    EXPECT_FALSE(ConfinedFileReader::within("/nonexistent/tessly-root"));
}

}  // namespace
}  // namespace tessly::hwmon
