// tessly-helper: takes no arguments and reads no settings.
#include <memory>

#include "agent/SensorsAgent.h"
#include "platform/AppHost.h"

int main() {
    tessly::AppHost& app = tessly::AppHost::shared();
    // The entry point keeps the agent alive: the application does not own its delegate.
    const auto agent = std::make_shared<tessly::SensorsAgent>();
    app.setDelegate(agent.get());
    app.setActivationPolicyAccessory();
    app.run();
    return 0;
}
