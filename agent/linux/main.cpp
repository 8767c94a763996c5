// tessly-helper: reads no settings and takes no arguments but --help and --version, which say
// what it is (and from which its manual page is generated).
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string_view>

#include "agent/AgentProcess.h"
#include "agent/VersionSource.h"

namespace {

constexpr std::string_view usage =
    "Usage: tessly-helper [--help | --version]\n"
    "\n"
    "The Tessly sensor agent. At launch and then once a second it samples this machine's\n"
    "sensors (CPU, GPU, memory, battery and storage temperatures; fan count, speeds and\n"
    "limits) and publishes them as sensors.json in $XDG_RUNTIME_DIR/tessly/ (in memory;\n"
    "~/.local/state/tessly/ where XDG_RUNTIME_DIR is unset or not a directory of the user's\n"
    "with mode 0700), replacing the file whole each time. Before every sample it reads\n"
    "control.json in $XDG_STATE_HOME/tessly/ (by default ~/.local/state/tessly/):\n"
    "\"autostart\" keeps its XDG autostart entry (~/.config/autostart/app.tessly.helper.desktop)\n"
    "registered or removed, and a \"stopRequestedAt\" later than its launch ends it. One agent\n"
    "publishes per user, holding a lock on the payload's directory: a second one says so and\n"
    "leaves.\n"
    "\n"
    "On Linux the sensors are the hwmon and power_supply inputs under /sys, followed as\n"
    "devices come and go, and NVIDIA GPUs through libnvidia-ml.so.1 where it is installed.\n"
    "Read what it publishes with tessly(1).\n"
    "\n"
    "Options:\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n";

// The agent itself; main only adds the one answer to an allocation failure that no tick caught.
int runAgent(int argc, char** argv) {
    if (argc > 1) {
        const std::string_view argument = argv[1];
        if (argc == 2 && argument == "--help") {
            std::fwrite(usage.data(), 1, usage.size(), stdout);
            return EXIT_SUCCESS;
        }
        if (argc == 2 && argument == "--version") {
            const auto version = tessly::VersionSource::Default().versionText();
            std::printf("tessly-helper %s\n", version ? version->c_str() : "(unknown)");
            return EXIT_SUCCESS;
        }
        std::fputs("tessly-helper: takes no arguments but --help and --version\n", stderr);
        return 2;
    }
    // A write beyond a file-size limit (RLIMIT_FSIZE) then fails with EFBIG and is dropped like
    // any other failed write, to be retried on the next tick, instead of ending the agent.
    std::signal(SIGXFSZ, SIG_IGN);
    tessly::AgentProcess process;
    if (const auto status = process.setUp()) return *status;
    return process.run();
}

}  // namespace

// Each tick catches its own allocation failure, and the agent goes on. One met while setting up
// (the lock, the tick timer, the device events) or by the loop itself ends the agent with a
// failure, said without allocating.
int main(int argc, char** argv) {
    try {
        return runAgent(argc, argv);
    } catch (const std::bad_alloc&) {
        constexpr std::string_view line = "Tessly Helper: out of memory\n";
        (void)!::write(STDERR_FILENO, line.data(), line.size());
        return EXIT_FAILURE;
    }
}
