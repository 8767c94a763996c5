// tessly-helper: takes no arguments and reads no settings.
#include <csignal>
#include <memory>

#include "agent/SensorsAgent.h"
#include "platform/AppHost.h"

int main() {
    // A write beyond a file-size limit (RLIMIT_FSIZE) then fails with EFBIG and is dropped like
    // any other failed write, to be retried on the next tick, instead of ending the agent with
    // SIGXFSZ.
    std::signal(SIGXFSZ, SIG_IGN);
    tessly::AppHost& app = tessly::AppHost::shared();
    // The entry point keeps the agent alive: the application does not own its delegate.
    const auto agent = std::make_shared<tessly::SensorsAgent>();
    app.setDelegate(agent.get());
    app.setActivationPolicyAccessory();
    app.run();
    return 0;
}
