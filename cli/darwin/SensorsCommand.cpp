// `tessly sensors` on macOS: the discovery report belongs to the Linux hwmon backend, which this
// build does not hold.

#include "cli/Commands.h"

namespace tessly::cli {

std::string sensorlessHint(const std::string& /*sysfsRoot*/) {
    return "No sensors: the SMC and the temperature services gave the agent nothing on this "
           "Mac.\n'tessly simulate' publishes a simulated machine to try the rest with.\n";
}

int runSensors(Console& console, Output /*output*/, const std::string& /*sysfsRoot*/) {
    console.err << "tessly: sensors reports Linux hwmon discovery and is not available in this "
                   "build; 'tessly read' shows what the agent publishes\n";
    return exitFailure;
}

}  // namespace tessly::cli
