#pragma once
// Four-character codes: SMC key names and data types packed into 32 bits, first character in the
// most significant byte.

#include <cstdint>
#include <string_view>

namespace tessly {

// Packs the last four bytes of `text` (shorter texts right-aligned; "" gives 0). Never fails.
constexpr std::uint32_t fourCC(std::string_view text) noexcept {
    std::uint32_t code = 0;
    for (char c : text) {
        code = (code << 8) | static_cast<std::uint8_t>(c);
    }
    return code;
}

}  // namespace tessly
