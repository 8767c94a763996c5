// Tessly Helper.app: takes no arguments and reads no settings. Built with ARC.
#import <Foundation/Foundation.h>

#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <new>
#include <string_view>

#include "agent/AgentProcess.h"

// Each tick catches its own allocation failure, and the agent goes on. One met while setting up
// or by the run loop itself ends the agent with a failure, said without allocating.
int main() {
    // A write beyond a file-size limit (RLIMIT_FSIZE) then fails with EFBIG and is dropped like
    // any other failed write, to be retried on the next tick, instead of ending the agent.
    std::signal(SIGXFSZ, SIG_IGN);
    try {
        tessly::AgentProcess process;
        // What setting up autoreleases (the shared application, the container lookup) is
        // released here, before the run loop starts; the loop drains its own pool on every pass.
        @autoreleasepool {
            if (const auto status = process.setUp()) return *status;
        }
        return process.run();
    } catch (const std::bad_alloc&) {
        constexpr std::string_view line = "Tessly Helper: out of memory\n";
        (void)!::write(STDERR_FILENO, line.data(), line.size());
        return EXIT_FAILURE;
    }
}
