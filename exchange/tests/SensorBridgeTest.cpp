// The file exchange against a scratch HOME: where the files go, staleness, failed writes that keep the
// previous file, and bad files that must read as absent, quickly.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <limits>

#include "ContainerFiles.h"
#include "TestSupport.h"

namespace tessly {
namespace {

using namespace std::chrono_literals;
using test::entries;
using test::readBytes;
using test::sameBits;
using test::writeBytes;
namespace fs = std::filesystem;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kSampledAt = 1767225600.5;

SensorsPayload samplePayload(double sampledAt = kSampledAt) {
    return {.thermal = ThermalReading{.cpuTemperatureC = 44},
            .fan = FanReading{.rpm = 1320, .fanCount = 1, .rpms = std::vector<double>{1320}},
            .sampledAt = sampledAt,
            .helperVersion = "1.4.0"};
}

class SensorBridgeTest : public test::TempHome {
  protected:
    fs::path sensorsFile() const { return container() / "sensors.json"; }
    fs::path controlFile() const { return container() / "control.json"; }
};

TEST_F(SensorBridgeTest, TheContainerLiesBelowHome) {
    EXPECT_TRUE(SensorBridge::groupID.starts_with("group."));
    EXPECT_EQ(SensorBridge::staleAfter, 6.0);
    EXPECT_EQ(SharedContainer::directory(), container());
}

TEST_F(SensorBridgeTest, FirstWriteCreatesTheDirectoriesAndWritesExactlyTheEncodedRecord) {
    ASSERT_FALSE(fs::exists(home() / "Library"));
    SensorBridge::write(samplePayload());
    ASSERT_TRUE(fs::is_regular_file(sensorsFile()));
    EXPECT_EQ(readBytes(sensorsFile()), encodeJSON(samplePayload()));
    EXPECT_EQ(entries(container()), std::vector<std::string>{"sensors.json"});

    const auto payload = SensorBridge::read(kSampledAt);
    ASSERT_TRUE(payload);
    EXPECT_TRUE(sameBits(*payload, samplePayload()));
}

TEST_F(SensorBridgeTest, ControlIsWrittenAndReadWhateverItsAge) {
    EXPECT_FALSE(SensorBridge::readControl());  // missing
    SensorBridge::writeControl({.autostart = true});
    EXPECT_EQ(readBytes(controlFile()), R"({"autostart":true})");
    auto control = SensorBridge::readControl();
    ASSERT_TRUE(control);
    EXPECT_TRUE(control->autostart);
    EXPECT_FALSE(control->stopRequestedAt);

    SensorBridge::writeControl({.autostart = false, .stopRequestedAt = 1.0});  // 1970: very old
    control = SensorBridge::readControl();
    ASSERT_TRUE(control);
    EXPECT_FALSE(control->autostart);
    EXPECT_EQ(control->stopRequestedAt, 1.0);
    EXPECT_EQ(entries(container()), std::vector<std::string>{"control.json"});
}

TEST_F(SensorBridgeTest, StalenessIsInclusiveAtSixSecondsSignedAndNaNIsStale) {
    SensorBridge::write(samplePayload(kSampledAt));
    const struct {
        double now;
        bool yielded;
    } cases[] = {
        {kSampledAt, true},
        {kSampledAt + 6.0, true},  // exactly staleAfter old (the sum is exact)
        {std::nextafter(kSampledAt + 6.0, kInf), false},
        {kSampledAt + 6.001, false},
        {kSampledAt + 3600, false},
        {kSampledAt - 100, true},  // from the future: negative age
        {-kInf, true},
        {kInf, false},
        {kNaN, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SensorBridge::read(c.now).has_value(), c.yielded) << std::fixed << c.now;
    }
}

TEST_F(SensorBridgeTest, MissingFilesYieldNothing) {
    EXPECT_FALSE(SensorBridge::read(kSampledAt));
    EXPECT_FALSE(SensorBridge::readControl());
    fs::create_directories(container());
    EXPECT_FALSE(SensorBridge::read(kSampledAt));
    EXPECT_FALSE(SensorBridge::readControl());
}

TEST_F(SensorBridgeTest, EachWriteReplacesTheWholeFile) {
    SensorBridge::write(
        {.fan = FanReading{.rpms = std::vector<double>(50, 1234.5)}, .sampledAt = 1});
    SensorBridge::write({.sampledAt = 2});
    EXPECT_EQ(readBytes(sensorsFile()), R"({"sampledAt":2})");
    EXPECT_EQ(entries(container()), std::vector<std::string>{"sensors.json"});
}

TEST_F(SensorBridgeTest, NonFinitePayloadWritesNothingAndKeepsThePreviousFile) {
    SensorsPayload bad = samplePayload();
    bad.thermal->cpuTemperatureC = kNaN;
    SensorBridge::write(bad);
    EXPECT_FALSE(fs::exists(sensorsFile()));

    SensorBridge::write(samplePayload());
    const std::string before = readBytes(sensorsFile());
    SensorBridge::write(bad);
    bad.thermal->cpuTemperatureC = 40;
    bad.sampledAt = kInf;
    SensorBridge::write(bad);
    SensorBridge::writeControl({.autostart = true, .stopRequestedAt = kNaN});
    EXPECT_EQ(readBytes(sensorsFile()), before);
    EXPECT_EQ(entries(container()), std::vector<std::string>{"sensors.json"});
}

// Lowers RLIMIT_FSIZE with SIGXFSZ ignored, so that a write beyond the limit fails with EFBIG
// (as on a full disk; as root, permission bits would not stop a write). Restored on destruction.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit lowered = previous_;
        lowered.rlim_cur = bytes;
        ok_ = ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool ok() const { return ok_; }

  private:
    rlimit previous_{};
    void (*previousHandler_)(int) = nullptr;
    bool ok_ = false;
};

TEST_F(SensorBridgeTest, FailedWriteKeepsThePreviousFileAndLeavesNoTemporary) {
    SensorBridge::write(samplePayload(kSampledAt));
    SensorBridge::writeControl({.autostart = true});
    const std::string sensorsBefore = readBytes(sensorsFile());
    {
        FileSizeLimit limit(10);  // every record is longer: a short write, then EFBIG
        ASSERT_TRUE(limit.ok());
        SensorBridge::write(samplePayload(kSampledAt + 1));
        SensorBridge::writeControl({.autostart = false, .stopRequestedAt = 5});
    }
    EXPECT_EQ(readBytes(sensorsFile()), sensorsBefore);
    EXPECT_EQ(readBytes(controlFile()), R"({"autostart":true})");
    EXPECT_EQ(entries(container()), (std::vector<std::string>{"control.json", "sensors.json"}));
    const auto payload = SensorBridge::read(kSampledAt);
    ASSERT_TRUE(payload);
    EXPECT_EQ(payload->sampledAt, kSampledAt);

    SensorBridge::write(samplePayload(kSampledAt + 2));  // and writing works again afterwards
    EXPECT_EQ(SensorBridge::read(kSampledAt)->sampledAt, kSampledAt + 2);
}

TEST_F(SensorBridgeTest, DirectorySquattingOnTheTargetNameFailsTheWriteCleanly) {
    fs::create_directories(sensorsFile() / "inside");
    SensorBridge::write(samplePayload());
    EXPECT_TRUE(fs::is_directory(sensorsFile() / "inside"));
    EXPECT_EQ(entries(container()), std::vector<std::string>{"sensors.json"});
    EXPECT_FALSE(SensorBridge::read(kSampledAt));
}

TEST_F(SensorBridgeTest, ContainerBelowARegularFileIsQuietlyNothing) {
    for (const fs::path& blocker :
         {home() / "Library", home() / "Library" / "Group Containers", container()}) {
        fs::remove_all(home() / "Library");
        writeBytes(blocker, "not a directory");
        SensorBridge::write(samplePayload());
        SensorBridge::writeControl({.autostart = true});
        EXPECT_FALSE(SensorBridge::read(kSampledAt)) << blocker;
        EXPECT_FALSE(SensorBridge::readControl()) << blocker;
        EXPECT_EQ(readBytes(blocker), "not a directory");
    }
    // HOME itself a regular file.
    const fs::path fileHome = root() / "file-home";
    writeBytes(fileHome, "x");
    ASSERT_EQ(::setenv("HOME", fileHome.c_str(), 1), 0);
    SensorBridge::write(samplePayload());
    EXPECT_FALSE(SensorBridge::read(kSampledAt));
    EXPECT_EQ(readBytes(fileHome), "x");
}

TEST_F(SensorBridgeTest, BadContentReadsAsAbsent) {
    const std::string_view texts[] = {
        "",
        R"({"sampledAt":1767225600.5,"thermal":{"cpuTemp)",                            // truncated
        std::string_view("\x7f\x45LF\x02\x01\x01\x00\x00\x00\x00", 12),                // binary
        "{\"autostart\":true,\"sampledAt\":1767225600.5,\"helperVersion\":\"\xff\"}",  // not UTF-8
        R"([{"autostart":true,"sampledAt":1767225600.5}])",    // top-level array
        R"({"autostart":null,"sampledAt":null})",              // null required key
        R"({"autostart":"true","sampledAt":"1767225600.5"})",  // string under a number key
        R"({"autostart":1,"sampledAt":1767225600.5,"fan":{"rpm":1,"fanCount":1,"rpms":[null]}})",
        R"({"autostart":0,"sampledAt":1767225600.5,"fan":{"rpm":1,"fanCount":2.5}})",
        R"({"autostart":0,"sampledAt":1767225600.5,"fan":{"rpm":1,"fanCount":1e30}})",
    };
    for (const std::string_view text : texts) {
        writeBytes(sensorsFile(), text);
        writeBytes(controlFile(), text);
        EXPECT_FALSE(SensorBridge::read(kSampledAt)) << text;
        EXPECT_FALSE(SensorBridge::readControl()) << text;
    }
}

TEST_F(SensorBridgeTest, OnlySmallRegularFilesAreRead) {
    const std::string control = R"({"autostart":true})";
    fs::create_directories(container());

    // A symlink to a regular file still reads.
    writeBytes(root() / "elsewhere.json", control);
    fs::create_symlink(root() / "elsewhere.json", controlFile());
    EXPECT_TRUE(SensorBridge::readControl());
    fs::remove(controlFile());

    // Exactly the cap reads; one byte more does not.
    std::string padded = control + std::string(detail::kMaxFileSize - control.size(), ' ');
    writeBytes(controlFile(), padded);
    EXPECT_TRUE(SensorBridge::readControl());
    writeBytes(controlFile(), padded + " ");
    EXPECT_FALSE(SensorBridge::readControl());
    fs::remove(controlFile());

    const struct {
        const char* what;
        void (*make)(const fs::path&);
    } specials[] = {
        {"sparse 1 GiB file",
         [](const fs::path& p) {
             const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
             ASSERT_GE(fd, 0);
             ASSERT_EQ(::ftruncate(fd, off_t{1} << 30), 0);  // no blocks on disk
             ::close(fd);
         }},
        {"FIFO", [](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); }},
        {"directory", [](const fs::path& p) { fs::create_directory(p); }},
        {"symlink to /dev/zero", [](const fs::path& p) { fs::create_symlink("/dev/zero", p); }},
        {"symlink to /dev/null", [](const fs::path& p) { fs::create_symlink("/dev/null", p); }},
        {"dangling symlink", [](const fs::path& p) { fs::create_symlink("missing.json", p); }},
        {"symlink loop", [](const fs::path& p) { fs::create_symlink(p.filename(), p); }},
    };
    for (const auto& special : specials) {
        SCOPED_TRACE(special.what);
        for (const fs::path& file : {controlFile(), sensorsFile()}) {
            special.make(file);
            test::finishesWithin(10s, [] {
                EXPECT_FALSE(SensorBridge::readControl());
                EXPECT_FALSE(SensorBridge::read(kSampledAt));
            });
            fs::remove_all(file);
        }
    }
}

}  // namespace
}  // namespace tessly
