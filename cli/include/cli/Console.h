#pragma once
// What the commands talk to besides the two exchange files: where their text goes, the clock
// they judge ages by, how they let time pass, and the loop a simulation runs on. The real
// console is made in main(); tests hand in string streams, a manual clock and a hand-fired host.

#include <functional>
#include <ostream>
#include <string>

#include "agent/AppHost.h"
#include "base/Clock.h"

namespace tessly::cli {

struct Console {
    std::ostream& out;
    std::ostream& err;
    Clock& clock;
    // Lets about `seconds` pass (`control stop` polls with it).
    std::function<void(double seconds)> pause;
    // The application host `simulate` runs the agent on.
    AppHost& host;
    // This machine's sysfs, where `read` and `watch` look for why a payload holds no readings.
    std::string sysfsRoot = "/sys";
    // The command as people can type it again, for the texts that suggest a command: "tessly"
    // when it was found through PATH, else the path it was started by.
    std::string program = "tessly";
};

}  // namespace tessly::cli
