#include "smc/FourCC.h"

namespace tessly {

std::string decodeFourCC(std::uint32_t code) {
    std::string text(4, '\0');
    for (std::size_t i = 0; i < 4; ++i) {
        const auto byte = static_cast<std::uint8_t>(code >> (8 * (3 - i)));
        if (byte >= 0x80) return {};
        text[i] = static_cast<char>(byte);
    }
    return text;
}

}  // namespace tessly
