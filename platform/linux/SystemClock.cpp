#include <time.h>

#include "base/Clock.h"

namespace tessly {
namespace {

double seconds(clockid_t id) noexcept {
    timespec ts{};
    clock_gettime(id, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

class SystemClock final : public Clock {
  public:
    double wallNow() noexcept override { return seconds(CLOCK_REALTIME); }
    double monotonicNow() noexcept override { return seconds(CLOCK_MONOTONIC); }
};

}  // namespace

Clock& Clock::Default() noexcept {
    static SystemClock clock;
    return clock;
}

}  // namespace tessly
