// The file exchange against a scratch HOME: where the files go, staleness, failed writes that
// keep the previous file, and bad files that must read as absent, quickly.

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
using namespace std::string_view_literals;
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

using SensorBridgeTest = test::TempHome;

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
    SensorBridge::writeControl({.autostart = true});
    EXPECT_EQ(readBytes(controlFile()), R"({"autostart":true})");
    SensorBridge::writeControl({.autostart = false, .stopRequestedAt = 1.0});  // 1970: very old
    const auto control = SensorBridge::readControl();
    ASSERT_TRUE(control);
    EXPECT_TRUE(sameBits(*control, {.autostart = false, .stopRequestedAt = 1.0}));
    EXPECT_EQ(entries(container()), std::vector<std::string>{"control.json"});
}

TEST_F(SensorBridgeTest, StalenessIsInclusiveAtSixSecondsSignedAndNaNIsStale) {
    SensorBridge::write(samplePayload(kSampledAt));
    // Exactly staleAfter old or ahead (the sums are exact) still counts: a small clock step
    // does not blank a live agent. Further ahead, a clock set back would keep a dead agent's
    // last payload live for as long as the step.
    for (const double now : {kSampledAt, kSampledAt + 6.0, kSampledAt - 6.0, kSampledAt - 0.5})
        EXPECT_TRUE(SensorBridge::read(now)) << std::fixed << now;
    for (const double now :
         {std::nextafter(kSampledAt + 6.0, kInf), kSampledAt + 6.001, kSampledAt + 3600, kInf, kNaN,
          std::nextafter(kSampledAt - 6.0, -kInf), kSampledAt - 3600, -kInf})
        EXPECT_FALSE(SensorBridge::read(now)) << std::fixed << now;
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

// Lowers RLIMIT_FSIZE with SIGXFSZ ignored, so that a longer write fails with EFBIG as on a full
// disk (as root, permission bits would not stop a write). Restored on destruction.
struct FileSizeLimit {
    explicit FileSizeLimit(rlim_t bytes) : handler(std::signal(SIGXFSZ, SIG_IGN)) {
        ::getrlimit(RLIMIT_FSIZE, &previous);
        rlimit lowered = previous;
        lowered.rlim_cur = bytes;
        ok = ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, handler);
    }
    void (*handler)(int);
    rlimit previous{};
    bool ok = false;
};

TEST_F(SensorBridgeTest, FailedWriteKeepsThePreviousFileAndLeavesNoTemporary) {
    SensorBridge::write(samplePayload(kSampledAt));
    SensorBridge::writeControl({.autostart = true});
    const std::string sensorsBefore = readBytes(sensorsFile());
    {
        FileSizeLimit limit(10);  // every record is longer: a short write, then EFBIG
        ASSERT_TRUE(limit.ok);
        SensorBridge::write(samplePayload(kSampledAt + 1));
        SensorBridge::writeControl({.autostart = false, .stopRequestedAt = 5});
    }
    EXPECT_EQ(readBytes(sensorsFile()), sensorsBefore);
    EXPECT_EQ(readBytes(controlFile()), R"({"autostart":true})");
    EXPECT_EQ(entries(container()), (std::vector<std::string>{"control.json", "sensors.json"}));
    SensorBridge::write(samplePayload(kSampledAt + 2));  // and writing works again afterwards
    EXPECT_EQ(SensorBridge::read(kSampledAt).value().sampledAt, kSampledAt + 2);
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
    // Each holds both files' keys, so only its defect can fail it: empty, truncated, binary, not
    // UTF-8, a fan count that is not whole.
    for (const std::string_view text :
         {""sv, R"({"autostart":true,"sampledAt":1767225600.5,"thermal":{"cpuTemp)"sv,
          "\x7f\x45LF\x02\x01\x01\x00\x00\x00\x00"sv,
          "{\"autostart\":true,\"sampledAt\":1767225600.5,\"helperVersion\":\"\xff\"}"sv,
          R"({"autostart":0,"sampledAt":1767225600.5,"fan":{"rpm":1,"fanCount":2.5}})"sv}) {
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
    std::string padded = control + std::string(detail::maxFileSize - control.size(), ' ');
    writeBytes(controlFile(), padded);
    EXPECT_TRUE(SensorBridge::readControl());
    writeBytes(controlFile(), padded + " ");
    EXPECT_FALSE(SensorBridge::readControl());
    fs::remove(controlFile());

    const std::pair<const char*, void (*)(const fs::path&)> specials[] = {
        {"sparse 1 GiB file",
         [](const fs::path& p) {
             writeBytes(p, "");
             fs::resize_file(p, 1u << 30);  // no blocks on disk
         }},
        {"FIFO", [](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); }},
        {"directory", [](const fs::path& p) { fs::create_directory(p); }},
        {"symlink to /dev/zero", [](const fs::path& p) { fs::create_symlink("/dev/zero", p); }},
        {"symlink to /dev/null", [](const fs::path& p) { fs::create_symlink("/dev/null", p); }},
        {"dangling symlink", [](const fs::path& p) { fs::create_symlink("missing.json", p); }},
        {"symlink loop", [](const fs::path& p) { fs::create_symlink(p.filename(), p); }},
    };
    for (const auto& [what, make] : specials) {
        SCOPED_TRACE(what);
        for (const fs::path& file : {controlFile(), sensorsFile()}) {
            make(file);
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
