#pragma once
// A value, or why not: the one result shape of the project for an operation whose caller needs
// the reason of a failure (an errno, an error text). Where the reason does not matter, an
// std::optional says enough.
//
// The surface is that of C++23's std::expected, so that the type can be replaced by it once the
// project's compilers all offer it. Nothing here throws: reaching for the value of a result that
// holds an error is a programming error that the assertions of a debug build catch.

#include <cassert>
#include <optional>
#include <type_traits>
#include <utility>

namespace tessly {

// The error of a failed result, as `return unexpected(errno);` spells it.
template <typename E>
struct Unexpected {
    E error;
};

template <typename E>
Unexpected<std::decay_t<E>> unexpected(E&& error) {
    return {std::forward<E>(error)};
}

template <typename T, typename E = int>
class Expected {
  public:
    using value_type = T;
    using error_type = E;

    // A value-initialised value (an Expected<bool> is false, not failed).
    Expected() : value_(std::in_place) {}
    Expected(const T& value) : value_(value) {}  // NOLINT: implicit, as std::expected
    Expected(T&& value) : value_(std::move(value)) {}
    template <typename G>
    Expected(Unexpected<G> failure) : error_(std::move(failure.error)) {}  // NOLINT

    bool has_value() const noexcept { return value_.has_value(); }
    explicit operator bool() const noexcept { return has_value(); }

    T& operator*() & noexcept {
        assert(has_value());
        return *value_;
    }
    const T& operator*() const& noexcept {
        assert(has_value());
        return *value_;
    }
    T&& operator*() && noexcept {
        assert(has_value());
        return std::move(*value_);
    }
    T* operator->() noexcept { return &**this; }
    const T* operator->() const noexcept { return &**this; }

    // The error; meaningful only when there is no value.
    const E& error() const noexcept { return error_; }

    template <typename U>
    T value_or(U&& fallback) const& {
        return value_ ? *value_ : static_cast<T>(std::forward<U>(fallback));
    }
    template <typename U>
    T value_or(U&& fallback) && {
        return value_ ? std::move(*value_) : static_cast<T>(std::forward<U>(fallback));
    }

    // The value as an optional, for callers that need only whether there is one.
    const std::optional<T>& optional() const& noexcept { return value_; }
    std::optional<T>&& optional() && noexcept { return std::move(value_); }

  private:
    std::optional<T> value_;
    E error_{};
};

}  // namespace tessly
