#pragma once
// Device events: the kernel's add, remove and change events for hwmon and power_supply devices,
// so that sensors are discovered again when, and only when, devices come, go or change.
//
// The loop waits on the event source's descriptor beside its timers and drains it when readable;
// a drain that found a relevant event advances DeviceChanges' generation, which discovery
// compares at its next look (on the next tick), so a burst of events makes one rediscovery.
// Where no source can be made, or one fails, discovery falls back to walking once a minute.

#include <cstdint>
#include <memory>

#include "platform/linux/EventLoop.h"

namespace tessly::hwmon {

// What discovery consults: whether device events are being received, and whether any arrived
// since it last looked. One thread.
class DeviceChanges {
  public:
    // Events are being received: a change will be told, so discovery need not walk on its own.
    bool watching() const noexcept { return watching_; }
    // Advances with every drain that found a relevant event, and when watching starts or stops
    // (what happened in between is unknown).
    std::uint64_t generation() const noexcept { return generation_; }

    void startWatching() noexcept {
        watching_ = true;
        ++generation_;
    }
    void changed() noexcept { ++generation_; }
    void stopWatching() noexcept {
        watching_ = false;
        ++generation_;
    }

    // The changes of this machine's /sys, which the platform's default sensors consult and the
    // application's loop feeds.
    static DeviceChanges& machine() noexcept;

  private:
    bool watching_ = false;
    std::uint64_t generation_ = 0;
};

// Seam: a source of device events, read without blocking.
class DeviceEventSource {
  public:
    virtual ~DeviceEventSource() = default;

    enum class Drained {
        nothing,  // no event, or none for a sensor-bearing device
        changed,  // a sensor-bearing device was added, removed or changed, or events were lost
        failed,   // the source can no longer be read
    };

    // The descriptor that is readable while events are pending.
    virtual int fd() const noexcept = 0;
    // Receives every pending event; foreign or malformed messages are passed over.
    virtual Drained drain() noexcept = 0;
};

// The kernel's uevents through libudev's monitor, loaded at run time from libudev.so.1, filtered
// to the hwmon and power_supply subsystems. The kernel source rather than udevd's: it needs no
// udev daemon (containers, minimal systems), and hwmon attributes exist before the kernel sends
// "add", so nothing waits on udev's rules. Null where libudev or a netlink socket is missing.
std::unique_ptr<DeviceEventSource> openKernelDeviceEvents();

// Has `loop` drain `source` whenever it is readable and tell `changes`. When the source fails,
// the loop stops waiting on it and `changes` stops watching. Nothing without a source.
void watchDevices(linux_host::EventLoop& loop, DeviceChanges& changes,
                  std::unique_ptr<DeviceEventSource> source);

}  // namespace tessly::hwmon
