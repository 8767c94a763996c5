// `tessly sensors` on macOS: the discovery report belongs to the Linux hwmon backend, which this
// build does not hold.

#include "cli/Commands.h"

namespace tessly::cli {

int runSensors(Console& console, Output /*output*/, const std::string& /*sysfsRoot*/) {
    console.err << "tessly: sensors reports Linux hwmon discovery and is not available in this "
                   "build; 'tessly read' shows what the agent publishes\n";
    return exitFailure;
}

}  // namespace tessly::cli
