// The container lookup (Linux: $HOME when set and absolute, else the passwd entry) and the
// removal of temporaries that interrupted writes leave behind.

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <set>

#include "ContainerFiles.h"
#include "TestSupport.h"

namespace tessly {
namespace {

namespace fs = std::filesystem;
using test::entries;
using test::writeBytes;

class SharedContainerTest : public test::TempHome {};

TEST_F(SharedContainerTest, HomeWhenSetAndAbsolute) {
    EXPECT_EQ(SharedContainer::directory(),
              home() / "Library" / "Group Containers" / std::string(SensorBridge::groupID));
    EXPECT_FALSE(fs::exists(home() / "Library"));  // the lookup creates nothing
    ASSERT_EQ(::setenv("HOME", "/", 1), 0);
    EXPECT_EQ(SharedContainer::directory(),
              fs::path("/Library/Group Containers") / std::string(SensorBridge::groupID));
}

TEST_F(SharedContainerTest, PasswdHomeWhenHomeIsUnsetEmptyOrRelative) {
    const passwd* user = ::getpwuid(::getuid());
    if (user == nullptr || user->pw_dir == nullptr || user->pw_dir[0] != '/')
        GTEST_SKIP() << "this user has no passwd entry with a home";
    const auto expected = fs::path(user->pw_dir) / "Library" / "Group Containers" /
                          std::string(SensorBridge::groupID);
    ASSERT_EQ(::unsetenv("HOME"), 0);
    EXPECT_EQ(SharedContainer::directory(), expected);
    for (const char* value : {"", "relative/home", "~", "./home"}) {
        ASSERT_EQ(::setenv("HOME", value, 1), 0);
        EXPECT_EQ(SharedContainer::directory(), expected) << '"' << value << '"';
    }
}

TEST(TemporaryNames, FollowTheOneFilePatternAndDiffer) {
    std::set<std::string> seen;
    for (int i = 0; i < 2000; ++i) {
        const std::string name = detail::temporaryName("sensors.json");
        EXPECT_TRUE(name.starts_with(".sensors.json.tmp.")) << name;
        EXPECT_TRUE(detail::isTemporaryName(name, "sensors.json")) << name;
        EXPECT_FALSE(detail::isTemporaryName(name, "control.json") ||
                     detail::isTemporaryName(name, "sensors.jso"))
            << name;
        seen.insert(name);
    }
    EXPECT_EQ(seen.size(), 2000u);
    EXPECT_TRUE(detail::isTemporaryName(".sensors.json.tmp.ABCDEFGHIJKL", "sensors.json"));
    for (const char* near : {"sensors.json", ".sensors.json.tmp.", ".sensors.json.tmp.ABCDEFGHIJK",
                             ".sensors.json.tmp.ABCDEFGHIJKLM", ".sensors.json.tmp.ABCDEFGHIJK!",
                             ".sensors.json.tmp.ABCDEF.HIJKL", "sensors.json.tmp.ABCDEFGHIJKL",
                             ".sensors.jsonXtmp.ABCDEFGHIJKL", "..sensors.json.tmp.ABCDEFGHIJK",
                             ".control.json.tmp.ABCDEFGHIJKL"}) {
        EXPECT_FALSE(detail::isTemporaryName(near, "sensors.json")) << near;
    }
}

void makeOld(const fs::path& path) {
    timespec times[2];
    ::clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= 3600;
    times[1] = times[0];
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

TEST_F(SharedContainerTest, RemoveStaleTemporariesTouchesOnlyOldTemporariesOfTheNamedFile) {
    const fs::path dir = container();
    const std::string oldSensors = detail::temporaryName("sensors.json");
    const std::string youngSensors = detail::temporaryName("sensors.json");
    const std::string oldControl = detail::temporaryName("control.json");
    // Besides: a near miss, the file itself and another, all old; an old directory and symlink
    // named like temporaries.
    for (const std::string& name :
         std::vector<std::string>{oldSensors, youngSensors, oldControl,
                                  ".sensors.json.tmp.ABCDEFGHIJKLM", "sensors.json", "other.txt"})
        writeBytes(dir / name, "partial");
    fs::create_directory(dir / ".sensors.json.tmp.DIRECTORY000");
    fs::create_symlink("sensors.json", dir / ".sensors.json.tmp.SYMLINK00000");
    for (const auto& name : test::entries(dir)) {
        if (name != youngSensors) makeOld(dir / name);
    }
    auto expected = entries(dir);

    for (const char* bad : {"", "..", "x/sensors.json"})
        EXPECT_EQ(SharedContainer::removeStaleTemporaries(bad, 60), 0u) << bad;
    EXPECT_EQ(SharedContainer::removeStaleTemporaries("sensors.json", std::nan("")), 0u);
    EXPECT_EQ(entries(dir), expected);
    const auto removes = [&](const char* file, double age, const std::string& name) {
        EXPECT_EQ(SharedContainer::removeStaleTemporaries(file, age), 1u);
        std::erase(expected, name);
        EXPECT_EQ(entries(dir), expected);
    };
    removes("sensors.json", 60, oldSensors);
    removes("sensors.json", 0, youngSensors);  // an age of 0 takes the young one too
    removes("control.json", 60, oldControl);
    EXPECT_EQ(SharedContainer::removeStaleTemporaries("sensors.json", 0), 0u);
}

TEST_F(SharedContainerTest, RemoveStaleTemporariesWithoutAContainerRemovesNothing) {
    EXPECT_EQ(SharedContainer::removeStaleTemporaries("sensors.json", 60), 0u);
    writeBytes(home() / "Library", "a regular file");
    EXPECT_EQ(SharedContainer::removeStaleTemporaries("sensors.json", 60), 0u);
}

}  // namespace
}  // namespace tessly
