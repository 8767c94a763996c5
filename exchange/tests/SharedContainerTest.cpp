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

std::optional<fs::path> passwdHome() {
    std::vector<char> buffer(1 << 16);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] != '/') {
        return std::nullopt;
    }
    return fs::path(found->pw_dir);
}

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
    const auto expectedHome = passwdHome();
    if (!expectedHome) GTEST_SKIP() << "this user has no passwd entry with a home";
    const auto expected =
        *expectedHome / "Library" / "Group Containers" / std::string(SensorBridge::groupID);
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
        EXPECT_FALSE(detail::isTemporaryName(name, "control.json")) << name;
        EXPECT_FALSE(detail::isTemporaryName(name, "sensors.jso")) << name;
        seen.insert(name);
    }
    EXPECT_EQ(seen.size(), 2000u);
    for (const char* near : {"sensors.json", ".sensors.json.tmp.", ".sensors.json.tmp.ABCDEFGHIJK",
                             ".sensors.json.tmp.ABCDEFGHIJKLM", ".sensors.json.tmp.ABCDEFGHIJK!",
                             ".sensors.json.tmp.ABCDEF.HIJKL", "sensors.json.tmp.ABCDEFGHIJKL",
                             ".sensors.jsonXtmp.ABCDEFGHIJKL", "..sensors.json.tmp.ABCDEFGHIJK",
                             ".control.json.tmp.ABCDEFGHIJKL"}) {
        EXPECT_FALSE(detail::isTemporaryName(near, "sensors.json")) << near;
    }
    EXPECT_TRUE(detail::isTemporaryName(".sensors.json.tmp.ABCDEFGHIJKL", "sensors.json"));
}

void makeOld(const fs::path& path, double ageSeconds) {
    timespec times[2];
    ::clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= static_cast<time_t>(ageSeconds);
    times[1] = times[0];
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

TEST_F(SharedContainerTest, RemoveStaleTemporariesTouchesOnlyOldTemporariesOfTheNamedFile) {
    const fs::path dir = container();
    const std::string oldSensors = detail::temporaryName("sensors.json");
    const std::string youngSensors = detail::temporaryName("sensors.json");
    const std::string oldControl = detail::temporaryName("control.json");
    const std::string nearMiss = ".sensors.json.tmp.ABCDEFGHIJKLM";
    const std::string oldDirectory = ".sensors.json.tmp.DIRECTORY000";
    const std::string oldSymlink = ".sensors.json.tmp.SYMLINK00000";
    for (const auto& name : {oldSensors, youngSensors, oldControl, nearMiss,
                             std::string("sensors.json"), std::string("other.txt")}) {
        writeBytes(dir / name, "partial");
    }
    fs::create_directory(dir / oldDirectory);
    fs::create_symlink("sensors.json", dir / oldSymlink);
    for (const auto& name : {oldSensors, oldControl, nearMiss, oldDirectory, oldSymlink,
                             std::string("sensors.json"), std::string("other.txt")}) {
        makeOld(dir / name, 3600);
    }
    const auto before = entries(dir);

    EXPECT_EQ(SharedContainer::removeStaleTemporaries("sensors.json", std::nan("")), 0u);
    EXPECT_EQ(SharedContainer::removeStaleTemporaries("", 60), 0u);
    EXPECT_EQ(SharedContainer::removeStaleTemporaries("..", 60), 0u);
    EXPECT_EQ(SharedContainer::removeStaleTemporaries("x/sensors.json", 60), 0u);
    EXPECT_EQ(entries(dir), before);

    EXPECT_EQ(SharedContainer::removeStaleTemporaries("sensors.json", 60), 1u);
    auto expected = before;
    std::erase(expected, oldSensors);
    EXPECT_EQ(entries(dir), expected);

    // An age of 0 takes the young one too, still nothing else.
    EXPECT_EQ(SharedContainer::removeStaleTemporaries("sensors.json", 0), 1u);
    std::erase(expected, youngSensors);
    EXPECT_EQ(entries(dir), expected);

    EXPECT_EQ(SharedContainer::removeStaleTemporaries("control.json", 60), 1u);
    std::erase(expected, oldControl);
    EXPECT_EQ(entries(dir), expected);
    EXPECT_EQ(SharedContainer::removeStaleTemporaries("sensors.json", 0), 0u);
}

TEST_F(SharedContainerTest, RemoveStaleTemporariesWithoutAContainerRemovesNothing) {
    EXPECT_EQ(SharedContainer::removeStaleTemporaries("sensors.json", 60), 0u);
    writeBytes(home() / "Library", "a regular file");
    EXPECT_EQ(SharedContainer::removeStaleTemporaries("sensors.json", 60), 0u);
}

}  // namespace
}  // namespace tessly
