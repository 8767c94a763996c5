// `tessly sensors` on macOS: the discovery report belongs to the Linux hwmon backend, which this
// build does not hold.

#include "cli/Commands.h"
#include "cli/Format.h"

namespace tessly::cli {

std::string sensorlessHint(const std::string& /*sysfsRoot*/, std::string_view program) {
    const std::string tessly = terminalSafe(shellWord(program));
    return "No sensors: the SMC and the temperature services gave the agent nothing on this "
           "Mac.\nTo try the rest on a simulated machine: " +
           tessly + " control stop; " + tessly + " simulate\n";
}

int runSensors(Console& console, Output /*output*/, const std::string& /*sysfsRoot*/) {
    console.err << "tessly: sensors reports Linux hwmon discovery and is not available in this "
                   "build; 'tessly read' shows what the agent publishes\n";
    return exitFailure;
}

}  // namespace tessly::cli
