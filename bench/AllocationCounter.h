#pragma once
// Counts the process's heap allocations: linking AllocationCounter.cpp replaces the global
// operator new, so a benchmark can report allocations per iteration.

#include <cstdint>

namespace tessly::bench {

// Allocations through operator new since the process started.
std::uint64_t allocationCount() noexcept;

}  // namespace tessly::bench
