#include "platform/linux/DeviceEvents.h"

#include <utility>

namespace tessly::hwmon {

DeviceChanges& DeviceChanges::machine() noexcept {
    static DeviceChanges changes;
    return changes;
}

void watchDevices(linux_host::EventLoop& loop, DeviceChanges& changes,
                  std::unique_ptr<DeviceEventSource> source) {
    if (!source) return;
    // Shared with the reader, which the loop copies; dropped with it when the source fails.
    std::shared_ptr<DeviceEventSource> shared = std::move(source);
    const int fd = shared->fd();
    loop.addReader(fd, [shared, &changes] {
        switch (shared->drain()) {
            case DeviceEventSource::Drained::nothing:
                return true;
            case DeviceEventSource::Drained::changed:
                changes.changed();
                return true;
            case DeviceEventSource::Drained::failed:
                break;
        }
        changes.stopWatching();
        return false;
    });
    changes.startWatching();
}

}  // namespace tessly::hwmon
