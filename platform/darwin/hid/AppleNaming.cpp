#include "hid/AppleNaming.h"

#include <algorithm>

namespace tessly {
namespace {

bool contains(std::string_view text, std::string_view part) noexcept {
    return text.find(part) != std::string_view::npos;
}

char asciiLower(char c) noexcept {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether `text` lower-cased contains `lowerPart`, which must be lower-case ASCII without 'i' or
// 'k'. For such a part, folding ASCII letters alone finds what full Unicode lower-casing finds:
// the only other characters that lower-case to ASCII letters give 'i' or 'k'.
bool containsIgnoringCase(std::string_view text, std::string_view lowerPart) noexcept {
    const auto found = std::search(text.begin(), text.end(), lowerPart.begin(), lowerPart.end(),
                                   [](char a, char b) { return asciiLower(a) == b; });
    return found != text.end() || lowerPart.empty();
}

}  // namespace

std::optional<TemperatureCategory> appleCategory(std::string_view name) noexcept {
    using enum TemperatureCategory;
    if (contains(name, "tdie")) return cpu;
    if (contains(name, " TP")) {
        if (name.ends_with('s')) return cpu;
        if (name.ends_with('g')) return gpu;
    }
    if (containsIgnoringCase(name, "battery")) return battery;
    if (contains(name, "NAND")) return storage;
    return std::nullopt;
}

}  // namespace tessly
