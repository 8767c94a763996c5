#include "smc/FourCC.h"

#include <cstdint>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace tessly {
namespace {

using namespace std::string_literals;

struct PackCase {
    std::string_view text;
    std::uint32_t code;
};

TEST(FourCCTest, PacksLastFourBytesFirstCharacterMostSignificant) {
    const PackCase cases[] = {
        {"FNum", 0x464E756D},
        {"flt ", 0x666C7420},
        {"fpe2", 0x66706532},
        {"ui8 ", 0x75693820},
        {"", 0},
        {"ab", 0x00006162},     // shorter texts are right-aligned
        {"F10Ac", 0x31304163},  // longer texts keep their last four bytes
        {"F100Mx", 0x3030'4D78},
        {"F\xC3\xA9", 0x0046C3A9},  // UTF-8 bytes are packed as they are
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fourCC(c.text), c.code) << '"' << c.text << '"';
    }
}

struct DecodeCase {
    std::uint32_t code;
    std::string text;
};

TEST(FourCCTest, DecodesAsciiAndRejectsAnyHighByte) {
    const DecodeCase cases[] = {
        {0x666C7420, "flt "},
        {0x66706532, "fpe2"},
        {0x464E756D, "FNum"},
        {0x00006162, "\0\0ab"s},  // a zero byte is a character like any other
        {0x7F7F7F7F, "\x7F\x7F\x7F\x7F"},
        {0x80666C74, ""},
        {0x666C7480, ""},
        {0x66FF7420, ""},
        {0xFFFFFFFF, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decodeFourCC(c.code), c.text) << std::hex << c.code;
    }
}

}  // namespace
}  // namespace tessly
