#pragma once
// The 80-byte parameter block exchanged with the SMC driver, in native byte order. Requests and
// replies share the layout; the offsets are part of the driver's ABI and are checked below.

#include <array>
#include <cstddef>
#include <cstdint>

namespace tessly {

struct SMCKeyData {
    std::uint32_t key = 0;  // packed key code (see fourCC)
    std::array<std::uint8_t, 6> reserved0{};
    std::array<std::uint8_t, 2> padding0{};  // no meaning
    std::array<std::uint32_t, 4> reserved1{};
    std::uint32_t dataSize = 0;  // number of value bytes
    std::uint32_t dataType = 0;  // packed type code
    std::uint8_t reserved2 = 0;
    std::uint8_t padding1 = 0;  // no meaning
    std::uint16_t reserved3 = 0;
    std::uint8_t result = 0;  // driver's result byte: 0 = success
    std::uint8_t reserved4 = 0;
    std::uint8_t command = 0;
    std::uint8_t padding2 = 0;  // no meaning
    std::uint32_t reserved5 = 0;
    std::array<std::uint8_t, 32> bytes{};  // value area

    static constexpr std::uint8_t keyInfoCommand = 9;
    static constexpr std::uint8_t readBytesCommand = 5;
    // The driver's method selector for one struct-in, struct-out exchange.
    static constexpr std::uint32_t smcStructSelector = 2;
    // Result byte the driver answers for a key it does not know.
    static constexpr std::uint8_t resultKeyNotFound = 0x84;

    // Key-information request: zero except key and command 9.
    static constexpr SMCKeyData keyInfoRequest(std::uint32_t keyCode) noexcept {
        SMCKeyData d;
        d.key = keyCode;
        d.command = keyInfoCommand;
        return d;
    }
    // Read-bytes request: zero except key, dataSize and command 5.
    static constexpr SMCKeyData readBytesRequest(std::uint32_t keyCode,
                                                 std::uint32_t size) noexcept {
        SMCKeyData d;
        d.key = keyCode;
        d.dataSize = size;
        d.command = readBytesCommand;
        return d;
    }
};

static_assert(sizeof(SMCKeyData) == 80);
static_assert(offsetof(SMCKeyData, key) == 0);
static_assert(offsetof(SMCKeyData, reserved0) == 4);
static_assert(offsetof(SMCKeyData, padding0) == 10);
static_assert(offsetof(SMCKeyData, reserved1) == 12);
static_assert(offsetof(SMCKeyData, dataSize) == 28);
static_assert(offsetof(SMCKeyData, dataType) == 32);
static_assert(offsetof(SMCKeyData, reserved2) == 36);
static_assert(offsetof(SMCKeyData, padding1) == 37);
static_assert(offsetof(SMCKeyData, reserved3) == 38);
static_assert(offsetof(SMCKeyData, result) == 40);
static_assert(offsetof(SMCKeyData, reserved4) == 41);
static_assert(offsetof(SMCKeyData, command) == 42);
static_assert(offsetof(SMCKeyData, padding2) == 43);
static_assert(offsetof(SMCKeyData, reserved5) == 44);
static_assert(offsetof(SMCKeyData, bytes) == 48);

}  // namespace tessly
