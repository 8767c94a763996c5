#pragma once
// When the sensors are discovered again. Discovery (directory walks, name and label reads, files
// opened anew) is kept off the sampling path: it runs at most once a minute, and at once when a
// kept file reports that its device is gone. Only one such early discovery is granted per minute,
// so a file that keeps reporting ENODEV while its directory stays cannot turn every reading into
// a discovery.

#include <optional>

namespace tessly::hwmon {

class DiscoverySchedule {
  public:
    // Seconds on the monotonic clock between regular discoveries.
    static constexpr double period = 60.0;

    // Whether discovery recurs every period, or only once something is found gone.
    enum class Cadence { everyPeriod, whenGone };

    // Whether to discover at monotonic time `now`: before the first discovery; when a device was
    // reported gone (early at most once per period); and, at Cadence::everyPeriod, once the
    // period has passed.
    bool due(double now, Cadence cadence) const noexcept {
        if (!last_) return true;
        if (now - *last_ >= period) return cadence == Cadence::everyPeriod || deviceGone_;
        return deviceGone_ && !earlyUsed_;
    }

    // A discovery ran at `now` (successful or not).
    void discovered(double now) noexcept {
        earlyUsed_ = last_ && deviceGone_ && now - *last_ < period;
        last_ = now;
        deviceGone_ = false;
    }

    // A kept file reported ENODEV or ENOENT.
    void deviceGone() noexcept { deviceGone_ = true; }

  private:
    std::optional<double> last_;
    bool deviceGone_ = false;
    bool earlyUsed_ = false;  // the last discovery came early, within a period of the one before
};

}  // namespace tessly::hwmon
