#pragma once
// A clock that moves only when told to: wall and monotonic time are set or advanced independently,
// so tests can jump the wall clock without touching intervals, and run days of ticks in no time.

#include "base/Clock.h"

namespace tessly {

class ManualClock final : public Clock {
  public:
    explicit ManualClock(double wall = 1'767'225'600.0, double monotonic = 1000.0) noexcept
        : wall_(wall), monotonic_(monotonic) {}

    double wallNow() noexcept override { return wall_; }
    double monotonicNow() noexcept override { return monotonic_; }

    // Moves both clocks forward by the same amount, as real time passing does.
    void advance(double seconds) noexcept {
        wall_ += seconds;
        monotonic_ += seconds;
    }
    // Sets the wall clock alone, as an administrator or a time sync does.
    void setWall(double wall) noexcept { wall_ = wall; }

  private:
    double wall_;
    double monotonic_;
};

}  // namespace tessly
