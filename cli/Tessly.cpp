// The command line: which command, with which options. Parsing errors end here with a hint and
// status 2; everything else is the commands' own business.

// GCC 12 at -O2 reports a null dereference inside CLI11's inlined string splitting that cannot
// happen (a false positive of -Wnull-dereference on libstdc++'s string internals).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnull-dereference"
#include <CLI/CLI.hpp>
#pragma GCC diagnostic pop

#include <algorithm>
#include <cmath>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Format.h"
#include "cli/MetricsServer.h"
#include "platform/sim/SimulatedMachine.h"

namespace tessly::cli {
namespace {

constexpr double shortestInterval = 0.05;
constexpr double longestInterval = 3600;

// The interval of `watch`: a finite number of seconds within the bounds. (CLI::Range alone would
// let "nan" through.)
std::string checkInterval(const std::string& text) {
    double value = 0;
    if (!CLI::detail::lexical_cast(text, value) || !std::isfinite(value) ||
        value < shortestInterval || value > longestInterval) {
        return "the interval must be a number of seconds from 0.05 to 3600, not " + text;
    }
    return {};
}

// The address of `export --listen`; an empty one is refused too, not taken for no --listen.
std::string checkListenAddress(const std::string& text) {
    if (parseListenAddress(text)) return {};
    return "the address must be PORT, HOST:PORT or [IPV6]:PORT, not '" + text + "'";
}

// The deepest command that was recognised before the error.
const CLI::App& deepestCommand(const CLI::App& app) {
    const CLI::App* current = &app;
    while (!current->get_subcommands().empty())
        current = current->get_subcommands().front();
    return *current;
}

// "tessly control autostart": the names from the program down to `command`.
std::string commandPath(const CLI::App& command) {
    std::string path = command.get_name();
    for (const CLI::App* parent = command.get_parent(); parent; parent = parent->get_parent())
        path = parent->get_name() + " " + path;
    return path;
}

// Where `command` needs one of its subcommands and was given a word that names none ("tessly
// raed", "tessly control stpo"), what to say: the word, made safe, and the nearest name.
std::optional<std::string> unknownCommandText(const CLI::App& command) {
    if (command.get_require_subcommand_min() == 0) return std::nullopt;
    // What the parser left over, in order; options are a different mistake.
    const auto leftOver = command.remaining();
    const auto word = std::find_if(leftOver.begin(), leftOver.end(),
                                   [](const std::string& w) { return !w.starts_with('-'); });
    if (word == leftOver.end()) return std::nullopt;
    std::vector<std::string> names;
    for (const CLI::App* sub : command.get_subcommands([](const CLI::App*) { return true; }))
        names.push_back(sub->get_name());
    const std::string path = commandPath(command);
    const auto space = path.find(' ');
    std::string text = "unknown " +
                       (space == std::string::npos ? "" : path.substr(space + 1) + " ") +
                       "command '" + terminalSafe(*word) + "'";
    if (const auto closest = closestWord(*word, names))
        text += "; did you mean '" + path + " " + *closest + "'?";
    return text;
}

}  // namespace

std::string_view versionText() noexcept {
    return TESSLY_VERSION_TEXT;
}

namespace {

int runCommandLine(int argc, const char* const* argv, Console& console) {
    CLI::App app{"Reads, watches and steers the Tessly sensor agent.", "tessly"};
    app.set_version_flag("--version", "tessly " + std::string(versionText()),
                         "Print the version and exit");
    app.require_subcommand(1);
    app.footer(
        "Exit status: 0 done, 1 nothing current to show or the request failed, 2 bad usage.");

    bool readJSON = false;
    auto* read = app.add_subcommand("read", "Print the current sensor payload");
    read->add_flag("--json", readJSON, "Print the payload in the JSON form of sensors.json");

    double interval = 1.0;
    auto* watch = app.add_subcommand(
        "watch", "Show the readings live, with a sparkline of the last minute; Ctrl-C ends it");
    watch->add_option("--interval", interval, "Seconds between refreshes")
        ->check(checkInterval)
        ->capture_default_str();

    auto* control = app.add_subcommand("control", "Show or change what the agent is asked to do");
    control->require_subcommand(1);
    auto* show = control->add_subcommand("show", "Show the control record (exit 1 when none)");
    std::string autostartState;
    auto* autostart = control->add_subcommand(
        "autostart", "Ask the agent to register (on) or unregister (off) its login item");
    autostart->add_option("state", autostartState, "on or off")
        ->required()
        ->check(CLI::IsMember({"on", "off"}));
    auto* stop = control->add_subcommand(
        "stop", "Ask running agents to stop, and wait up to 5 s for the running one to end");

    bool sensorsJSON = false;
    std::string sysfsRoot = "/sys";
    auto* sensors = app.add_subcommand(
        "sensors", "List every sensor file the agent finds and what it feeds (Linux)");
    sensors->footer(
        "Exit status: 0 when sensors were found; 1 when none was (no hwmon or power_supply "
        "sensor file, nor an NVIDIA GPU on this machine's own /sys), so that scripts can tell a "
        "machine without sensors, or when ROOT is not a directory; 2 bad usage.");
    sensors->add_flag("--json", sensorsJSON, "Print the list as JSON");
    sensors->add_option("--sysfs", sysfsRoot, "Read this copy of a machine's /sys instead")
        ->type_name("ROOT")
        ->capture_default_str();

    std::string captureDirectory;
    std::string captureRoot = "/sys";
    auto* capture = app.add_subcommand(
        "capture",
        "Copy this machine's sensor files into a new directory, to send with a report of "
        "readings that look wrong (Linux)");
    capture->add_option("DIR", captureDirectory, "A new or empty directory to copy into")
        ->required();
    capture->add_option("--sysfs", captureRoot, "Copy from this copy of a machine's /sys")
        ->group("");  // for tests
    capture->footer(
        "Copies the hwmon chips and power supplies under /sys/class (names, labels, values and "
        "limits as they read now; no serial numbers) into DIR, which 'tessly sensors --sysfs DIR' "
        "reads as it reads this machine. Pack DIR into one file (the command says how) and attach "
        "it to your report with what you expected to read.\n\n" +
        app.get_footer());

    std::vector<std::string> machineNames;
    for (const auto& machine : sim::SimulatedMachine::catalog()) {
        machineNames.emplace_back(machine.name);
    }
    std::string machine = machineNames.front();
    bool listMachines = false;
    bool force = false;
    auto* simulate = app.add_subcommand(
        "simulate", "Run the agent over a simulated machine, publishing where the agent does");
    simulate->add_option("MACHINE", machine, "The machine to simulate (see --list)")
        ->check(CLI::IsMember(machineNames))
        ->capture_default_str();
    simulate->add_flag("--list", listMachines, "List the simulated machines");
    simulate->add_flag("--force", force, "Start even while fresh payloads are being published");

    std::string format;
    std::string outputFile;
    auto* exportCommand =
        app.add_subcommand("export", "Print the current payload for a metrics system");
    exportCommand->add_option("--format", format, "The output format")
        ->required()
        ->check(CLI::IsMember({"prometheus"}));
    auto* outputOption =
        exportCommand->add_option("--output", outputFile,
                                  "Replace this regular file atomically instead of printing "
                                  "(for node_exporter's textfile collector); - prints");
    std::string listen;
    auto* listenOption =
        exportCommand
            ->add_option("--listen", listen,
                         "Serve /metrics over HTTP on [HOST:]PORT (HOST 127.0.0.1 unless named; "
                         "[::1]:PORT for IPv6; PORT 0 picks a free one) for a Prometheus server")
            ->check(checkListenAddress)
            ->excludes(outputOption);

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {  // --help, --version
        return app.exit(e, console.out, console.err);
    } catch (const CLI::Error& e) {
        const CLI::App& command = deepestCommand(app);
        console.err << "tessly: " << unknownCommandText(command).value_or(terminalSafe(e.what()))
                    << "\n"
                    << "Run '" << commandPath(command) << " --help' for usage.\n";
        return exitUsage;
    }

    if (read->parsed()) return runRead(console, readJSON ? Output::json : Output::text);
    if (watch->parsed()) return runWatch(console, interval);
    if (show->parsed()) return runControlShow(console);
    if (autostart->parsed()) {
        return runControlAutostart(console,
                                   autostartState == "on" ? Autostart::on : Autostart::off);
    }
    if (stop->parsed()) return runControlStop(console);
    if (sensors->parsed()) {
        return runSensors(console, sensorsJSON ? Output::json : Output::text, sysfsRoot);
    }
    if (capture->parsed()) return runCapture(console, captureDirectory, captureRoot);
    if (simulate->parsed()) {
        if (listMachines) return runSimulateList(console);
        return runSimulate(console, machine,
                           force ? WhilePublishing::startAnyway : WhilePublishing::refuse);
    }
    if (exportCommand->parsed()) {
        if (listenOption->count() == 0) return runExport(console, outputFile);
        const auto address = parseListenAddress(listen);
        return address ? runMetricsServer(console, *address) : exitUsage;  // refused while parsing
    }
    return exitUsage;  // require_subcommand makes this unreachable
}

}  // namespace

int tesslyMain(int argc, const char* const* argv, Console& console) {
    try {
        return runCommandLine(argc, argv, console);
    } catch (const std::bad_alloc&) {
        // The command's one boundary: whatever it was doing ends here, said without allocating.
        console.err << "tessly: out of memory\n";
        return exitFailure;
    }
}

}  // namespace tessly::cli
