#pragma once
// The text of sysfs attribute files and the names of hwmon sensor attributes, read as the kernel
// writes them. Pure functions, table-tested.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tessly::hwmon {

// The integer an attribute holds: an optional '-' and decimal digits, with any ASCII whitespace
// (the kernel's trailing newline) around them. Nothing for empty, non-numeric or partly numeric
// text and for values outside the 64-bit range.
std::optional<std::int64_t> parseSysfsInteger(std::string_view text) noexcept;

// The text of a name, label, type or scope file for people and names: trailing whitespace and
// the kernel's newline removed, and every byte that is not part of valid UTF-8 replaced by
// U+FFFD, so that the text can be shown and encoded anywhere.
std::string attributeText(std::string_view raw);

// A decimal index without sign or leading zero ("0", "12"), up to 999999; nothing otherwise.
std::optional<unsigned> parseIndex(std::string_view digits) noexcept;

enum class SensorType { temp, fan };
enum class SensorItem { input, label, min, max };

struct SensorAttribute {
    SensorType type;
    unsigned index;  // 1 or more
    SensorItem item;

    friend bool operator==(const SensorAttribute&, const SensorAttribute&) = default;
};

// The sensor attribute an hwmon file name stands for ("temp9_input", "fan2_max"), or nothing for
// every other file (voltages, alarms, limits we do not read, "temp" without an index, ...).
std::optional<SensorAttribute> parseSensorAttribute(std::string_view fileName) noexcept;

}  // namespace tessly::hwmon
