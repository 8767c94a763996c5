// The commands in-process against a scratch HOME with a manual clock: golden output, every exit
// status, the ways of having no payload, and control round trips.

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <tuple>

#include <nlohmann/json.hpp>

#include "cli/PayloadText.h"
#include "cli/Prometheus.h"
#include "cli/tests/CliTestSupport.h"

namespace tessly::cli {
namespace {

using tessly::testing::readFile;
using tessly::testing::writeFile;
using testing::fullPayload;
using testing::kContainerText;
using testing::kNewYear;
namespace fs = std::filesystem;

class Commands : public testing::CliTest {};

// ---- read --------------------------------------------------------------------------------------

TEST_F(Commands, ReadPrintsTheCurrentPayloadForPeopleAndAsTheFilesJSON) {
    SensorBridge::write(fullPayload(kNewYear - 0.5));
    const auto human = run({"read"});
    EXPECT_EQ(human.status, 0);
    EXPECT_EQ(human.err, "");
    EXPECT_EQ(human.out, payloadText(fullPayload(kNewYear - 0.5), kNewYear));
    const auto json = run({"read", "--json"});
    EXPECT_EQ(json.status, 0);
    EXPECT_EQ(json.out, *encodeJSON(fullPayload(kNewYear - 0.5)) + "\n");
}

TEST_F(Commands, WithoutACurrentPayloadReadSaysWhyOnStderrAndFails) {
    const std::string file = std::string(kContainerText) + "sensors.json";
    const std::tuple<const char*, std::function<void()>, std::string> cases[] = {
        {"missing", [] {}, file + " does not exist (is the agent running?)"},
        {"invalid", [&] { writeFile(sensorsFile(), R"({"sampledAt":"yesterday"})"); },
         file + " does not hold a valid payload"},
        {"a directory", [&] { fs::create_directories(sensorsFile()); },
         file + " cannot be read (it must be a regular file of at most 1 MiB)"},
        {"stale", [] { SensorBridge::write(fullPayload(kNewYear - 42.25)); },
         "the last payload, in " + file +
             ", is 42.2 s old; payloads older than 6 s count as absent (has the agent stopped?)"},
        // A dead agent's last payload after the clock was set back an hour.
        {"far in the future", [] { SensorBridge::write(fullPayload(kNewYear + 3600)); },
         "the last payload, in " + file +
             ", is stamped 1 h 0 min in the future; payloads more than 6 s ahead count as "
             "absent (was the clock set back?)"},
        {"below a regular file", [&] { writeFile(home / "Library", "a file"); },
         "~/Library is not a directory, so there can be no " + file},
    };
    for (const auto& [name, arrange, why] : cases) {
        SCOPED_TRACE(name);
        fs::remove_all(home / "Library");
        arrange();
        for (const auto& args : {std::vector<std::string>{"read"}, {"read", "--json"}}) {
            const auto outcome = run(args);
            EXPECT_EQ(outcome.status, 1);
            EXPECT_EQ(outcome.out, "");
            EXPECT_EQ(withoutHome(outcome.err), "tessly: no current payload: " + why + "\n");
        }
    }
}

// ---- the command line ----------------------------------------------------------------------

TEST_F(Commands, BadArgumentsGetAHintAndStatusTwo) {
    // The arguments and the command whose help the hint names.
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, ""},
        {{"read", "--bogus"}, "read "},
        {{"watch", "--interval", "0"}, "watch "},
        {{"watch", "--interval", "nan"}, "watch "},
        {{"control"}, "control "},
        {{"control", "autostart"}, "control autostart "},
        {{"control", "autostart", "maybe"}, "control autostart "},
        {{"control", "stop", "now"}, "control stop "},
        {{"sensors", "--sysfs"}, "sensors "},
        {{"simulate", "toaster"}, "simulate "},
        {{"export", "--format", "json"}, "export "},
    };
    for (const auto& [args, command] : cases) {
        const auto outcome = run(args);
        SCOPED_TRACE(::testing::PrintToString(args));
        EXPECT_EQ(outcome.status, 2);
        EXPECT_EQ(outcome.out, "");
        EXPECT_TRUE(outcome.err.starts_with("tessly: ")) << outcome.err;
        EXPECT_TRUE(outcome.err.ends_with("Run 'tessly " + command + "--help' for usage.\n"))
            << outcome.err;
    }
    EXPECT_FALSE(fs::exists(home / "Library"));  // nothing was done
}

TEST_F(Commands, HelpOnEveryCommandAndTheVersion) {
    for (const auto& command : {"read", "watch", "control", "sensors", "simulate", "export"}) {
        const auto outcome = run({command, "--help"});
        EXPECT_EQ(outcome.status, 0) << command;
        EXPECT_NE(outcome.out.find(std::string("Usage: tessly ") + command), std::string::npos)
            << outcome.out;
    }
    EXPECT_NE(run({"control", "stop", "--help"}).out.find("Usage: tessly control stop"),
              std::string::npos);
    EXPECT_NE(run({"watch", "--help"}).out.find("--interval"), std::string::npos);
    EXPECT_EQ(run({"--help"}).status, 0);

    const auto version = run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "tessly " + std::string(versionText()) + "\n");
}

// ---- control -------------------------------------------------------------------------------

TEST_F(Commands, ControlRoundTripsKeepWhatTheyDoNotChange) {
    auto shown = run({"control", "show"});
    EXPECT_EQ(shown.status, 1);
    EXPECT_EQ(withoutHome(shown.out),
              "No control record: ~/Library/Group Containers/group.app.tessly.sensors/"
              "control.json does not exist. An agent then unregisters its login item and runs "
              "until it is stopped.\n");

    auto changed = run({"control", "autostart", "on"});
    EXPECT_EQ(changed.status, 0);
    EXPECT_EQ(changed.out,
              "Autostart on: a running agent registers itself as a login item on its next "
              "tick.\n");
    EXPECT_EQ(readFile(controlFile()), R"({"autostart":true})");

    clock.setWall(kNewYear + 0.25);
    const auto stopped = run({"control", "stop"});
    EXPECT_EQ(stopped.status, 0);
    EXPECT_EQ(readFile(controlFile()), R"({"autostart":true,"stopRequestedAt":1767225600.25})");

    clock.setWall(kNewYear + 12.25);
    shown = run({"control", "show"});
    EXPECT_EQ(shown.status, 0);
    EXPECT_EQ(withoutHome(shown.out),
              "Autostart    on (the agent keeps itself registered as a login item)\n"
              "Stop request 2026-01-01T00:00:00.250Z, 12.0 s ago (agents launched before it "
              "stop)\n"
              "File         ~/Library/Group Containers/group.app.tessly.sensors/control.json\n");

    EXPECT_EQ(run({"control", "autostart", "off"}).status, 0);
    EXPECT_EQ(readFile(controlFile()), R"({"autostart":false,"stopRequestedAt":1767225600.25})");
    EXPECT_EQ(run({"control", "show"}).out.substr(0, 58),
              "Autostart    off (the agent keeps itself unregistered)\nSto");
}

TEST_F(Commands, AnInvalidControlFileIsReportedAndReplacedByTheNewWish) {
    writeFile(controlFile(), R"({"autostart":"yes"})");
    const auto shown = run({"control", "show"});
    EXPECT_EQ(shown.status, 1);
    EXPECT_EQ(withoutHome(shown.err),
              "tessly: ~/Library/Group Containers/group.app.tessly.sensors/control.json does not "
              "hold a valid control record\n");

    const auto changed = run({"control", "autostart", "off"});
    EXPECT_EQ(changed.status, 0);
    EXPECT_NE(changed.err.find("which does not hold a valid control record"), std::string::npos);
    EXPECT_EQ(readFile(controlFile()), R"({"autostart":false})");
}

TEST_F(Commands, AControlFileThatCannotBeWrittenFailsTheCommand) {
    // A regular file where the container directory should be.
    writeFile(container(), "not a directory");
    const auto outcome = run({"control", "autostart", "on"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(withoutHome(outcome.err),
              "tessly: cannot write the control record to ~/Library/Group "
              "Containers/group.app.tessly.sensors/control.json: ~/Library/Group "
              "Containers/group.app.tessly.sensors is not a directory\n");
    EXPECT_EQ(run({"control", "stop"}).status, 1);
}

TEST_F(Commands, StopWithNoAgentPublishingAnswersAtOnce) {
    int pauses = 0;
    duringPause = [&] { ++pauses; };
    const auto outcome = run({"control", "stop"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(pauses, 0);
    EXPECT_EQ(withoutHome(outcome.out),
              "Stop requested at 2026-01-01T00:00:00.000Z.\n"
              "No agent was publishing: ~/Library/Group Containers/group.app.tessly.sensors/"
              "sensors.json does not exist (is the agent running?).\n"
              "The request stands for every agent launched before it.\n");
    EXPECT_EQ(readFile(controlFile()), R"({"autostart":false,"stopRequestedAt":1767225600})");
}

TEST_F(Commands, StopWatchesThePayloadForThreeSeconds) {
    // An agent that obeys: the tick under way publishes once more, then nothing.
    SensorBridge::write(fullPayload(kNewYear - 0.4));
    bool tickUnderWay = true;
    duringPause = [&] {
        if (tickUnderWay) SensorBridge::write(fullPayload(clock.wallNow()));
        tickUnderWay = false;
    };
    auto outcome = run({"control", "stop"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out,
              "Stop requested at 2026-01-01T00:00:00.000Z.\n"
              "The agent stopped publishing: its last sample was taken 0.1 s after the request.\n");
    EXPECT_GE(clock.wallNow(), kNewYear + 3.0);
    EXPECT_LT(clock.wallNow(), kNewYear + 3.2);

    // An agent that keeps publishing (launched after the request, say) is reported at once.
    SensorBridge::write(fullPayload(clock.wallNow() - 0.2));
    const double requested = clock.wallNow();
    duringPause = [&] { SensorBridge::write(fullPayload(clock.wallNow() + 0.03)); };
    outcome = run({"control", "stop"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err,
              "tessly: the payload is still being refreshed (a sample 1.5 s after the request): "
              "an agent launched after the request, or one that cannot read control.json, keeps "
              "publishing\n");
    EXPECT_LT(clock.wallNow(), requested + 1.6);
}

// ---- export --------------------------------------------------------------------------------

TEST_F(Commands, ExportPrintsOrAtomicallyReplacesTheMetricsFile) {
    SensorBridge::write(fullPayload(kNewYear - 0.5));
    const std::string expected = prometheusText(fullPayload(kNewYear - 0.5), kNewYear);

    const auto printed = run({"export", "--format", "prometheus"});
    EXPECT_EQ(printed.status, 0);
    EXPECT_EQ(printed.out, expected);

    const fs::path metrics = scratch / "textfile" / "tessly.prom";
    fs::create_directories(metrics.parent_path());
    writeFile(metrics, "old content\n");
    const auto written = run({"export", "--format", "prometheus", "--output", metrics.string()});
    EXPECT_EQ(written.status, 0);
    EXPECT_EQ(written.out, "");
    EXPECT_EQ(readFile(metrics), expected);
    EXPECT_EQ(std::distance(fs::directory_iterator(metrics.parent_path()), {}), 1);

    // Once the payload is stale the readings vanish from the file rather than linger.
    clock.advance(60);
    const auto stale = run({"export", "--format", "prometheus", "--output", metrics.string()});
    EXPECT_EQ(stale.status, 1);
    EXPECT_NE(stale.err.find("is 1 min 0 s old"), std::string::npos) << stale.err;
    EXPECT_EQ(readFile(metrics), "");
    EXPECT_EQ(run({"export", "--format", "prometheus"}).out, "");

    const auto nowhere = run({"export", "--format", "prometheus", "--output",
                              (scratch / "missing" / "tessly.prom").string()});
    EXPECT_EQ(nowhere.status, 1);
    EXPECT_NE(nowhere.err.find("cannot write"), std::string::npos);

    // A payload from beyond the clock's tolerance is no payload: no values, no age metric.
    SensorBridge::write(fullPayload(clock.wallNow() + 3600));
    const auto future = run({"export", "--format", "prometheus", "--output", "-"});
    EXPECT_EQ(future.status, 1);
    EXPECT_EQ(future.out, "");
}

// Only a regular file (or a link to one, which the new file replaces) or a missing path is
// replaced; anything else is refused and left exactly as it was.
TEST_F(Commands, ExportReplacesOnlyARegularFileOrNothing) {
    SensorBridge::write(fullPayload(kNewYear - 0.5));
    const std::string expected = prometheusText(fullPayload(kNewYear - 0.5), kNewYear);
    const fs::path at = scratch / "out";
    fs::create_directories(at);
    writeFile(at / "target.prom", "target\n");
    ASSERT_EQ(::mkfifo((at / "fifo").c_str(), 0600), 0);
    const int listening = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = (at / "socket").string();
    socketPath.copy(address.sun_path, std::min(socketPath.size(), sizeof address.sun_path - 1));
    ASSERT_EQ(::bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(listening);
    fs::create_directories(at / "directory");
    fs::create_symlink(at / "fifo", at / "link-to-fifo");
    fs::create_symlink(at / "directory", at / "link-to-directory");
    fs::create_symlink(at / "nowhere", at / "dangling");
    fs::create_symlink(at / "target.prom", at / "link-to-file");
    std::vector<std::string> refused{
        "fifo", "socket", "directory", "link-to-fifo", "link-to-directory", "dangling"};
    // The null device's twin, where the test may make one (as root).
    if (::mknod((at / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        refused.emplace_back("null");
    }

    for (const auto& name : refused) {
        SCOPED_TRACE(name);
        struct stat before {};
        ASSERT_EQ(::lstat((at / name).c_str(), &before), 0);
        const auto outcome =
            run({"export", "--format", "prometheus", "--output", (at / name).string()});
        EXPECT_EQ(outcome.status, 1);
        EXPECT_TRUE(outcome.err.starts_with("tessly: not replacing ")) << outcome.err;
        struct stat after {};
        ASSERT_EQ(::lstat((at / name).c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_mode, before.st_mode);
    }
    for (const char* name : {"target.prom", "new.prom", "link-to-file"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(
            run({"export", "--format", "prometheus", "--output", (at / name).string()}).status, 0);
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(at / name)));
        EXPECT_EQ(readFile(at / name), expected);
    }
    const auto dash = run({"export", "--format", "prometheus", "--output", "-"});
    EXPECT_EQ(dash.out, expected);
    EXPECT_FALSE(fs::exists("-"));
}

// ---- simulate ------------------------------------------------------------------------------

TEST_F(Commands, SimulateListsItsMachines) {
    const auto listed = run({"simulate", "--list"});
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.out.substr(0, 44), "apple-silicon-laptop  Apple Silicon laptop, ");
    for (const char* name : {"fanless-laptop", "intel-desktop", "broken-sensors"}) {
        EXPECT_NE(listed.out.find(std::string("\n") + name + " "), std::string::npos) << name;
    }
    EXPECT_NE(listed.out.find("(the default)"), std::string::npos);
}

TEST_F(Commands, SimulateRefusesWhileFreshPayloadsArePublishedUnlessForced) {
    SensorBridge::write(fullPayload(kNewYear - 0.5));
    const auto refused = run({"simulate"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.err.starts_with(
        "tessly: fresh payloads are being published already (the last one is 0.5 s old)"))
        << refused.err;
    EXPECT_TRUE(host.timers.empty());
    EXPECT_EQ(SensorBridge::read(kNewYear)->helperVersion, "1.4.0");

    // The hand-fired host launches the agent and returns.
    const auto forced = run({"simulate", "fanless-laptop", "--force"});
    EXPECT_EQ(forced.status, 0);
    EXPECT_EQ(host.timers.size(), 1u);
    const auto payload = SensorBridge::read(kNewYear);
    ASSERT_TRUE(payload);
    EXPECT_EQ(payload->helperVersion, std::string(versionText()) + "+sim");
    EXPECT_FALSE(payload->fan);
    EXPECT_EQ(withoutHome(forced.err),
              "tessly simulate: fanless-laptop publishing to ~/Library/Group "
              "Containers/group.app.tessly.sensors/sensors.json every second; Ctrl-C or 'tessly "
              "control stop' ends it\n"
              "tessly simulate: the agent would unregister its login item now (a simulation "
              "leaves the real login item alone)\n");
}

// ---- what comes from outside ----------------------------------------------------------------

// Whether `text` may reach a terminal: valid UTF-8 without C0 controls but the line feed, DEL,
// or C1 controls.
bool isTerminalSafe(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if ((byte < 0x20 && byte != '\n') || byte == 0x7F) return false;
        if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
            return false;
        }
    }
    try {
        (void)nlohmann::json(std::string(text)).dump();  // throws on invalid UTF-8
        return true;
    } catch (const nlohmann::json::type_error&) {
        return false;
    }
}

TEST_F(Commands, TextFromFilesAndTheSystemReachesTheTerminalEscaped) {
    const std::string hostile = "\x1b]0;owned\a\x1b[2J\r\xc2\x9b\x7f";
    // A HOME whose path holds control characters, and a payload whose version does.
    const fs::path oddHome = scratch / ("home" + hostile);
    tessly::testing::ScopedEnv oddHomeVar{"HOME", oddHome.string()};
    SensorsPayload payload = fullPayload(kNewYear - 0.5);
    payload.helperVersion = "1.0" + hostile;
    SensorBridge::write(payload);
    SensorBridge::writeControl({.autostart = true, .stopRequestedAt = kNewYear - 10});

    const std::vector<std::vector<std::string>> commands{
        {"read"},
        {"control", "show"},
        {"simulate", "--force"},
        {"read", "--bogus" + hostile},
        {"sensors", "--sysfs", "/nonexistent" + hostile}};
    for (const auto& args : commands) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const auto outcome = run(args);
        EXPECT_TRUE(isTerminalSafe(outcome.out)) << ::testing::PrintToString(outcome.out);
        EXPECT_TRUE(isTerminalSafe(outcome.err)) << ::testing::PrintToString(outcome.err);
        EXPECT_NE((outcome.out + outcome.err).find("\\x1b]0;owned\\x07"), std::string::npos)
            << ::testing::PrintToString(outcome.out + outcome.err);
    }
    // The diagnostics of a stale payload and of a missing control file name the path escaped.
    clock.advance(60);
    fs::remove(oddHome / "Library/Group Containers/group.app.tessly.sensors/control.json");
    for (const auto& args : commands) {
        const auto outcome = run(args);
        EXPECT_TRUE(isTerminalSafe(outcome.out + outcome.err)) << ::testing::PrintToString(args);
    }
}

TEST_F(Commands, AContainerBelowARegularFileIsSaidToBeNoDirectory) {
    writeFile(home / "Library", "a file");
    const std::string blocked = "~/Library is not a directory";
    for (const auto& args : std::vector<std::vector<std::string>>{{"read"},
                                                                  {"control", "show"},
                                                                  {"control", "autostart", "on"},
                                                                  {"control", "stop"},
                                                                  {"simulate"}}) {
        const auto outcome = run(args);
        EXPECT_EQ(outcome.status, 1) << ::testing::PrintToString(args);
        EXPECT_NE(withoutHome(outcome.err).find(blocked), std::string::npos)
            << ::testing::PrintToString(args) << outcome.err;
    }
}

// ---- sensors -------------------------------------------------------------------------------

#ifdef __linux__
TEST_F(Commands, SensorsReportsEveryFileOfAnotherMachinesSysfs) {
    const fs::path sys = scratch / "sys";
    writeFile(sys / "class/hwmon/hwmon0/name", "coretemp\n");
    writeFile(sys / "class/hwmon/hwmon0/temp1_label", "Package id 0\n");
    writeFile(sys / "class/hwmon/hwmon0/temp1_input", "45000\n");
    writeFile(sys / "class/hwmon/hwmon1/name", "thinkpad\n");
    writeFile(sys / "class/hwmon/hwmon1/fan1_input", "2100\n");
    writeFile(sys / "class/hwmon/hwmon2/name", "acpitz\n");
    writeFile(sys / "class/hwmon/hwmon2/temp1_input", "27800\n");

    const auto table = run({"sensors", "--sysfs", sys.string() + "/"});
    EXPECT_EQ(table.status, 0) << table.err;
    const std::string root = sys.string();
    const auto row = [&](std::string_view text) {
        return table.out.find(text) != std::string::npos;
    };
    EXPECT_TRUE(table.out.starts_with("SENSOR FILE")) << table.out;
    EXPECT_TRUE(row(root + "/class/hwmon/hwmon0/temp1_input  coretemp  Package id 0  45.0 °C   "
                           "cpuTemperatureC\n"))
        << table.out;
    EXPECT_TRUE(row(root + "/class/hwmon/hwmon1/fan1_input   thinkpad  fan1          2100 rpm  "
                           "F0Ac\n"))
        << table.out;
    EXPECT_TRUE(row("  acpitz    temp1         27.8 °C   ignored: ")) << table.out;

    const auto json = run({"sensors", "--json", "--sysfs", root});
    EXPECT_EQ(json.status, 0);
    EXPECT_NE(json.out.find("\"path\": \"" + root + "/class/hwmon/hwmon0/temp1_input\""),
              std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("\"feeds\": \"F0Ac\""), std::string::npos);
    EXPECT_NE(json.out.find("\"value\": 2100.0"), std::string::npos) << json.out;

    const auto missing = run({"sensors", "--sysfs", (scratch / "nothing").string()});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("is not a directory"), std::string::npos);

    const auto slash = run({"sensors", "--sysfs", "/"});
    EXPECT_EQ(slash.out, "No sensor files under /class/hwmon or /class/power_supply.\n");
}

// A copy of /sys handed in by someone else: nothing outside it is read or printed, nothing but
// regular files is opened, and its names reach the terminal escaped.
TEST_F(Commands, SensorsStaysInsideTheTreeItIsGiven) {
    const fs::path sys = scratch / "sys";
    writeFile(scratch / "outside/name", "SECRET\n");
    writeFile(scratch / "outside/temp1_input", "12345\n");
    writeFile(sys / "class/hwmon/hwmon0/name", "core\x1b[2Jtemp\n");
    writeFile(sys / "class/hwmon/hwmon0/temp1_label", "Package\a\n");
    writeFile(sys / "class/hwmon/hwmon0/temp1_input", "45000\n");
    ASSERT_EQ(::mkfifo((sys / "class/hwmon/hwmon0/temp2_input").c_str(), 0600), 0);
    fs::create_symlink(scratch / "outside", sys / "class/hwmon/hwmon1");
    fs::create_symlink("../../../outside", sys / "class/hwmon/hwmon2");
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"sensors", "--sysfs", sys.string()},
                                               {"sensors", "--json", "--sysfs", sys.string()}}) {
        const auto outcome = run(args);
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.out.find("SECRET"), std::string::npos) << outcome.out;
        EXPECT_EQ(outcome.out.find("12.3"), std::string::npos) << outcome.out;
        EXPECT_TRUE(isTerminalSafe(outcome.out)) << outcome.out;
        EXPECT_NE(outcome.out.find("not a regular file"), std::string::npos) << outcome.out;
    }
}
#endif

}  // namespace
}  // namespace tessly::cli
