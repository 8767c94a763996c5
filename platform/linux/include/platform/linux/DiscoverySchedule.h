#pragma once
// When the sensors are discovered again. Discovery (directory walks, name and label reads, files
// opened anew) is kept off the sampling path. While device events are watched it runs after a
// device came, went or changed; otherwise at most once a minute. Either way it runs at once when
// a kept file reports that its device is gone, but only one such early discovery is granted per
// minute, so a file that keeps reporting ENODEV while its directory stays cannot turn every
// reading into a discovery.

#include <cstdint>
#include <optional>

#include "platform/linux/DeviceEvents.h"

namespace tessly::hwmon {

class DiscoverySchedule {
  public:
    // Seconds on the monotonic clock between regular discoveries.
    static constexpr double period = 60.0;

    // Whether discovery follows devices that come (every period, or on device events), or runs
    // only once something is found gone.
    enum class Cadence { followDevices, whenGone };

    // `changes` (null: none) must outlive the schedule.
    explicit DiscoverySchedule(const DeviceChanges* changes = nullptr) noexcept
        : changes_(changes) {}

    // Whether to discover at monotonic time `now`: before the first discovery; when a device was
    // reported gone (early at most once per period); and, at Cadence::followDevices, after a
    // device event while events are watched, or once the period has passed while they are not.
    bool due(double now, Cadence cadence) const noexcept {
        if (!last_) return true;
        const bool periodOver = now - *last_ >= period;
        if (deviceGone_ && (periodOver || !earlyUsed_)) return true;
        return dueByCadence(cadence, periodOver);
    }

    // Whether `due` could be true at some time; when not, a caller need not read the clock.
    bool mayBeDue(Cadence cadence) const noexcept {
        return !last_ || deviceGone_ || dueByCadence(cadence, true);
    }

    // A discovery ran at `now` (successful or not).
    void discovered(double now) noexcept {
        earlyUsed_ = last_ && deviceGone_ && now - *last_ < period;
        last_ = now;
        deviceGone_ = false;
        if (changes_ != nullptr) seen_ = changes_->generation();
    }

    // A kept file reported ENODEV or ENOENT.
    void deviceGone() noexcept { deviceGone_ = true; }

  private:
    bool dueByCadence(Cadence cadence, bool periodOver) const noexcept {
        if (cadence == Cadence::whenGone) return false;
        if (changes_ != nullptr && changes_->watching()) return changes_->generation() != seen_;
        return periodOver || (changes_ != nullptr && changes_->generation() != seen_);
    }

    const DeviceChanges* changes_;
    std::optional<double> last_;
    std::uint64_t seen_ = 0;  // the generation of changes at the last discovery
    bool deviceGone_ = false;
    bool earlyUsed_ = false;  // the last discovery came early, within a period of the one before
};

}  // namespace tessly::hwmon
