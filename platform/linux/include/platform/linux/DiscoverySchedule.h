#pragma once
// When the sensors are discovered again. Discovery (directory walks, name and label reads, files
// opened anew) is kept off the sampling path; it runs:
//   - before the first reading;
//   - after a device event (a chip or power supply came, went or changed), at the next look, so
//     a burst of events makes one discovery;
//   - when a kept file reports that its device is gone: at once, but only one such early
//     discovery per period, so a file that keeps reporting ENODEV while its directory stays
//     cannot turn every reading into a discovery;
//   - and once no event has arrived for a period (no event source, or one that receives nothing,
//     as in a container with a network namespace of its own): then the class directories are
//     listed, and discovery runs only when that listing changed.

#include <cstdint>
#include <optional>

#include "platform/linux/DeviceEvents.h"

namespace tessly::hwmon {

class DiscoverySchedule {
  public:
    // Seconds on the monotonic clock between two looks that no event prompted.
    static constexpr double period = 60.0;

    enum class Due {
        nothing,
        discovery,     // discover now
        listingCheck,  // list the class directories; discover only when they changed
    };

    // `changes` (null: none) must outlive the schedule.
    explicit DiscoverySchedule(const DeviceChanges* changes = nullptr) noexcept
        : changes_(changes) {}

    Due due(double now) const noexcept {
        if (!lastDiscovery_) return Due::discovery;
        if (changes_ != nullptr && changes_->generation() != seen_) return Due::discovery;
        if (deviceGone_ && (now - *lastDiscovery_ >= period || !earlyUsed_)) return Due::discovery;
        if (now - lastLook_ >= period) return Due::listingCheck;
        return Due::nothing;
    }

    // A discovery ran at `now` (successful or not).
    void discovered(double now) noexcept {
        earlyUsed_ = lastDiscovery_ && deviceGone_ && now - *lastDiscovery_ < period;
        lastDiscovery_ = now;
        lastLook_ = now;
        deviceGone_ = false;
        if (changes_ != nullptr) seen_ = changes_->generation();
    }

    // A listing check at `now` found the listing unchanged.
    void listed(double now) noexcept { lastLook_ = now; }

    // A kept file reported ENODEV or ENOENT.
    void deviceGone() noexcept { deviceGone_ = true; }

  private:
    const DeviceChanges* changes_;
    std::optional<double> lastDiscovery_;
    double lastLook_ = 0;     // the last discovery or listing check
    std::uint64_t seen_ = 0;  // the generation of changes at the last discovery
    bool deviceGone_ = false;
    bool earlyUsed_ = false;  // the last discovery came early, within a period of the one before
};

}  // namespace tessly::hwmon
