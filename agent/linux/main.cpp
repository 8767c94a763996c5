// tessly-helper: takes no arguments and reads no settings.
#include <csignal>

#include "agent/AgentProcess.h"

int main() {
    // A write beyond a file-size limit (RLIMIT_FSIZE) then fails with EFBIG and is dropped like
    // any other failed write, to be retried on the next tick, instead of ending the agent.
    std::signal(SIGXFSZ, SIG_IGN);
    tessly::AgentProcess process;
    if (const auto status = process.setUp()) return *status;
    return process.run();
}
