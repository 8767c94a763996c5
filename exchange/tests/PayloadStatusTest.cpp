// The diagnosis of the exchange files against a scratch HOME: every state, its agreement with
// what SensorBridge yields for the same file, and the age it reports.

#include <sys/stat.h>

#include <cmath>
#include <limits>

#include "TestSupport.h"

namespace tessly {
namespace {

using test::sameBits;
using test::writeBytes;
namespace fs = std::filesystem;
using PState = PayloadStatus::State;
using CState = ControlStatus::State;

constexpr double kSampledAt = 1767225600.5;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

SensorsPayload samplePayload() {
    return {.thermal = ThermalReading{.cpuTemperatureC = 48.5},
            .fan = FanReading{.rpm = 1320, .fanCount = 1},
            .sampledAt = kSampledAt,
            .helperVersion = "1.4.0"};
}

using PayloadStatusTest = test::TempHome;

using Arrange = std::function<void(const fs::path& file)>;
Arrange content(std::string text) {
    return [text](const fs::path& file) { writeBytes(file, text); };
}
const Arrange kNothing = [](const fs::path&) {};
const Arrange kDirectory = [](const fs::path& file) { fs::create_directories(file); };

TEST_F(PayloadStatusTest, EachWayOfHavingNoPayloadIsToldApartAndAgreesWithRead) {
    const std::string valid = *encodeJSON(samplePayload());
    const struct {
        const char* name;
        Arrange arrange;
        double now;
        PState expected;
    } cases[] = {
        {"no container directory", kNothing, kSampledAt, PState::missing},
        {"container without the file",
         [](const fs::path& file) { fs::create_directories(file.parent_path()); }, kSampledAt,
         PState::missing},
        {"empty file", content(""), kSampledAt, PState::invalid},
        {"truncated", content(valid.substr(0, 20)), kSampledAt, PState::invalid},
        {"object without sampledAt", content("{}"), kSampledAt, PState::invalid},
        {"a directory", kDirectory, kSampledAt, PState::unreadable},
        {"a FIFO",
         [](const fs::path& file) {
             fs::create_directories(file.parent_path());
             ASSERT_EQ(::mkfifo(file.c_str(), 0644), 0);
         },
         kSampledAt, PState::unreadable},
        {"larger than 1 MiB", content(std::string((1 << 20) + 1, ' ')), kSampledAt,
         PState::unreadable},
        {"fresh", content(valid), kSampledAt + 0.25, PState::current},
        {"exactly staleAfter old", content(valid), kSampledAt + 6.0, PState::current},
        {"from the future", content(valid), kSampledAt - 3.0, PState::current},
        {"exactly staleAfter ahead", content(valid), kSampledAt - 6.0, PState::current},
        {"further ahead: the clock was set back", content(valid), kSampledAt - 6.5, PState::stale},
        {"a little too old", content(valid), kSampledAt + 6.5, PState::stale},
        {"NaN now", content(valid), kNaN, PState::stale},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(home() / "Library");
        c.arrange(sensorsFile());
        const PayloadStatus status = payloadStatus(c.now);
        EXPECT_EQ(status.state, c.expected);
        EXPECT_EQ(status.file, sensorsFile());
        EXPECT_EQ(status.state == PState::current, SensorBridge::read(c.now).has_value());
        const bool decoded = c.expected == PState::current || c.expected == PState::stale;
        ASSERT_EQ(status.payload.has_value(), decoded);
        ASSERT_EQ(status.age.has_value(), decoded);
        if (decoded) {
            EXPECT_TRUE(sameBits(*status.payload, samplePayload()));
            EXPECT_TRUE(sameBits(*status.age, c.now - kSampledAt));
        }
    }
}

// A read that fails for a reason that says nothing about the file is told apart from one that
// found no file, with the errno behind each.
TEST_F(PayloadStatusTest, FailuresThatSayNothingAboutTheFileAreUnavailableNotMissing) {
    writeBytes(home() / "Library", "a regular file where a directory belongs");
    EXPECT_EQ(controlStatus().state, CState::missing);
    EXPECT_EQ(controlStatus().error, ENOTDIR);
    EXPECT_EQ(payloadStatus(kSampledAt).error, ENOTDIR);
    EXPECT_TRUE(controlStatus().isConclusive());

    // A container path too long to look up (HOME beyond PATH_MAX).
    const std::string longHome = home().string() + "/" + std::string(5000, 'h');
    setenv("HOME", longHome.c_str(), 1);
    const ControlStatus status = controlStatus();
    EXPECT_EQ(status.state, CState::unavailable);
    EXPECT_EQ(status.error, ENAMETOOLONG);
    EXPECT_FALSE(status.isConclusive());
    EXPECT_EQ(payloadStatus(kSampledAt).state, PState::unavailable);
    setenv("HOME", home().c_str(), 1);
}

TEST_F(PayloadStatusTest, ControlStatesAgreeWithReadControl) {
    const struct {
        const char* name;
        Arrange arrange;
        CState expected;
        std::optional<SensorControl> control;
    } cases[] = {
        {"missing", kNothing, CState::missing, std::nullopt},
        {"autostart only", content(R"({"autostart":true})"), CState::present,
         SensorControl{.autostart = true}},
        {"with a stop time, however old", content(R"({"autostart":false,"stopRequestedAt":1.5})"),
         CState::present, SensorControl{.autostart = false, .stopRequestedAt = 1.5}},
        {"empty object", content("{}"), CState::invalid, std::nullopt},
        {"autostart as a number", content(R"({"autostart":1})"), CState::invalid, std::nullopt},
        {"a directory", kDirectory, CState::unreadable, std::nullopt},
        {"larger than 1 MiB", content(std::string((1 << 20) + 1, ' ')), CState::unreadable,
         std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(home() / "Library");
        c.arrange(controlFile());
        const ControlStatus status = controlStatus();
        EXPECT_EQ(status.state, c.expected);
        EXPECT_EQ(status.file, controlFile());
        ASSERT_EQ(status.control.has_value(), c.control.has_value());
        if (c.control) {
            EXPECT_TRUE(sameBits(*status.control, *c.control));
        }
        EXPECT_EQ(status.state == CState::present, SensorBridge::readControl().has_value());
    }
}

}  // namespace
}  // namespace tessly
