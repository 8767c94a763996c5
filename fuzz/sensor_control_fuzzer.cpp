// The reader of "control.json" over arbitrary bytes: it never crashes, and what it accepts
// survives a round trip.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "RoundTrip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    tessly::fuzz::checkRoundTrip(text, &tessly::decodeSensorControl);
    return 0;
}
