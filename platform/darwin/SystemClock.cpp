// The system clock on macOS.
//
// Wall time is CLOCK_REALTIME, the kernel calendar clock that Foundation's current date reads
// too, without a detour through the 2001 reference date of CFAbsoluteTime.
//
// Monotonic time is CLOCK_MONOTONIC_RAW, which on macOS is mach_continuous_time in seconds: it
// keeps counting while the Mac sleeps and is never slewed by time synchronisation. An interval that
// spans a sleep is as long as it really was; a clock that stops during sleep (CLOCK_UPTIME_RAW,
// mach_absolute_time) would let the thermal throttle refuse the first reading after a wake as if
// no time had passed.

#include <time.h>

#include "platform/darwin/DarwinServices.h"

namespace tessly::darwin {
namespace {

double seconds(clockid_t id) noexcept {
    timespec ts{};
    clock_gettime(id, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

class DarwinSystemClock final : public Clock {
  public:
    double wallNow() noexcept override { return seconds(CLOCK_REALTIME); }
    double monotonicNow() noexcept override { return seconds(CLOCK_MONOTONIC_RAW); }
};

}  // namespace

Clock& systemClock() noexcept {
    static DarwinSystemClock clock;
    return clock;
}

}  // namespace tessly::darwin
