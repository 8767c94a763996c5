// SMC reply decoding over replies taken from the fuzz input: key reads through SMCBridge, the fan
// sampler (fan count, speeds and limits in every type and size a driver may claim) and the
// memory-temperature probe. Whatever the driver answers, nothing reads past the reply block and
// every reading can be published.
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include <TesslyKit/RecordsJSON.h>

#include "Check.h"
#include "FuzzInput.h"
#include "smc/FanSampler.h"
#include "smc/FourCC.h"
#include "smc/MemoryTemperature.h"
#include "smc/SMCBridge.h"
#include "smc/SMCDriver.h"

namespace tessly::fuzz {
namespace {

// A driver whose every reply comes from the input. A first byte with the high bit set takes the
// next 80 bytes as the whole reply block; otherwise the reply follows the protocol's shape (the
// request echoed, then a result byte, and key information or value bytes) with the sizes, types
// and values from the input, and a low nibble of 0 makes the exchange itself fail.
class FuzzedSMCDriver final : public SMCDriver {
  public:
    explicit FuzzedSMCDriver(FuzzInput& input) noexcept : input_(&input) {}

    std::optional<SMCKeyData> call(const SMCKeyData& request) noexcept override {
        if (input_->empty()) return std::nullopt;
        const std::uint8_t mode = input_->byte();
        if ((mode & 0x80) != 0) return input_->block<SMCKeyData>();
        if ((mode & 0x0F) == 0) return std::nullopt;
        SMCKeyData reply = request;
        reply.result = (mode & 0x0F) == 1 ? input_->byte() : 0;
        if (request.command == SMCKeyData::keyInfoCommand) {
            static constexpr std::array<std::uint32_t, 4> types = {fourCC("flt "), fourCC("fpe2"),
                                                                   fourCC("ui8 "), fourCC("si16")};
            reply.dataSize = input_->byte();  // beyond the 32-byte value area too
            const std::uint8_t type = input_->byte();
            reply.dataType =
                type < 0xF0 ? types[type % types.size()] : input_->block<std::uint32_t>();
        } else {
            const std::size_t size = std::min<std::size_t>(request.dataSize, reply.bytes.size());
            for (std::size_t i = 0; i < size; ++i)
                reply.bytes[i] = input_->byte();
        }
        return reply;
    }

  private:
    FuzzInput* input_;
};

}  // namespace
}  // namespace tessly::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tessly;
    fuzz::FuzzInput input(data, size);

    const SMCBridge bridge(std::make_unique<fuzz::FuzzedSMCDriver>(input));
    for (const std::string_view key : {"FNum", "F0Ac", "TRD0"}) {
        if (const auto value = bridge.readKey(key))
            FUZZ_CHECK(value->bytes().size() <= SMCKeyData{}.bytes.size());
    }
    (void)bridge.readUInt8("FNum");

    // The first sample reads the count and the limits, later ones the speeds alone. What the
    // sampler hands over can be published; how it reduces is FanSource's (fans/tests).
    FanSampler fans(SMCBridge(std::make_unique<fuzz::FuzzedSMCDriver>(input)));
    for (int i = 0; i < 3; ++i) {
        const auto reading = fans.readFans();
        if (!reading) continue;
        FUZZ_CHECK(reading->fanCount >= 1 && reading->fanCount <= 255);
        FUZZ_CHECK(reading->rpms &&
                   reading->rpms->size() == static_cast<std::size_t>(reading->fanCount));
        FUZZ_CHECK(encodeJSON(SensorsPayload{.fan = reading, .sampledAt = 0}).has_value());
    }

    // The probe of the memory keys, then reads of the keys it kept.
    MemoryTemperature memory{SMCBridge(std::make_unique<fuzz::FuzzedSMCDriver>(input))};
    for (int i = 0; i < 2; ++i) {
        if (const auto celsius = memory.readMemoryTemperature())
            FUZZ_CHECK(std::isfinite(*celsius) && *celsius > 0);
    }
    return 0;
}
