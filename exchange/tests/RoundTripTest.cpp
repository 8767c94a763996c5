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
    double pick(std::initializer_list<double> values) {
        return values.begin()[below(values.size())];
    }
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
                const double v =
                    pick({0x1p53, 0x1p63, 0x1p64, 0x1p52}) + static_cast<double>(below(9)) - 4;
                return coin() ? v : -v;
            }
            case 5:  // a temperature or a speed
                return std::round((unit() * 200 - 50) * 1000) / 1000;
            case 6: {  // edges of the type
                using L = std::numeric_limits<double>;
                const double v = pick({L::max(), L::min(), L::denorm_min(), L::epsilon(),
                                       std::nextafter(1.0, 2.0), std::nextafter(L::max(), 0.0), 0.1,
                                       1e-300, 1767225600.5});
                return coin() ? v : -v;
            }
            case 7:  // a time with a fraction
                return 1.7e9 + unit() * 1e8;
            default:  // any exponent: [0.5, 1) times 2^-1074 ... 2^1024, all finite
                return std::ldexp(0.5 + unit() / 2, static_cast<int>(below(2099)) - 1074);
        }
    }

    std::optional<double> maybe() { return below(4) == 0 ? std::nullopt : std::optional(finite()); }

    std::int64_t count() {
        switch (below(4)) {
            case 0:
                return static_cast<std::int64_t>(below(8));
            case 1:
                return coin() ? INT64_MAX : INT64_MIN;
            default:
                return static_cast<std::int64_t>(bits());
        }
    }

    // Valid UTF-8: code points by class (control, JSON's escapes, printable ASCII, then two,
    // three and four UTF-8 bytes, surrogates excluded).
    std::string text() {
        static constexpr std::uint32_t base[] = {0, 0, 0x20, 0x80, 0x800, 0x10000};
        static constexpr std::uint32_t span[] = {0x20, 6, 0x5F, 0x780, 0xF800, 0x100000};
        std::string out;
        for (std::size_t length = below(12); length > 0; --length) {
            const std::size_t kind = below(6);
            auto c = static_cast<std::uint32_t>(base[kind] + below(span[kind]));
            if (kind == 1) c = static_cast<unsigned char>("\"\\/ .-"[c]);
            if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
            const int n = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
            out += static_cast<char>(n == 1 ? c : ((0xFF00u >> n) & 0xFFu) | (c >> (6 * (n - 1))));
            for (int k = n - 2; k >= 0; --k)
                out += static_cast<char>(0x80u | ((c >> (6 * k)) & 0x3Fu));
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
    std::mt19937_64 rng_;
};

// Writing never fails for finite numbers, reads back bit for bit, and is a function of the
// record alone.
template <class Record>
void expectRoundTrip(const Record& record,
                     std::optional<Record> (*decode)(std::string_view) noexcept) {
    const auto text = encodeJSON(record);
    ASSERT_TRUE(text && !text->empty() && text->back() != '\n');
    const auto back = decode(*text);
    ASSERT_TRUE(back && sameBits(*back, record)) << *text;
    ASSERT_EQ(encodeJSON(*back), text);
}

TEST(JSONRoundTrip, GeneratedPayloadsAndControlsComeBackBitForBit) {
    Generator payloads(20260101), controls(42);
    for (int i = 0; i < 10000; ++i) {
        ASSERT_NO_FATAL_FAILURE(expectRoundTrip(payloads.payload(), decodeSensorsPayload)) << i;
        ASSERT_NO_FATAL_FAILURE(expectRoundTrip(controls.control(), decodeSensorControl)) << i;
    }
}

TEST(JSONRoundTrip, EveryDoubleOfARandomSampleReadsBackExactly) {
    Generator generate(7);
    for (int i = 0; i < 50000; ++i) {
        const double value = std::bit_cast<double>(generate.bits());
        if (!std::isfinite(value)) continue;
        ASSERT_NO_FATAL_FAILURE(
            expectRoundTrip(SensorControl{.stopRequestedAt = value}, decodeSensorControl));
    }
}

}  // namespace
}  // namespace tessly
