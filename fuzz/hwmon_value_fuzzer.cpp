// The sensor values of hwmon attribute files: parseSysfsInteger against a plain reference
// parser, and SensorFile reading the same bytes as a file's content (with open and read failures
// chosen by the input), which must give the same value and close whatever it opened.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Check.h"
#include "platform/linux/FileReader.h"
#include "platform/linux/SensorFile.h"
#include "platform/linux/SysfsText.h"

namespace tessly::fuzz {
namespace {

// An optional '-' and decimal digits within the signed 64-bit range, with ASCII whitespace
// around them.
std::optional<std::int64_t> referenceInteger(std::string_view text) {
    constexpr std::string_view whitespace = " \t\n\v\f\r";
    const auto first = text.find_first_not_of(whitespace);
    if (first == std::string_view::npos) return std::nullopt;
    text = text.substr(first, text.find_last_not_of(whitespace) - first + 1);
    const bool negative = text.front() == '-';
    if (negative) text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    const std::uint64_t limit =
        static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + (negative ? 1 : 0);
    std::uint64_t magnitude = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (magnitude > (limit - digit) / 10) return std::nullopt;
        magnitude = magnitude * 10 + digit;
    }
    // Unsigned to signed conversion is modular, so the negated magnitude 2^63 gives the minimum.
    return static_cast<std::int64_t>(negative ? 0 - magnitude : magnitude);
}

// One file whose content and failures the input chooses; counts the files open.
class OneFileReader final : public hwmon::FileReader {
  public:
    std::string_view content;
    int openError = 0;
    int readError = 0;
    int openNow = 0;

    hwmon::IoResult<std::vector<std::string>> listDirectory(const std::string&) override {
        return unexpected(ENOTDIR);
    }
    hwmon::IoResult<int> open(const std::string&) noexcept override {
        if (openError != 0) return unexpected(openError);
        ++openNow;
        return 3;
    }
    hwmon::IoResult<std::size_t> readAt0(int, std::span<char> buffer) noexcept override {
        if (readError != 0) return unexpected(readError);
        return content.copy(buffer.data(), buffer.size());
    }
    bool mayKeepOpen(int) const noexcept override { return true; }
    void close(int) noexcept override { --openNow; }
    hwmon::IoResult<std::string> readLink(const std::string&) override {
        return unexpected(EINVAL);
    }
};

}  // namespace
}  // namespace tessly::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tessly;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    FUZZ_CHECK(hwmon::parseSysfsInteger(text) == fuzz::referenceInteger(text));

    // The first byte chooses the failures, the rest is the file's content.
    if (text.empty()) return 0;
    static constexpr int errors[] = {0, 0, 0, 0, ENODEV, ENOENT, EIO, EAGAIN};
    fuzz::OneFileReader reader;
    reader.content = text.substr(1);
    const auto choice = static_cast<unsigned char>(text.front());
    {
        hwmon::SensorFile file(reader, "/sys/class/hwmon/hwmon0/temp1_input");
        for (int i = 0; i < 3; ++i) {
            reader.openError = i == 0 ? errors[choice & 7] : 0;
            reader.readError = i == 1 ? errors[(choice >> 3) & 7] : 0;
            const hwmon::SensorValue value = file.read();
            const int error = reader.openError + reader.readError;  // at most one is set
            FUZZ_CHECK(value.error == error);
            // A failed read, or one that fills the 64-byte buffer, holds no sensor value.
            FUZZ_CHECK(value.value == (error != 0 || reader.content.size() >= 64
                                           ? std::nullopt
                                           : hwmon::parseSysfsInteger(reader.content)));
        }
        FUZZ_CHECK(reader.openNow <= 1);  // at most the one kept open
    }
    FUZZ_CHECK(reader.openNow == 0);
    return 0;
}
