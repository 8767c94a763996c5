#pragma once
// The round trip every decoder must keep: whatever decodes is a record that encodes (a decoded
// number is always finite), and its bytes decode to a record that encodes to the same bytes
// again. The encoding tells every finite double apart, -0.0 from 0.0 included, so equal bytes
// mean a bit-identical record.

#include <TesslyKit/RecordsJSON.h>

#include <optional>
#include <string>
#include <string_view>

#include "Check.h"

namespace tessly::fuzz {

template <class Record>
void checkRoundTrip(std::string_view text,
                    std::optional<Record> (*decode)(std::string_view) noexcept) {
    const std::optional<Record> record = decode(text);
    // No JSON text holds a raw NUL byte.
    if (text.find('\0') != std::string_view::npos) FUZZ_CHECK(!record);
    if (!record) return;
    const std::optional<std::string> bytes = encodeJSON(*record);
    FUZZ_CHECK(bytes.has_value());
    const std::optional<Record> again = decode(*bytes);
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(encodeJSON(*again) == bytes);
}

}  // namespace tessly::fuzz
