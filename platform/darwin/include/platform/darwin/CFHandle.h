#pragma once
// Ownership of one CoreFoundation object. Whatever a Create or Copy call returns belongs to the
// caller; a CFHandle holds that reference and releases it exactly once, when destroyed or reset.
// It never releases NULL, which CoreFoundation does not accept.

#include <CoreFoundation/CoreFoundation.h>

#include <utility>

namespace tessly::darwin {

template <class Ref>
class CFHandle {
  public:
    CFHandle() noexcept = default;
    // Takes over a reference the caller owns; NULL (a failed Create or Copy) makes an empty handle.
    explicit CFHandle(Ref ref) noexcept : ref_(ref) {}

    CFHandle(CFHandle&& other) noexcept : ref_(std::exchange(other.ref_, nullptr)) {}
    CFHandle& operator=(CFHandle&& other) noexcept {
        if (this != &other) {
            reset();
            ref_ = std::exchange(other.ref_, nullptr);
        }
        return *this;
    }
    CFHandle(const CFHandle&) = delete;
    CFHandle& operator=(const CFHandle&) = delete;
    ~CFHandle() { reset(); }

    // The object, still owned by the handle; NULL when empty.
    Ref get() const noexcept { return ref_; }
    explicit operator bool() const noexcept { return ref_ != nullptr; }

    void reset() noexcept {
        if (ref_ != nullptr) CFRelease(ref_);
        ref_ = nullptr;
    }

  private:
    Ref ref_ = nullptr;
};

}  // namespace tessly::darwin
