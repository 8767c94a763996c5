#include "smc/FourCC.h"

#include <cstdint>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace tessly {
namespace {

using namespace std::string_literals;

TEST(FourCCTest, PacksLastFourBytesFirstCharacterMostSignificant) {
    // Shorter texts are right-aligned, longer ones keep their last four bytes, UTF-8 bytes are
    // packed as they are.
    const std::pair<std::string_view, std::uint32_t> cases[] = {
        {"FNum", 0x464E756D},   {"flt ", 0x666C7420},
        {"fpe2", 0x66706532},   {"", 0},
        {"ab", 0x00006162},     {"F10Ac", 0x31304163},
        {"F100Mx", 0x30304D78}, {"F\xC3\xA9", 0x0046C3A9}};
    for (const auto& [text, code] : cases)
        EXPECT_EQ(fourCC(text), code) << '"' << text << '"';
}

TEST(FourCCTest, DecodesAsciiAndRejectsAnyHighByte) {
    // A zero byte is a character like any other.
    const std::pair<std::uint32_t, std::string> cases[] = {
        {0x666C7420, "flt "},    {0x464E756D, "FNum"},
        {0x00006162, "\0\0ab"s}, {0x7F7F7F7F, "\x7F\x7F\x7F\x7F"},
        {0x80666C74, ""},        {0x666C7480, ""},
        {0x66FF7420, ""},        {0xFFFFFFFF, ""}};
    for (const auto& [code, text] : cases)
        EXPECT_EQ(decodeFourCC(code), text) << std::hex << code;
}

}  // namespace
}  // namespace tessly
