#pragma once
// The SMC keys the fan sampler and the memory temperature read: one home for their names.
//
//   "FNum"                       the number of fans ("ui8 ")
//   "F<i>Ac", "F<i>Mn", "F<i>Mx"  fan i's speed, minimum and maximum ("flt " or "fpe2")
//   "TRD0".."TRD9", "TRDX", "TRDa".."TRDj"  the memory temperatures a machine may offer ("flt ")

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tessly::smc {

inline constexpr std::string_view fanCountKey = "FNum";

// The most fans whose keys can be told apart: a key code keeps the last four characters of its
// name, so "F110Ac" would read as "F10Ac".
inline constexpr std::size_t mostFans = 110;

enum class FanValue { speed, minimum, maximum };

// The name of one fan's key, formatted in place: a sample builds no strings.
class FanKey {
  public:
    // `index` from 0; an index beyond three digits is cut to its last three.
    FanKey(std::size_t index, FanValue value) noexcept;
    std::string_view name() const noexcept { return {text_.data(), size_}; }

  private:
    std::array<char, 6> text_{};  // "F" + up to three digits + two letters
    std::size_t size_ = 0;
};

// The memory-temperature keys, in the order they are probed.
inline constexpr std::array<std::string_view, 21> memoryKeys{
    "TRD0", "TRD1", "TRD2", "TRD3", "TRD4", "TRD5", "TRD6", "TRD7", "TRD8", "TRD9", "TRDX",
    "TRDa", "TRDb", "TRDc", "TRDd", "TRDe", "TRDf", "TRDg", "TRDh", "TRDi", "TRDj",
};

}  // namespace tessly::smc
