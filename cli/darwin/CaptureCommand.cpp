// `tessly capture` on macOS: it copies Linux hwmon and power supply files, which a Mac does not
// have.

#include "cli/Commands.h"

namespace tessly::cli {

int runCapture(Console& console, const std::string& /*directory*/,
               const std::string& /*sysfsRoot*/) {
    console.err << "tessly capture: copies Linux hwmon and power supply files and is not available "
                   "in this build; 'tessly read --json' shows what the agent publishes\n";
    return exitFailure;
}

}  // namespace tessly::cli
