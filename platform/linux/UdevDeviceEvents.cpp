// Device events from the kernel through libudev's monitor. libudev is loaded at run time, so the
// agent starts, and walks /sys once a minute instead, where it is not installed.

#include <dlfcn.h>
#include <libudev.h>

#include <cerrno>
#include <cstring>
#include <new>
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
    UdevDeviceEvents(Udev library, struct udev* context, udev_monitor* monitor) noexcept
        : udev_(library), context_(context), monitor_(monitor) {}
    UdevDeviceEvents(const UdevDeviceEvents&) = delete;
    UdevDeviceEvents& operator=(const UdevDeviceEvents&) = delete;
    ~UdevDeviceEvents() override {
        udev_.monitorUnref(monitor_);
        udev_.unref(context_);
        ::dlclose(udev_.handle);
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
    struct udev* context_;
    udev_monitor* monitor_;
};

}  // namespace

std::unique_ptr<DeviceEventSource> openKernelDeviceEvents() noexcept {
    auto library = Udev::load();
    if (!library) return nullptr;
    struct udev* context = library->newContext();
    udev_monitor* monitor = context ? library->newMonitor(context, "kernel") : nullptr;
    if (monitor != nullptr && library->matchSubsystem(monitor, "hwmon", nullptr) >= 0 &&
        library->matchSubsystem(monitor, "power_supply", nullptr) >= 0 &&
        library->enableReceiving(monitor) >= 0 && library->monitorFd(monitor) >= 0) {
        try {
            return std::make_unique<UdevDeviceEvents>(*library, context, monitor);
        } catch (const std::bad_alloc&) {
        }
    }
    if (monitor != nullptr) library->monitorUnref(monitor);
    if (context != nullptr) library->unref(context);
    ::dlclose(library->handle);
    return nullptr;
}

}  // namespace tessly::hwmon
