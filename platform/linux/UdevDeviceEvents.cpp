// Device events from the kernel through libudev's monitor. libudev is loaded at run time, so the
// agent starts, and walks /sys once a minute instead, where it is not installed.

#include <dlfcn.h>
#include <libudev.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/linux/DeviceEvents.h"

namespace tessly::hwmon {
namespace {

// Messages taken in one drain at most; the loop calls again while more are pending, so a storm
// cannot hold the loop in one drain.
constexpr int messagesPerDrain = 4096;

struct Udev {
    void* handle = nullptr;
    decltype(&::udev_new) newContext = nullptr;
    decltype(&::udev_unref) unref = nullptr;
    decltype(&::udev_monitor_new_from_netlink) newMonitor = nullptr;
    decltype(&::udev_monitor_filter_add_match_subsystem_devtype) matchSubsystem = nullptr;
    decltype(&::udev_monitor_enable_receiving) enableReceiving = nullptr;
    decltype(&::udev_monitor_get_fd) monitorFd = nullptr;
    decltype(&::udev_monitor_receive_device) receive = nullptr;
    decltype(&::udev_monitor_unref) monitorUnref = nullptr;
    decltype(&::udev_device_get_action) action = nullptr;
    decltype(&::udev_device_get_subsystem) subsystem = nullptr;
    decltype(&::udev_device_unref) deviceUnref = nullptr;

    // The library with every function, or nothing.
    static std::optional<Udev> load() noexcept {
        Udev udev;
        udev.handle = ::dlopen("libudev.so.1", RTLD_NOW | RTLD_LOCAL);
        if (udev.handle == nullptr) return std::nullopt;
        const auto bind = [&](auto& function, const char* symbol) {
            void* address = ::dlsym(udev.handle, symbol);
            std::memcpy(&function, &address, sizeof function);
            return address != nullptr;
        };
        if (bind(udev.newContext, "udev_new") && bind(udev.unref, "udev_unref") &&
            bind(udev.newMonitor, "udev_monitor_new_from_netlink") &&
            bind(udev.matchSubsystem, "udev_monitor_filter_add_match_subsystem_devtype") &&
            bind(udev.enableReceiving, "udev_monitor_enable_receiving") &&
            bind(udev.monitorFd, "udev_monitor_get_fd") &&
            bind(udev.receive, "udev_monitor_receive_device") &&
            bind(udev.monitorUnref, "udev_monitor_unref") &&
            bind(udev.action, "udev_device_get_action") &&
            bind(udev.subsystem, "udev_device_get_subsystem") &&
            bind(udev.deviceUnref, "udev_device_unref")) {
            return udev;
        }
        ::dlclose(udev.handle);
        return std::nullopt;
    }
};

bool relevant(const char* subsystem, const char* action) noexcept {
    if (subsystem == nullptr || action == nullptr) return false;
    const std::string_view s(subsystem), a(action);
    return (s == "hwmon" || s == "power_supply") && (a == "add" || a == "remove" || a == "change");
}

// Errors that say the socket itself is unusable; any other failed receive passed over one
// message (a foreign sender, a malformed or filtered message).
bool socketUnusable(int error) noexcept {
    return error == EBADF || error == ENOTSOCK || error == EFAULT || error == ENOTCONN;
}

class UdevDeviceEvents final : public DeviceEventSource {
  public:
    UdevDeviceEvents() noexcept = default;
    UdevDeviceEvents(const UdevDeviceEvents&) = delete;
    UdevDeviceEvents& operator=(const UdevDeviceEvents&) = delete;
    ~UdevDeviceEvents() override {
        if (monitor_ != nullptr) udev_.monitorUnref(monitor_);
        if (context_ != nullptr) udev_.unref(context_);
        if (udev_.handle != nullptr) ::dlclose(udev_.handle);
    }

    // Loads libudev and starts receiving the kernel's events for the sensors' subsystems; false
    // when any step fails. What was opened is released with the object, whether or not it
    // succeeded.
    bool open() noexcept {
        auto library = Udev::load();
        if (!library) return false;
        udev_ = *library;
        context_ = udev_.newContext();
        if (context_ == nullptr) return false;
        monitor_ = udev_.newMonitor(context_, "kernel");
        return monitor_ != nullptr && udev_.matchSubsystem(monitor_, "hwmon", nullptr) >= 0 &&
               udev_.matchSubsystem(monitor_, "power_supply", nullptr) >= 0 &&
               udev_.enableReceiving(monitor_) >= 0 && udev_.monitorFd(monitor_) >= 0;
    }

    int fd() const noexcept override { return udev_.monitorFd(monitor_); }

    Drained drain() noexcept override {
        Drained result = Drained::nothing;
        bool anyReceived = false;
        for (int i = 0; i < messagesPerDrain; ++i) {
            errno = 0;
            if (udev_device* device = udev_.receive(monitor_)) {
                anyReceived = true;
                if (relevant(udev_.subsystem(device), udev_.action(device))) {
                    result = Drained::changed;
                }
                udev_.deviceUnref(device);
                continue;
            }
            const int error = errno;
            if (error == EAGAIN || error == EWOULDBLOCK) return result;
            if (socketUnusable(error)) return Drained::failed;
            // The socket's buffer overflowed: events were lost, any of them may have mattered.
            if (error == ENOBUFS) {
                anyReceived = true;
                result = Drained::changed;
            }
        }
        // A full drain of nothing but failures that consumed nothing would spin the loop.
        return anyReceived ? result : Drained::failed;
    }

  private:
    Udev udev_;
    struct udev* context_ = nullptr;
    udev_monitor* monitor_ = nullptr;
};

}  // namespace

std::unique_ptr<DeviceEventSource> openKernelDeviceEvents() {
    // Made before anything is opened, so that nothing opened is left behind should it fail.
    auto events = std::make_unique<UdevDeviceEvents>();
    if (!events->open()) return nullptr;
    return events;
}

}  // namespace tessly::hwmon
