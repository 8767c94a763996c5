// The commands in-process against a scratch HOME with a manual clock: golden output, every exit
// status, the ways of having no payload, control round trips, the simulation, and what the
// commands make of hostile files and paths.

#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <cstdlib>

#include "CliTestSupport.h"
#include "agent/PublisherLock.h"
#include "cli/Format.h"
#include "cli/MetricsServer.h"
#include "cli/PayloadText.h"
#include "cli/Prometheus.h"
#include "cli/Simulation.h"
#include "cli/WatchView.h"

namespace tessly::cli::testing {
namespace {

using Args = std::vector<std::string>;
class Commands : public CliTest {
  protected:
    const std::string sensorsText = sensorsFile().string();
};

TEST_F(Commands, ReadPrintsTheCurrentPayloadOrSaysWhyThereIsNone) {
    SensorBridge::write(fullPayload(kNewYear - 0.5));
    EXPECT_EQ(run({"read"}).out, payloadText(fullPayload(kNewYear - 0.5), kNewYear));
    EXPECT_EQ(run({"read", "--json"}).out, *encodeJSON(fullPayload(kNewYear - 0.5)) + "\n");

    const std::tuple<const char*, std::function<void()>, std::string> cases[] = {
        {"missing", [] {}, sensorsText + " does not exist (is the agent running?)"},
        {"invalid", [&] { writeFile(sensorsFile(), "{}"); },
         sensorsText + " does not hold a valid payload"},
        {"a directory", [&] { fs::create_directories(sensorsFile()); },
         sensorsText + " cannot be read (it must be a regular file of at most 1 MiB)"},
        {"stale", [] { SensorBridge::write(fullPayload(kNewYear - 42.25)); },
         "the last payload, in " + sensorsText +
             ", is 42.2 s old; payloads older than 6 s count as absent (has the agent stopped?)"},
        {"far in the future", [] { SensorBridge::write(fullPayload(kNewYear + 3600)); },
         "the last payload, in " + sensorsText +
             ", is stamped 1 h 0 min in the future; payloads more than 6 s ahead count as "
             "absent (was the clock set back?)"},
        {"below a regular file", [&] { writeFile(container(), "a file"); },
         container().string() + " is not a directory, so there can be no " + sensorsText},
    };
    for (const auto& [name, arrange, why] : cases) {
        SCOPED_TRACE(name);
        fs::remove_all(container());
        arrange();
        EXPECT_THAT(run({"read"}), FieldsAre(1, "", "tessly: no current payload: " + why + "\n"));
    }
}

// A payload without readings says why where this machine's sysfs holds no sensors, and what to
// do; where it holds some, the payload is shown as it is.
TEST_F(Commands, APayloadWithoutReadingsExplainsASensorlessMachine) {
    SensorBridge::write({.thermal = ThermalReading{}, .sampledAt = kNewYear});
    const std::string bare =
        payloadText({.thermal = ThermalReading{}, .sampledAt = kNewYear}, kNewYear);
    const std::string sys = (dir / "sys").string();
    writeFile(dir / "sys/class/hwmon/hwmon0/name", "acpitz\n");
    writeFile(dir / "sys/class/hwmon/hwmon0/temp1_input", "40000\n");
    const std::string why = "No sensors: " + sys +
                            "/class/hwmon holds none that the agent reads on this machine, as in "
                            "most containers and virtual machines.";
    const std::string hint = why +
                             "\nTo list what was found there: tessly sensors\nTo try the rest on "
                             "a simulated machine: tessly control stop; tessly simulate\n";
    EXPECT_EQ(run({"read"}).out, bare + hint);
    // Commands are named as they can be typed: a path started by, quoted where a shell needs it.
    const std::string odd = "'/opt/my tools/tessly'";
    EXPECT_THAT(sensorlessHint(sys, "/opt/my tools/tessly"),
                HasSubstr("machine: " + odd + " control stop; " + odd + " simulate\n"));
    EXPECT_EQ(shellWord("it's"), "'it'\\''s'");
    EXPECT_EQ(shellWord("build/release/bin/tessly"), "build/release/bin/tessly");

    WatchView view(1, sensorlessHint(sys, "tessly"));
    view.update(payloadStatus(kNewYear), kNewYear);
    EXPECT_EQ(view.screen(200).rbegin()[2], why);
    EXPECT_EQ(view.sensorlessNote(), "The payload holds no temperatures and no fans.\n" + hint);
    // On a narrow screen the explanation wraps at blanks, and every line fits.
    const auto narrow = view.screen(40), wrapped = wrapToWidth(why, 40);
    EXPECT_FALSE(std::ranges::search(narrow, wrapped).empty());
    for (const auto& line : narrow)
        EXPECT_LE(displayWidth(line), 40) << line;

    writeFile(dir / "sys/class/hwmon/hwmon0/name", "coretemp\n");
    EXPECT_EQ(run({"read"}).out, bare);
}

TEST_F(Commands, ACommandLineThatCannotBeUnderstoodGetsAHint) {
    const std::pair<Args, std::string> cases[] = {
        {{}, ""},
        {{"read", "--bogus"}, "read "},
        {{"watch", "--interval", "nan"}, "watch "},
        {{"control", "autostart", "maybe"}, "control autostart "},
        {{"simulate", "toaster"}, "simulate "},
        {{"export", "--format", "json"}, "export "},
        {{"export", "--format", "prometheus", "--listen", "::1:80"}, "export "},
        {{"export", "--format", "prometheus", "--listen", "80", "--output", "x"}, "export "}};
    for (const auto& [args, command] : cases)
        EXPECT_THAT(run(args),
                    FieldsAre(2, _, EndsWith("Run 'tessly " + command + "--help' for usage.\n")));
    // A word that names no command: the nearest one, where one is near.
    for (const auto& [args, said] : std::initializer_list<std::pair<Args, std::string>>{
             {{"raed"}, "unknown command 'raed'; did you mean 'tessly read'?\nRun 'tessly"},
             {{"control", "stpo"},
              "unknown control command 'stpo'; did you mean 'tessly control stop'?\n"
              "Run 'tessly control"},
             {{"xyzzy"}, "unknown command 'xyzzy'\nRun 'tessly"}})
        EXPECT_THAT(run(args), FieldsAre(2, _, "tessly: " + said + " --help' for usage.\n"));
    EXPECT_EQ(run({"--version"}).out, "tessly " + std::string(versionText()) + "\n");
    EXPECT_THAT(run({"control", "stop", "--help"}).out, HasSubstr("Usage: tessly control stop"));
    EXPECT_FALSE(fs::exists(container()) || fs::exists(controlDirectory()));
}

TEST_F(Commands, ControlRoundTripsKeepWhatTheyDoNotChange) {
    EXPECT_EQ(run({"control", "show"}).status, 1);
    EXPECT_EQ(run({"control", "autostart", "on"}).out,
              "Autostart on: a running agent registers itself as a login item on its next tick.\n");
    clock.setWall(kNewYear + 0.25);
    EXPECT_EQ(run({"control", "stop"}).status, 0);  // nobody publishing: answers at once
    EXPECT_EQ(readFile(controlFile()), R"({"autostart":true,"stopRequestedAt":1767225600.25})");
    clock.setWall(kNewYear + 12.25);
    EXPECT_EQ(run({"control", "show"}).out,
              "Autostart    on (the agent keeps itself registered as a login item)\n"
              "Stop request 2026-01-01T00:00:00.250Z, 12.0 s ago (agents launched before it stop)\n"
              "File         " +
                  controlFile().string() + "\nPayload      " + sensorsFile().string() + "\n");
    EXPECT_EQ(run({"control", "autostart", "off"}).status, 0);
    EXPECT_EQ(readFile(controlFile()), R"({"autostart":false,"stopRequestedAt":1767225600.25})");

    writeFile(controlFile(), R"({"autostart":"yes"})");
    EXPECT_EQ(run({"control", "show"}).status, 1);
    EXPECT_THAT(run({"control", "autostart", "on"}).err,
                HasSubstr("which does not hold a valid control"));
    EXPECT_EQ(readFile(controlFile()), R"({"autostart":true})");
}

// `stop` tells from the agent's lock whether one still runs: "stopped" once the lock is free,
// whatever the payload shows, and a failure while it is still held five seconds on. Memory that
// runs out anywhere in a command ends that command, and only it, with status 1.
TEST_F(Commands, StopWaitsForTheAgentsLockToBeReleasedOrRunsOutOfMemory) {
    std::optional<PublisherLock> agent(PublisherLock::acquire());
    ASSERT_EQ(agent->outcome(), PublisherLock::Outcome::held);
    SensorBridge::write(fullPayload(kNewYear - 0.4));
    int pauses = 0;
    duringPause = [&] {
        if (++pauses == 2) agent.reset();  // the agent ends on its next tick
    };
    const auto stopped = run({"control", "stop"});
    EXPECT_EQ(stopped.status, 0);
    EXPECT_EQ(stopped.out,
              "Stop requested at 2026-01-01T00:00:00.000Z.\nThe agent stopped: its last sample "
              "was taken 0.4 s before the request.\n");
    EXPECT_EQ(pauses, 2);

    // An agent stuck in a tick publishes nothing and yet runs.
    agent.emplace(PublisherLock::acquire());
    duringPause = [] { throw std::bad_alloc(); };
    EXPECT_THAT(run({"control", "stop"}), FieldsAre(1, _, "tessly: out of memory\n"));
    duringPause = nullptr;
    EXPECT_THAT(run({"control", "stop"}),
                FieldsAre(1, _,
                          "tessly: an agent still runs 5.0 s after the request: one launched "
                          "after it, or one that cannot read control.json\n"));
    agent.reset();
    clock.setWall(kNewYear + 10);
    EXPECT_EQ(run({"control", "stop"}).out,
              "Stop requested at 2026-01-01T00:00:10.000Z.\nNo agent was running. The request "
              "stands for every agent launched before it.\n");
}

// The scrape target answers from the payload as it is at each request: the exposition and up 1
// while it is current, only up 0 while none is; only /metrics, only GET and HEAD. Export prints,
// or replaces a regular file atomically; without a current payload the file is emptied. Anything
// but a regular file, a link to one or nothing is refused and left alone.
TEST_F(Commands, TheEndpointAndExportServeOnlyACurrentPayloadAndReplaceOnlyRegularFiles) {
    const auto body = [](std::string_view method, std::string_view path, double now) {
        const auto response = metricsResponse(method, path, now);
        return std::to_string(response.status) + " " + response.allow + "|" + response.body;
    };
    const std::string down = body("GET", "/metrics", kNewYear);
    EXPECT_TRUE(down.starts_with("200 |# HELP ") && down.ends_with("\ntessly_exporter_up 0\n"));
    writeFile(sensorsFile(), "{\"sampledAt\": \"soon\"}");
    EXPECT_EQ(body("GET", "/metrics", kNewYear), down);

    SensorBridge::write(fullPayload(kNewYear - 0.5));
    const std::string expected = prometheusText(fullPayload(kNewYear - 0.5), kNewYear);
    const auto up = metricsResponse("GET", "/metrics", kNewYear);
    EXPECT_EQ(up.contentType, "text/plain; version=0.0.4; charset=utf-8");
    EXPECT_EQ(up.body, expected + down.substr(5, down.size() - 7) + "1\n");
    EXPECT_EQ(metricsResponse("HEAD", "/metrics", kNewYear).body, up.body);
    EXPECT_EQ(body("GET", "/metrics", kNewYear + 3600), down);

    for (const auto& [method, path, status] :
         std::initializer_list<std::tuple<const char*, const char*, const char*>>{
             {"POST", "/metrics", "405 GET, HEAD|"},
             {"PUT", "/", "405 GET, HEAD|"},
             {"GET", "/", "404 |"},
             {"GET", "/metrics/", "404 |"},
             {"HEAD", "/Metrics", "404 |"}})
        EXPECT_TRUE(body(method, path, kNewYear).starts_with(status)) << method << " " << path;

    for (const auto& [text, wantedHost, wantedPort] :
         std::initializer_list<std::tuple<const char*, const char*, int>>{
             {"9101", "127.0.0.1", 9101},
             {"0", "127.0.0.1", 0},
             {"0.0.0.0:80", "0.0.0.0", 80},
             {"[::1]:65535", "::1", 65535},
             {"metrics.local:9101", "metrics.local", 9101}}) {
        const auto address = parseListenAddress(text);
        ASSERT_TRUE(address) << text;
        EXPECT_EQ(std::pair(address->host, address->port),
                  std::pair(std::string(wantedHost), wantedPort));
    }
    for (const char* text :
         {"", ":9101", "::1:9101", "[::1]", "[]:1", "65536", "-1", "9101x", "host:", "[::1:80"})
        EXPECT_FALSE(parseListenAddress(text)) << text;

    const auto exportTo = [&](const fs::path& path) {
        return run({"export", "--format", "prometheus", "--output", path.string()});
    };
    EXPECT_EQ(run({"export", "--format", "prometheus"}).out, expected);
    EXPECT_EQ(exportTo("-").out, expected);

    const fs::path at = dir / "out";
    writeFile(at / "target.prom", "old\n");
    ASSERT_EQ(::mkfifo((at / "fifo").c_str(), 0600), 0);  // as any node that is not a file
    fs::create_directories(at / "directory");
    fs::create_symlink(at / "fifo", at / "link-to-fifo");
    fs::create_symlink(at / "nowhere", at / "dangling");
    fs::create_symlink(at / "target.prom", at / "link-to-file");
    writeFile(dir / "elsewhere/far.prom", "old\n");
    fs::create_symlink(dir / "elsewhere/far.prom", dir / "elsewhere/link");
    fs::create_symlink(dir / "elsewhere/link", at / "link-to-link");
    const Args refused{"fifo", "directory", "link-to-fifo", "dangling"};
    for (const auto& name : refused) {
        struct stat before {
        }, after{};
        ::lstat((at / name).c_str(), &before);
        EXPECT_THAT(exportTo(at / name), FieldsAre(1, "", StartsWith("tessly: not replacing ")));
        ::lstat((at / name).c_str(), &after);
        EXPECT_TRUE(after.st_ino == before.st_ino && after.st_mode == before.st_mode) << name;
    }
    for (const char* name : {"target.prom", "new.prom", "link-to-file", "link-to-link"}) {
        EXPECT_EQ(exportTo(at / name).status, 0);
        EXPECT_EQ(readFile(at / name), expected) << name;
    }
    // A link stays a link: the file it leads to is replaced, in that file's own directory.
    EXPECT_TRUE(fs::is_symlink(at / "link-to-file") && fs::is_symlink(at / "link-to-link"));
    EXPECT_TRUE(fs::is_symlink(dir / "elsewhere/link"));
    EXPECT_EQ(readFile(dir / "elsewhere/far.prom"), expected);
    EXPECT_EQ(std::distance(fs::directory_iterator(at), {}), refused.size() + 4);  // no temporaries
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "elsewhere"), {}), 2);
    EXPECT_EQ(
        exportTo(at / "gone/x.prom").err,
        "tessly: cannot write " + (at / "gone/x.prom").string() + ": No such file or directory\n");

    clock.advance(60);
    EXPECT_EQ(exportTo(at / "new.prom").status, 1);
    EXPECT_EQ(readFile(at / "new.prom"), "");
}

// Prometheus's own linter has nothing to say about the exposition of a full payload, nor about
// the answer without a current one.
TEST_F(Commands, TheExpositionPassesPromtoolsLint) {
    if (::access("/usr/bin/promtool", X_OK) != 0)
        GTEST_SKIP() << "promtool is not installed (Debian package prometheus, see scripts/setup)";
    SensorsPayload full = fullPayload(kNewYear - 0.5);
    full.thermal->memoryTemperatureC = 40;
    SensorBridge::write(full);
    for (const double now : {kNewYear, kNewYear + 3600}) {
        writeFile(dir / "in.prom", metricsResponse("GET", "/metrics", now).body);
        const std::string lint = "/usr/bin/promtool check metrics <'" + (dir / "in.prom").string() +
                                 "' >'" + (dir / "out").string() + "' 2>&1";
        const int status = std::system(lint.c_str());
        EXPECT_EQ(std::to_string(status) + readFile(dir / "out"), "0") << readFile(dir / "in.prom");
    }
}

// The real agent over a simulated machine; it refuses to start beside a publishing agent unless
// forced, obeys stop requests and only reports what it would do with the login item.
TEST_F(Commands, SimulateRunsTheAgentOverASimulatedMachine) {
    EXPECT_THAT(run({"simulate", "--list"}).out, StartsWith("apple-silicon-laptop  Apple Silicon"));
    SensorBridge::write(fullPayload(kNewYear - 0.5));
    EXPECT_THAT(run({"simulate"}),
                FieldsAre(1, _, StartsWith("tessly: fresh payloads are being published already")));

    // An agent that holds the lock runs, whatever its payload shows.
    clock.advance(60);
    {
        const PublisherLock agent = PublisherLock::acquire();
        EXPECT_THAT(run({"simulate"}).err, StartsWith("tessly: an agent or another simulation is "
                                                      "running (it holds the lock on "));
    }

    SensorBridge::writeControl({.autostart = true});
    // The hand-driven host launches the agent and returns: one payload, one timer. It holds the
    // agents' lock meanwhile.
    bool locked = false;
    host.onSchedule = [&] { locked = PublisherLock::probe() == PublisherLock::Holder::agent; };
    const auto forced = run({"simulate", "intel-desktop", "--force"});
    EXPECT_TRUE(locked);
    EXPECT_THAT(forced,
                FieldsAre(0, _,
                          "tessly simulate: intel-desktop publishing to " + sensorsText +
                              " every second; Ctrl-C or 'tessly control stop' ends it\n"
                              "tessly simulate: the agent would register itself as a login "
                              "item now (a simulation leaves the real login item alone)\n"));
    EXPECT_EQ(SensorBridge::read(clock.wallNow())->fan->fanCount, 3);
    EXPECT_EQ(host.timers.size(), 1u);
    host.timers.clear();  // the simulation is gone with the command's return

    // Its timer ticks the agent, and a stop request ends the simulation.
    std::ostringstream report;
    Simulation simulation(*sim::SimulatedMachine::make("apple-silicon-laptop"), host, clock, report,
                          "9.9.9+sim");
    simulation.run();
    clock.advance(1);
    SensorBridge::writeControl({.autostart = false, .stopRequestedAt = clock.wallNow()});
    host.fire();
    EXPECT_EQ(host.terminateRequests, 1);
    EXPECT_THAT(report.str(), HasSubstr("a stop was requested in control.json"));
}

// Whether `text` may reach a terminal: valid UTF-8 without C0 controls but the line feed, DEL,
// or C1 controls.
bool isTerminalSafe(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if ((byte < 0x20 && byte != '\n') || byte == 0x7F) return false;
        if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0)
            return false;
    }
    try {
        (void)nlohmann::json(std::string(text)).dump();  // throws on invalid UTF-8
        return true;
    } catch (const nlohmann::json::type_error&) {
        return false;
    }
}

TEST_F(Commands, TextFromFilesAndTheSystemReachesTheTerminalEscaped) {
    const std::string hostile = "\x1b]0;owned\a\x1b[2J\r\xc2\x9b\x7f\xff";
    ScopedEnv oddState("XDG_STATE_HOME", (dir / ("state" + hostile)).string());
    ScopedEnv oddRuntime("XDG_RUNTIME_DIR", (dir / ("run" + hostile)).string());
    SensorBridge::write(fullPayload(kNewYear - 0.5, "1.0" + hostile));
    SensorBridge::writeControl({.autostart = true});
    for (const Args& args : {Args{"read"}, Args{"control", "show"}, Args{"simulate", "--force"},
                             Args{"read", "--bogus" + hostile}, Args{"control", hostile},
                             Args{"sensors", "--sysfs", "/nonexistent" + hostile}}) {
        const auto outcome = run(args);
        EXPECT_THAT(outcome.out + outcome.err,
                    AllOf(Truly(isTerminalSafe), HasSubstr("\\x1b]0;owned\\x07")));
    }
    clock.advance(60);  // the diagnostics of a stale payload name the path escaped too
    EXPECT_TRUE(isTerminalSafe(run({"read"}).err));
}

#ifdef __linux__
// `sensors`: every file of another machine's /sys with what it feeds; nothing from outside the
// copy is read or printed, nothing but regular files is opened, and its names reach the terminal
// escaped. `capture` says what it copied and how to send it, and never writes into a directory
// that holds anything (that the copy reads back as the machine is held in platform/linux's tests).
TEST_F(Commands, SensorsAndCaptureReadAnotherMachinesSysfsAndStayInsideIt) {
    const fs::path sys = dir / "sys";
    writeFile(dir / "outside/name", "SECRET\n");
    writeFile(dir / "outside/temp1_input", "99000\n");
    writeFile(sys / "class/hwmon/hwmon0/name", "core\x1b[2Jtemp\n");
    writeFile(sys / "class/hwmon/hwmon0/temp1_label", "Package id 0\n");
    writeFile(sys / "class/hwmon/hwmon0/temp1_input", "45000\n");
    writeFile(sys / "class/hwmon/hwmon1/name", "thinkpad\n");
    writeFile(sys / "class/hwmon/hwmon1/fan1_input", "2100\n");
    ASSERT_EQ(::mkfifo((sys / "class/hwmon/hwmon1/fan2_input").c_str(), 0600), 0);
    fs::create_symlink("../../../outside", sys / "class/hwmon/hwmon2");

    const std::string root = sys.string();
    const auto table = run({"sensors", "--sysfs", root + "/"});
    // The fan's row: its file, chip, label, value and what it feeds.
    EXPECT_THAT(
        table,
        FieldsAre(0,
                  AllOf(StartsWith("SENSOR FILE"),
                        ::testing::ContainsRegex(
                            root + "/class/hwmon/hwmon1/fan1_input  +thinkpad  +fan1  +"
                                   "2100 rpm  +rpms\\[0\\]\n"),
                        HasSubstr("core\\x1b[2Jtemp"), HasSubstr("error: not a regular file")),
                  ""));
    const auto json = run({"sensors", "--json", "--sysfs", root});
    EXPECT_THAT(json.out, HasSubstr("\"feeds\": \"rpms[0]\""));
    for (const auto& text : {table.out, json.out})
        EXPECT_THAT(text,
                    AllOf(Not(HasSubstr("SECRET")), Not(HasSubstr("99.0")), Truly(isTerminalSafe)));
    EXPECT_THAT(run({"sensors", "--sysfs", "/"}),
                FieldsAre(1, "No sensor files under /class/hwmon or /class/power_supply.\n", _));
    EXPECT_EQ(run({"sensors", "--json", "--sysfs", "/"}).status, 1);
    EXPECT_EQ(run({"sensors", "--sysfs", (dir / "nothing").string()}).status, 1);

    const fs::path phone = dir / "phone", copy = dir / "my machine";
    writeFile(phone / "class/hwmon/hwmon0/name", "bigcore0_thermal\n");
    writeFile(phone / "class/hwmon/hwmon0/temp1_input", "47157\n");
    writeFile(phone / "class/power_supply/BAT0/type", "Battery\n");
    writeFile(phone / "class/power_supply/BAT0/temp", "305\n");
    const Args capture{"capture", copy.string(), "--sysfs", phone.string()};
    EXPECT_THAT(
        run(capture),
        FieldsAre(0,
                  AllOf(StartsWith("Copied 1 hwmon chip and 1 power supply (4 files) from " +
                                   phone.string()),
                        HasSubstr("tessly sensors --sysfs '" + copy.string() + "'\n"),
                        HasSubstr("tar -czf 'my machine.tar.gz' -C " + dir.path().string() +
                                  " 'my machine'\n")),
                  _));
    EXPECT_THAT(run(capture), FieldsAre(1, _,
                                        "tessly capture: " + copy.string() +
                                            " is not empty; name a new or empty directory\n"));
}
#endif

}  // namespace
}  // namespace tessly::cli::testing
