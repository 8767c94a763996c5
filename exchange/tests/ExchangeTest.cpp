// The file exchange against a scratch HOME: where the container is, what a write leaves, which
// files read as what, and how old a payload may be.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <TesslyKit/TesslyKit.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <limits>

#include "ContainerFiles.h"
#include "testing/FailingAllocation.h"
#include "testing/Scratch.h"

namespace tessly::testing {
namespace {

using PState = PayloadStatus::State;
using CState = ControlStatus::State;
constexpr double sampledAt = 1767225600.5;
constexpr double inf = std::numeric_limits<double>::infinity();

class ExchangeTest : public ::testing::Test, protected ScratchHome {};

// The payload in memory ($XDG_RUNTIME_DIR/tessly) only where that is a directory of this user's
// closed to others; else on disk beside control.json ($XDG_STATE_HOME/tessly, by default
// ~/.local/state/tessly), saying why.
TEST_F(ExchangeTest, EachFileLivesWhereTheXdgBaseDirectoriesPutItsKind) {
    EXPECT_EQ(SharedContainer::directory(), container());
    EXPECT_EQ(SharedContainer::controlDirectory(), controlDirectory());
    EXPECT_EQ(SharedContainer::payloadOnDisk(), std::nullopt);

    const fs::path open = dir / "open", file = dir / "file";
    fs::create_directories(open);
    fs::permissions(open, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
    writeFile(file, "");
    const std::pair<std::optional<std::string>, std::string> unfit[] = {
        {std::nullopt, "XDG_RUNTIME_DIR is not set to an absolute path"},
        {"run", "XDG_RUNTIME_DIR is not set to an absolute path"},
        {(dir / "missing").string(),
         "XDG_RUNTIME_DIR (" + (dir / "missing").string() + ") is not a directory"},
        {file.string(), "XDG_RUNTIME_DIR (" + file.string() + ") is not a directory"},
        {open.string(),
         "XDG_RUNTIME_DIR (" + open.string() + ") is not this user's with mode 0700"},
    };
    for (const auto& [value, why] : unfit) {
        ScopedEnv variable("XDG_RUNTIME_DIR", value);
        EXPECT_EQ(SharedContainer::directory(), controlDirectory());
        EXPECT_EQ(SharedContainer::payloadOnDisk(), why);
    }
    EXPECT_EQ(SharedContainer::directory(), container());

    ScopedEnv noState("XDG_STATE_HOME", std::nullopt);
    EXPECT_EQ(SharedContainer::controlDirectory(), home / ".local/state/tessly");
    for (const char* odd : {static_cast<const char*>(nullptr), "", "relative/home"}) {
        ScopedEnv oddHome("HOME", odd ? std::optional<std::string>(odd) : std::nullopt);
        // The passwd entry's home; a user without one has no control file.
        if (const auto directory = SharedContainer::controlDirectory()) {
            EXPECT_TRUE(directory->is_absolute());
            EXPECT_TRUE(directory->string().ends_with("/.local/state/tessly"));
        }
    }
}

// A write creates the container and replaces the whole file; interrupted writes leave
// temporaries of one pattern, and the sweep removes only old ones of the file it is given.
TEST_F(ExchangeTest, WritesReplaceWholeFilesAndTheSweepRemovesOnlyOldTemporaries) {
    const SensorsPayload first{.sampledAt = sampledAt, .helperVersion = std::string(500, 'v')};
    SensorBridge::write(first);
    EXPECT_EQ(readFile(sensorsFile()), encodeJSON(first));
    SensorBridge::write({.sampledAt = sampledAt + 1});
    EXPECT_EQ(readFile(sensorsFile()), R"({"sampledAt":1767225601.5})");
    SensorBridge::writeControl({.autostart = true, .stopRequestedAt = 1.5});  // of any age
    EXPECT_EQ(SensorBridge::readControl()->stopRequestedAt, 1.5);
    EXPECT_EQ(std::distance(fs::directory_iterator(container()), {}), 1);  // nothing beside them
    EXPECT_EQ(std::distance(fs::directory_iterator(controlDirectory()), {}), 1);

    // A payload that cannot be encoded writes nothing; a write that cannot complete (a
    // directory squats on the temporary's rename target) keeps the previous file and leaves no
    // temporary behind.
    SensorBridge::write({.sampledAt = std::nan("")});
    EXPECT_EQ(readFile(sensorsFile()), R"({"sampledAt":1767225601.5})");
    fs::remove(controlFile());
    fs::create_directories(controlFile() / "squatter");
    SensorBridge::writeControl({.autostart = true});
    EXPECT_TRUE(fs::is_directory(controlFile()));
    EXPECT_EQ(std::distance(fs::directory_iterator(controlDirectory()), {}), 1);

    const std::string name = detail::temporaryName("sensors.json");
    EXPECT_TRUE(detail::isTemporaryName(name, "sensors.json"));
    EXPECT_FALSE(detail::isTemporaryName(name, "control.json"));
    EXPECT_NE(name, detail::temporaryName("sensors.json"));
    const std::vector<std::string> files{name, detail::temporaryName("sensors.json"),
                                         detail::temporaryName("control.json"),
                                         ".sensors.json.tmp.short", "sensors.json"};
    for (const auto& file : files)
        writeFile(container() / file, "x");
    const auto hourAgo = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (std::size_t i : {0u, 2u, 3u})
        fs::last_write_time(container() / files[i], hourAgo);

    EXPECT_EQ(SharedContainer::removeStaleTemporaries("sensors.json", 60), 1u);
    for (std::size_t i = 0; i < files.size(); ++i)
        EXPECT_EQ(fs::exists(container() / files[i]), i != 0) << files[i];
    EXPECT_EQ(SharedContainer::removeStaleTemporaries("../x", 60), 0u);
}

// A payload counts at most staleAfter old and at most staleAfter ahead: further ahead it was
// stamped before the clock was set back. Every reader judges alike.
TEST_F(ExchangeTest, APayloadIsCurrentWithinStaleAfterEitherWay) {
    SensorBridge::write({.sampledAt = sampledAt});
    const std::pair<double, bool> nows[] = {
        {sampledAt, true},          {sampledAt + 6.0, true},
        {sampledAt - 6.0, true},    {std::nextafter(sampledAt + 6.0, inf), false},
        {sampledAt - 6.001, false}, {sampledAt + 3600, false},
        {sampledAt - 3600, false},  {std::nan(""), false}};
    for (const auto& [now, current] : nows) {
        EXPECT_EQ(isCurrentAge(now - sampledAt), current) << std::fixed << now;
        EXPECT_EQ(SensorBridge::read(now).has_value(), current) << std::fixed << now;
        EXPECT_EQ(payloadStatus(now).state, current ? PState::current : PState::stale)
            << std::fixed << now;
    }
}

// Each way of having no record is told apart, the errno kept where one was met, and a record
// is found exactly where SensorBridge yields one.
TEST_F(ExchangeTest, EachWayOfHavingNoRecordIsToldApart) {
    const auto content = [](std::string text) {
        return [text](const fs::path& file) { writeFile(file, text); };
    };
    const struct {
        const char* name;
        std::function<void(const fs::path&)> arrange;
        PState payload;
        CState control;
        int error;
    } cases[] = {
        {"no container", [](const fs::path&) {}, PState::missing, CState::missing, ENOENT},
        {"empty", content(""), PState::invalid, CState::invalid, 0},
        {"truncated", content(R"({"sampledAt":1,"autostart":)"), PState::invalid, CState::invalid,
         0},
        {"valid", content(R"({"sampledAt":1767225600.5,"autostart":true})"), PState::current,
         CState::present, 0},
        {"a directory", [](const fs::path& file) { fs::create_directories(file); },
         PState::unreadable, CState::unreadable, 0},
        {"a FIFO",
         [](const fs::path& file) {
             fs::create_directories(file.parent_path());
             ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
         },
         PState::unreadable, CState::unreadable, 0},
        {"over 1 MiB", content(std::string((1 << 20) + 1, ' ')), PState::unreadable,
         CState::unreadable, 0},
        {"below a regular file",
         [](const fs::path& file) { writeFile(file.parent_path(), "a file"); }, PState::missing,
         CState::missing, ENOTDIR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(container());
        fs::remove_all(controlDirectory());
        c.arrange(sensorsFile());
        c.arrange(controlFile());
        const PayloadStatus payload = payloadStatus(sampledAt);
        const ControlStatus control = controlStatus();
        EXPECT_EQ(payload.state, c.payload);
        EXPECT_EQ(control.state, c.control);
        EXPECT_EQ(control.error, c.error);
        EXPECT_TRUE(control.isConclusive());
        EXPECT_EQ(payload.file, sensorsFile());
        EXPECT_EQ(payload.payload.has_value(), c.payload == PState::current);
        EXPECT_EQ(SensorBridge::read(sampledAt).has_value(), c.payload == PState::current);
        EXPECT_EQ(SensorBridge::readControl().has_value(), c.control == CState::present);
    }
    // A read that fails for a reason that says nothing about the file (here a path too long to
    // look up) is no statement that there is no record.
    const std::string tooLong = home.string() + "/" + std::string(5000, 'h');
    ScopedEnv longState("XDG_STATE_HOME", tooLong), longRuntime("XDG_RUNTIME_DIR", tooLong);
    EXPECT_EQ(controlStatus().state, CState::unavailable);
    EXPECT_EQ(controlStatus().error, ENAMETOOLONG);
    EXPECT_FALSE(controlStatus().isConclusive());
    EXPECT_EQ(payloadStatus(sampledAt).state, PState::unavailable);
}

// A main application links TesslyKit: whichever allocation of a public call fails, the call gives
// the answer it gives for any other failure and throws nothing, the files stay whole, and the
// next call works. (Decoding is swept over "{}" alone: destroying a document with members
// allocates in nlohmann's library, so a failure there would end the process.)
TEST_F(ExchangeTest, EveryPublicCallLivesThroughAFailedAllocation) {
    enum Answer { success, failure, other, none };  // none: the call answers nothing
    using Calls = std::vector<std::pair<const char*, std::function<Answer()>>>;
    const ScopedEnv payloadOnDisk("XDG_RUNTIME_DIR", std::nullopt);  // so payloadOnDisk() says why
    const fs::path directory = controlDirectory();
    const fs::path files[] = {directory / "sensors.json", controlFile()};
    const std::string temporary = detail::temporaryName("sensors.json");
    // Each run looks the places up anew: HOME names the same directory another way each time.
    const std::string homes[] = {home.string(), home.string() + "/"};
    std::size_t run = 0;
    const auto sweep = [&](const Calls& calls) {
        const std::string before[] = {readFile(files[0]), readFile(files[1])};
        for (const auto& [name, call] : calls) {
            writeFile(directory / temporary, "");
            const auto runs = [&, &call = call] {
                ::setenv("HOME", homes[++run % 2].c_str(), 1);
                return call();
            };
            const auto check = [&, name = name](Answer given, bool struck) {
                EXPECT_TRUE(given == none || given == (struck ? failure : success)) << name;
            };
            EXPECT_GT(failEachAllocation(runs, check), 0u) << name;
            for (std::size_t i = 0; i < 2; ++i)
                EXPECT_EQ(readFile(files[i]), before[i]) << name << " changed " << files[i];
        }
    };
    const auto answer = [](bool succeeded, bool failed = true) {
        return succeeded ? success : failed ? failure : other;
    };

    const SensorsPayload payload{
        .fan = FanReading{.rpm = 1200, .fanCount = 2, .rpms = std::vector{1100.0, 1200.0}},
        .sampledAt = sampledAt};
    SensorBridge::write(payload);
    SensorBridge::writeControl({.autostart = true});
    using WriteState = SensorBridge::WriteOutcome::State;
    sweep({
        {"writeReporting",
         [&] {
             // The encoder answers a failed allocation as it answers a non-finite number.
             const auto outcome = SensorBridge::writeReporting(payload);
             return answer(outcome.state == WriteState::written,
                           outcome.error == ENOMEM || outcome.state == WriteState::notEncodable);
         }},
        {"writeControl", [&] { return SensorBridge::writeControl({.autostart = true}), none; }},
        {"directory", [&] { return answer(SharedContainer::directory().has_value()); }},
        {"payloadOnDisk", [&] { return answer(SharedContainer::payloadOnDisk().has_value()); }},
        {"lookUpControlDirectory",
         [&] { return answer(SharedContainer::lookUpControlDirectory() != nullptr); }},
        {"removeStaleTemporaries",
         [&] { return answer(SharedContainer::removeStaleTemporaries("sensors.json", 0) == 1); }},
        {"replaceFileAtomically",
         [&] {
             const bool replaced = replaceFileAtomically(directory, "x", "y", Durability::synced);
             return answer(replaced, errno == ENOMEM);
         }},
        {"perFanRPMs",
         [&] {
             const auto rpms = payload.fan->perFanRPMs();
             return answer(rpms.size() == 2, rpms.empty());
         }},
        {"encodeJSON", [&] { return answer(encodeJSON(payload).has_value()); }},
    });
    EXPECT_EQ(SensorBridge::read(sampledAt)->fan, payload.fan);
    EXPECT_TRUE(SensorBridge::readControl()->autostart);

    // With no file, and with "{}" (no record: invalid), running out of memory while the file is
    // read or decoded leaves it unknown (unavailable), never missing or invalid: an agent would
    // take that for "no autostart".
    const auto judged = [&](const auto& status, auto expected) {
        return answer(status.state == expected,
                      status.state == decltype(expected)::unavailable && status.error == ENOMEM);
    };
    for (const bool present : {false, true}) {
        for (const fs::path& file : files)
            present ? writeFile(file, "{}") : void(fs::remove(file));
        sweep({{"payloadStatus",
                [&] {
                    return judged(payloadStatus(sampledAt),
                                  present ? PState::invalid : PState::missing);
                }},
               {"controlStatus", [&] {
                    return judged(controlStatus(), present ? CState::invalid : CState::missing);
                }}});
    }
}

}  // namespace
}  // namespace tessly::testing
