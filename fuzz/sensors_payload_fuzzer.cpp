// The reader of "sensors.json" over arbitrary bytes: it never crashes, and what it accepts
// survives a round trip. The nested readings are decoded on their own as well.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "RoundTrip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    tessly::fuzz::checkRoundTrip(text, &tessly::decodeSensorsPayload);
    tessly::fuzz::checkRoundTrip(text, &tessly::decodeThermalReading);
    tessly::fuzz::checkRoundTrip(text, &tessly::decodeFanReading);
    return 0;
}
