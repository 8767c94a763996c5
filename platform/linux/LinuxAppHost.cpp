#include <cstdlib>

#include "platform/AppHost.h"
#include "platform/linux/EventLoop.h"

namespace tessly {
namespace {

// The Linux application object: a delegate called once, then the event loop. There is no Dock or
// menu bar, and SIGTERM/SIGINT keep their default meaning (the agent has no closing step).
class LinuxAppHost final : public AppHost {
  public:
    void setDelegate(AppDelegate* delegate) noexcept override { delegate_ = delegate; }
    void setActivationPolicyAccessory() noexcept override {}

    void run() override {
        if (delegate_ != nullptr) delegate_->applicationDidFinishLaunching();
        loop_.run();
    }

    std::shared_ptr<RepeatingTimer> scheduleRepeatingTimer(double interval,
                                                           std::function<void()> action) override {
        return loop_.addRepeatingTimer(interval, std::move(action));
    }

    void terminate() noexcept override { std::exit(0); }

  private:
    AppDelegate* delegate_ = nullptr;
    linux_host::EventLoop loop_;
};

}  // namespace

AppHost& AppHost::shared() {
    static LinuxAppHost host;
    return host;
}

}  // namespace tessly
