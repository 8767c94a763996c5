#include "smc/SMCKeys.h"

namespace tessly::smc {

FanKey::FanKey(std::size_t index, FanValue value) noexcept {
    std::size_t n = 0;
    text_[n++] = 'F';
    index %= 1000;
    if (index >= 100) text_[n++] = static_cast<char>('0' + index / 100);
    if (index >= 10) text_[n++] = static_cast<char>('0' + index / 10 % 10);
    text_[n++] = static_cast<char>('0' + index % 10);
    const char* suffix = value == FanValue::speed ? "Ac" : value == FanValue::minimum ? "Mn" : "Mx";
    text_[n++] = suffix[0];
    text_[n++] = suffix[1];
    size_ = n;
}

}  // namespace tessly::smc
