#pragma once
// Seam: the two clocks the agent reads. Wall time stamps what is published and judges stop
// requests; monotonic time measures intervals, so setting the wall clock cannot stall sampling.
// Implementations are called from one thread at a time and never fail.

namespace tessly {

class Clock {
  public:
    virtual ~Clock() = default;

    // Seconds since 1970-01-01 00:00 UTC, with fraction. May jump when the system clock is set.
    virtual double wallNow() noexcept = 0;
    // Seconds since an arbitrary fixed origin; never goes backwards.
    virtual double monotonicNow() noexcept = 0;

    // The platform's system clock; lives for the whole process. Defined by each platform.
    static Clock& Default() noexcept;
};

}  // namespace tessly
