#pragma once
// The decoders of RecordsJSON.h for TesslyKit's own readers, which must tell "no memory" from
// "not a record": an allocation failure is thrown (std::bad_alloc) here, where the public
// decoders take it for text that does not decode. Nothing else is thrown.

#include <optional>
#include <string_view>

#include <TesslyKit/Records.h>

namespace tessly::detail {

std::optional<SensorsPayload> decodeSensorsPayloadOrThrow(std::string_view text);
std::optional<SensorControl> decodeSensorControlOrThrow(std::string_view text);

}  // namespace tessly::detail
