// The round-trip rule as a property: every record whose numbers are all finite decodes back
// to the same record, bit for bit (so -0.0 keeps its sign), over many generated records from a
// fixed seed. std::mt19937_64's output is fixed by the standard, and no distribution classes are
// used, so the records are the same everywhere.

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

#include "TestSupport.h"

namespace tessly {
namespace {

using test::sameBits;

class Generator {
  public:
    explicit Generator(std::uint64_t seed) : rng_(seed) {}

    std::uint64_t bits() { return rng_(); }
    bool coin() { return (rng_() & 1) != 0; }
    std::size_t below(std::size_t n) { return static_cast<std::size_t>(rng_() % n); }
    double unit() { return static_cast<double>(rng_() >> 11) * 0x1p-53; }  // [0, 1)

    double finite() {
        switch (below(9)) {
            case 0: {  // any finite bit pattern
                for (;;) {
                    const double v = std::bit_cast<double>(bits());
                    if (std::isfinite(v)) return v;
                }
            }
            case 1:  // subnormal, either sign
                return std::bit_cast<double>((bits() & 0x800FFFFFFFFFFFFFULL) | 1);
            case 2:
                return coin() ? 0.0 : -0.0;
            case 3:  // whole, small
                return static_cast<double>(static_cast<std::int64_t>(bits() % 2000001) - 1000000);
            case 4: {  // whole, near where the integer form stops (2^53) and beyond (2^63)
                const double edges[] = {0x1p53, 0x1p63, 0x1p64, 0x1p52};
                double v = edges[below(4)] + static_cast<double>(below(9)) - 4;
                return coin() ? v : -v;
            }
            case 5:  // a temperature or a speed
                return std::round((unit() * 200 - 50) * 1000) / 1000;
            case 6: {  // edges of the type
                const double edges[] = {std::numeric_limits<double>::max(),
                                        std::numeric_limits<double>::min(),
                                        std::numeric_limits<double>::denorm_min(),
                                        std::numeric_limits<double>::epsilon(),
                                        std::nextafter(1.0, 2.0),
                                        std::nextafter(std::numeric_limits<double>::max(), 0.0),
                                        0.1,
                                        1e-300,
                                        1767225600.5};
                const double v = edges[below(std::size(edges))];
                return coin() ? v : -v;
            }
            case 7:  // a time with a fraction
                return 1.7e9 + unit() * 1e8;
            default:  // any exponent: [0.5, 1) times 2^-1074 ... 2^1024, all finite
                return std::ldexp(0.5 + unit() / 2, static_cast<int>(below(2099)) - 1074);
        }
    }

    std::optional<double> maybe() {
        if (below(4) == 0) return std::nullopt;
        return finite();
    }

    std::int64_t count() {
        switch (below(4)) {
            case 0:
                return static_cast<std::int64_t>(below(8));
            case 1:
                return coin() ? std::numeric_limits<std::int64_t>::max()
                              : std::numeric_limits<std::int64_t>::min();
            default:
                return static_cast<std::int64_t>(bits());
        }
    }

    // Valid UTF-8 of every length class, control characters, quotes and backslashes included.
    std::string text() {
        std::string out;
        const std::size_t length = below(12);
        for (std::size_t i = 0; i < length; ++i) {
            char32_t c = 0;
            switch (below(6)) {
                case 0:  // control characters, NUL included
                    c = static_cast<char32_t>(below(0x20));
                    break;
                case 1:  // characters that JSON escapes or may escape
                    c = U"\"\\/ .-"[below(6)];
                    break;
                case 2:  // printable ASCII
                    c = static_cast<char32_t>(0x20 + below(0x5F));
                    break;
                case 3:  // two bytes
                    c = static_cast<char32_t>(0x80 + below(0x780));
                    break;
                case 4:  // three bytes, surrogates excluded
                    c = static_cast<char32_t>(0x800 + below(0xF800));
                    if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
                    break;
                default:  // four bytes
                    c = static_cast<char32_t>(0x10000 + below(0x100000));
                    break;
            }
            appendUTF8(out, c);
        }
        return out;
    }

    ThermalReading thermal() { return {maybe(), maybe(), maybe(), maybe(), maybe()}; }

    FanReading fan() {
        FanReading fan{.rpm = finite(), .fanCount = count()};
        if (coin()) {
            fan.rpms.emplace();
            for (std::size_t n = below(6); n > 0; --n)
                fan.rpms->push_back(finite());
        }
        fan.minRPM = maybe();
        fan.maxRPM = maybe();
        return fan;
    }

    SensorsPayload payload() {
        SensorsPayload payload{.sampledAt = finite()};
        if (coin()) payload.thermal = thermal();
        if (coin()) payload.fan = fan();
        if (coin()) payload.helperVersion = text();
        return payload;
    }

    SensorControl control() { return {.autostart = coin(), .stopRequestedAt = maybe()}; }

  private:
    static void appendUTF8(std::string& out, char32_t c) {
        auto byte = [&](std::uint32_t b) {
            out += static_cast<char>(static_cast<unsigned char>(b));
        };
        const auto u = static_cast<std::uint32_t>(c);
        if (u < 0x80) {
            byte(u);
        } else if (u < 0x800) {
            byte(0xC0 | (u >> 6));
            byte(0x80 | (u & 0x3F));
        } else if (u < 0x10000) {
            byte(0xE0 | (u >> 12));
            byte(0x80 | ((u >> 6) & 0x3F));
            byte(0x80 | (u & 0x3F));
        } else {
            byte(0xF0 | (u >> 18));
            byte(0x80 | ((u >> 12) & 0x3F));
            byte(0x80 | ((u >> 6) & 0x3F));
            byte(0x80 | (u & 0x3F));
        }
    }

    std::mt19937_64 rng_;
};

constexpr int kRecords = 10000;

TEST(JSONRoundTrip, GeneratedPayloadsComeBackBitForBit) {
    Generator generate(20260101);
    for (int i = 0; i < kRecords; ++i) {
        const SensorsPayload payload = generate.payload();
        const auto text = encodeJSON(payload);
        ASSERT_TRUE(text) << "record " << i;
        ASSERT_FALSE(text->empty());
        EXPECT_NE(text->back(), '\n');
        const auto back = decodeSensorsPayload(*text);
        ASSERT_TRUE(back) << *text;
        ASSERT_TRUE(sameBits(*back, payload)) << "record " << i << ": " << *text;
        ASSERT_EQ(encodeJSON(*back), text);  // writing is a function of the record alone
    }
}

TEST(JSONRoundTrip, GeneratedControlsComeBackBitForBit) {
    Generator generate(42);
    for (int i = 0; i < kRecords; ++i) {
        const SensorControl control = generate.control();
        const auto text = encodeJSON(control);
        ASSERT_TRUE(text) << "record " << i;
        const auto back = decodeSensorControl(*text);
        ASSERT_TRUE(back) << *text;
        ASSERT_TRUE(sameBits(*back, control)) << *text;
    }
}

TEST(JSONRoundTrip, EveryDoubleOfARandomSampleReadsBackExactly) {
    // The number form alone, over raw bit patterns: 50000 finite doubles of every exponent.
    Generator generate(7);
    for (int i = 0; i < 50000; ++i) {
        const double value = std::bit_cast<double>(generate.bits());
        if (!std::isfinite(value)) continue;
        const auto text = encodeJSON(SensorControl{.stopRequestedAt = value});
        ASSERT_TRUE(text);
        const auto back = decodeSensorControl(*text);
        ASSERT_TRUE(back && back->stopRequestedAt) << *text;
        ASSERT_TRUE(sameBits(*back->stopRequestedAt, value)) << *text;
    }
}

}  // namespace
}  // namespace tessly
