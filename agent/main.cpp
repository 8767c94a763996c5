// tessly-helper: takes no arguments and reads no settings.
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "agent/AppHost.h"
#include "agent/PublisherLock.h"
#include "agent/SensorsAgent.h"
#include "agent/SystemLog.h"

int main() {
    // A write beyond a file-size limit (RLIMIT_FSIZE) then fails with EFBIG and is dropped like
    // any other failed write, to be retried on the next tick, instead of ending the agent with
    // SIGXFSZ.
    std::signal(SIGXFSZ, SIG_IGN);
    tessly::AppHost& app = tessly::AppHost::Default();

    // One publisher per container; the login-item service starts one instance too, so this only
    // keeps a second agent started by hand from interleaving its payloads with the first's.
    // Where no lock can be taken at all, the agent publishes regardless.
    const auto lock = tessly::PublisherLock::acquire();
    if (lock.outcome() == tessly::PublisherLock::Outcome::heldElsewhere) {
        constexpr std::string_view line = "Tessly Helper: another agent is publishing\n";
        (void)!::write(STDERR_FILENO, line.data(), line.size());
        return EXIT_SUCCESS;
    }

    // The entry point keeps the agent alive: the application does not own its delegate.
    const auto agent = std::make_shared<tessly::SensorsAgent>();
    app.setDelegate(agent.get());
    app.setActivationPolicyAccessory();
    if (const auto failure = app.run()) {
        tessly::SystemLog::Default().writeLine("Tessly Helper: " + *failure);
        return EXIT_FAILURE;
    }
    return EXIT_SUCCESS;
}
