// The names and labels of hwmon sensors: attribute text, attribute file names and indexes, and
// the sorting of chips and inputs into categories. Whatever the bytes, the text shown is valid
// UTF-8, a parsed file name is the one its parts spell, and the classifiers agree.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "Check.h"
#include "Utf8.h"
#include "platform/linux/HwmonClassification.h"
#include "platform/linux/SysfsText.h"

namespace tessly::fuzz {
namespace {

bool endsInWhitespace(std::string_view text) {
    return !text.empty() &&
           std::string_view(" \t\n\v\f\r").find(text.back()) != std::string_view::npos;
}

std::string spelled(const hwmon::SensorAttribute& attribute) {
    using enum hwmon::SensorItem;
    const hwmon::SensorItem item = attribute.item;
    const char* const suffix = item == input   ? "_input"
                               : item == label ? "_label"
                               : item == min   ? "_min"
                                               : "_max";
    return (attribute.type == hwmon::SensorType::temp ? "temp" : "fan") +
           std::to_string(attribute.index) + suffix;
}

}  // namespace
}  // namespace tessly::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tessly;
    const std::string_view raw(reinterpret_cast<const char*>(data), size);

    const std::string text = hwmon::attributeText(raw);
    FUZZ_CHECK(fuzz::isValidUTF8(text));
    FUZZ_CHECK(!fuzz::endsInWhitespace(text));
    FUZZ_CHECK(hwmon::attributeText(text) == text);
    // Text that needs no repair comes back as it is, without its trailing whitespace.
    if (fuzz::isValidUTF8(raw) && !fuzz::endsInWhitespace(raw)) FUZZ_CHECK(text == raw);

    if (const auto attribute = hwmon::parseSensorAttribute(raw)) {
        FUZZ_CHECK(attribute->index >= 1);
        FUZZ_CHECK(fuzz::spelled(*attribute) == raw);
    }
    if (const auto index = hwmon::parseIndex(raw)) {
        FUZZ_CHECK(*index <= 999'999);
        FUZZ_CHECK(std::to_string(*index) == raw);
    }

    // A chip's name reaches discovery as text repaired like this. An input that is its chip's
    // only one feeds what the chip's name says, or nothing with a reason.
    const std::string labels[] = {"temp1"};
    const auto use = hwmon::classifyTemperature(text, "temp1", labels, false);
    FUZZ_CHECK(use.category == hwmon::chipCategory(text));
    FUZZ_CHECK(use.reason.empty() == use.category.has_value());
    return 0;
}
