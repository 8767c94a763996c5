#pragma once
// Allocation failure on demand, for the tests of the places that must live through it: the
// boundaries that catch std::bad_alloc. A test binary that links tessly_failing_allocation has
// operator new replaced; a planted failure makes one allocation of the planting thread throw.

#include <cstddef>

namespace tessly::testing {

// The allocation `after` allocations from now on this thread throws std::bad_alloc, once (0: the
// very next one).
void failAllocation(std::size_t after) noexcept;
// Takes back a planted failure that has not struck yet; whether it struck.
bool withdrawAllocationFailure() noexcept;

// Runs `call` with its first allocation failing, then again with its second failing, and so on,
// until a run is done before the planted failure strikes; after each run `check` is given what
// the run returned and whether the failure struck in it. Returns the number of runs in which an
// allocation failed. Nothing else may allocate inside `call`, or the failure strikes there.
template <class Call, class Check>
std::size_t failEachAllocation(Call&& call, Check&& check) {
    for (std::size_t n = 0;; ++n) {
        failAllocation(n);
        auto result = call();
        const bool struck = withdrawAllocationFailure();
        check(result, struck);
        if (!struck) return n;
    }
}

}  // namespace tessly::testing
