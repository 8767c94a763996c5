#pragma once
// Reading a fuzz input as a stream of choices: bytes and plain blocks. Every read succeeds; once
// the input is used up, reads give zeros, so a target never needs to check for the end.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace tessly::fuzz {

class FuzzInput {
  public:
    FuzzInput(const std::uint8_t* data, std::size_t size) noexcept : data_(data), size_(size) {}

    bool empty() const noexcept { return size_ == 0; }

    std::uint8_t byte() noexcept { return block<std::uint8_t>(); }

    // The bytes of a trivially copyable value; missing bytes are zero.
    template <class T>
    T block() noexcept {
        static_assert(std::is_trivially_copyable_v<T>);
        T value{};
        const std::size_t n = std::min(sizeof(T), size_);
        std::memcpy(&value, data_, n);
        data_ += n;
        size_ -= n;
        return value;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
};

}  // namespace tessly::fuzz
