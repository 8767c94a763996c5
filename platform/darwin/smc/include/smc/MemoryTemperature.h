#pragma once
// Memory temperature from the SMC's "TRD" keys over a connection of its own. Which of the 21
// candidate keys (smc::memoryKeys) a machine offers is found once; afterwards only those keys are
// read. Not thread-safe: one reader, one thread.

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>

#include "smc/SMCBridge.h"
#include "smc/SMCKeys.h"

namespace tessly {

class MemoryTemperature {
  public:
    // Owns `smc`; a bridge that is not open makes a reader that never yields a temperature.
    explicit MemoryTemperature(SMCBridge smc) noexcept : smc_(std::move(smc)) {}

    // The highest finite temperature above 0, in degrees Celsius, among the kept keys, or
    // nothing. Nothing, and no key read, while the SMC is not open. The probe runs once, on the
    // first call that finds the SMC open, and keeps the candidates of type "flt " with at least 4
    // value bytes, in candidate order, whatever it finds (a probe that keeps none is not
    // repeated). Every later call reads only the kept keys and passes over any that fail or no
    // longer qualify on that call. Allocates nothing.
    std::optional<double> readMemoryTemperature() noexcept;

  private:
    void probe() noexcept;

    SMCBridge smc_;
    bool probed_ = false;
    // The kept candidates; views of static names, so a probe allocates nothing.
    std::array<std::string_view, smc::memoryKeys.size()> keys_{};
    std::size_t keyCount_ = 0;
};

}  // namespace tessly
