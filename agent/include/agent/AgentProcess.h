#pragma once
// The tessly-helper process as its entry point runs it: one publisher per container, the one
// agent made the application's delegate with the accessory policy, then the loop. Header-only,
// for the entry points alone: it builds the platform's defaults, which only they link. setUp()
// and run() are apart so that an entry point can put what only setting up creates in a scope of
// its own (an autorelease pool on macOS) that ends before the loop starts.

#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <TesslyKit/SharedContainer.h>

#include "agent/AppHost.h"
#include "agent/PublisherLock.h"
#include "agent/SensorsAgent.h"
#include "agent/SystemLog.h"

namespace tessly {

class AgentProcess {
  public:
    // Everything before the loop, in the order of the entry point: the application object, the
    // lock, the agent, its delegation and the activation policy. An exit status when the process
    // is to end at once instead: another agent publishes for this container.
    std::optional<int> setUp() {
        app_ = &AppHost::Default();
        // The login-item service starts one instance too; this keeps a second agent started by
        // hand from interleaving its payloads with the first one's. Where no lock can be taken
        // for any other reason, the agent says so once and publishes regardless: a sensor agent
        // that refused to run would fail at its one job over a lock.
        lock_.emplace(PublisherLock::acquire());
        if (lock_->outcome() == PublisherLock::Outcome::heldElsewhere) {
            constexpr std::string_view line = "Tessly Helper: another agent is publishing\n";
            (void)!::write(STDERR_FILENO, line.data(), line.size());
            return EXIT_SUCCESS;
        }
        if (lock_->outcome() == PublisherLock::Outcome::unavailable) {
            SystemLog::Default().writeLine(
                "Tessly Helper: publishing without the single-agent lock: " + lock_->reason());
        }
        if (const auto why = SharedContainer::payloadOnDisk()) {
            SystemLog::Default().writeLine("Tessly Helper: publishing to " +
                                           SharedContainer::directory().value_or("?").string() +
                                           " on disk, every second: " + *why);
        }
        // Kept here for the process's life: the application does not own its delegate.
        agent_ = std::make_shared<SensorsAgent>();
        app_->setDelegate(agent_.get());
        app_->setActivationPolicyAccessory();
        return std::nullopt;
    }

    // Runs the loop; the process's exit status, should the loop ever end.
    int run() {
        if (const auto failure = app_->run()) {
            SystemLog::Default().writeLine("Tessly Helper: " + *failure);
            return EXIT_FAILURE;
        }
        return EXIT_SUCCESS;
    }

  private:
    AppHost* app_ = nullptr;
    std::optional<PublisherLock> lock_;
    std::shared_ptr<SensorsAgent> agent_;
};

}  // namespace tessly
