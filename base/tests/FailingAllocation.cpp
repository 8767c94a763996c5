// operator new and delete over malloc and free, with the failure that FailingAllocation.h plants.
// Every form is replaced, the non-throwing ones included, so that all memory is freed by the
// allocator that gave it (a sanitizer would report any other pairing).

#include "testing/FailingAllocation.h"

#include <cstdlib>
#include <new>

namespace {

// Plain values only: reading them from operator new must not allocate.
thread_local bool planted = false;
thread_local std::size_t allocationsLeft = 0;

}  // namespace

namespace tessly::testing {

void failAllocation(std::size_t after) noexcept {
    planted = true;
    allocationsLeft = after;
}

bool withdrawAllocationFailure() noexcept {
    const bool struck = !planted;
    planted = false;
    return struck;
}

}  // namespace tessly::testing

// Kept out of line: inlined into a caller, the free() below looks mismatched to the compiler.
[[gnu::noinline]] void* operator new(std::size_t size) {
    if (planted) {
        if (allocationsLeft == 0) {
            planted = false;
            throw std::bad_alloc();
        }
        --allocationsLeft;
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
[[gnu::noinline]] void* operator new[](std::size_t size) {
    return ::operator new(size);
}
[[gnu::noinline]] void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
[[gnu::noinline]] void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return ::operator new(size, std::nothrow);
}
[[gnu::noinline]] void operator delete(void* p) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete[](void* p) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
