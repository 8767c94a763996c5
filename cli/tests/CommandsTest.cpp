// The commands in-process against a scratch HOME with a manual clock: golden output, every exit
// status, the ways of having no payload, and control round trips.

#include <sys/stat.h>

#include <tuple>

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
}
#endif

}  // namespace
}  // namespace tessly::cli
