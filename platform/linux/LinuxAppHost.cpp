#include <sys/resource.h>

#include <cstdlib>
#include <system_error>

#include "agent/AppHost.h"
#include "platform/linux/DeviceEvents.h"
#include "platform/linux/EventLoop.h"

namespace tessly {
namespace {

// Lets the process open as many files as its hard limit allows, as daemons do: a machine with
// many sensors keeps one descriptor per sensor file open.
void raiseDescriptorLimit() noexcept {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
    limit.rlim_cur = limit.rlim_max;
    (void)::setrlimit(RLIMIT_NOFILE, &limit);
}

// The Linux application object: a delegate called once, then the event loop, which also receives
// the machine's device events for the sensors to follow. There is no Dock or menu bar, and
// SIGTERM/SIGINT keep their default meaning (the agent has no closing step).
class LinuxAppHost final : public AppHost {
  public:
    LinuxAppHost() noexcept { raiseDescriptorLimit(); }

    void setDelegate(AppDelegate* delegate) noexcept override { delegate_ = delegate; }
    void setActivationPolicyAccessory() noexcept override {}

    std::optional<std::string> run() override {
        // Listening before the launch's discovery, so that no device added after it goes unseen.
        hwmon::watchDevices(loop_, hwmon::DeviceChanges::machine(),
                            hwmon::openKernelDeviceEvents());
        if (delegate_ != nullptr) delegate_->applicationDidFinishLaunching();
        return loop_.run();
    }

    std::shared_ptr<RepeatingTimer> scheduleRepeatingTimer(double interval,
                                                           std::function<void()> action) override {
        return loop_.addRepeatingTimer(interval, std::move(action));
    }

    void terminate() noexcept override { std::exit(EXIT_SUCCESS); }
    void terminateWithFailure() noexcept override { std::exit(EXIT_FAILURE); }

  private:
    AppDelegate* delegate_ = nullptr;
    linux_host::EventLoop loop_;
};

}  // namespace

AppHost& AppHost::Default() {
    static LinuxAppHost host;
    return host;
}

}  // namespace tessly
