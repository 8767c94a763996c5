#pragma once
// One connection to the SMC driver and the key reads over it. The connection is opened once at
// construction and closed at destruction; a bridge that could not open stays closed for life and
// answers every read with nothing, without touching the driver. Nothing is cached, retried or
// logged. Not thread-safe: one bridge, one thread.

#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "smc/FourCC.h"
#include "smc/SMCDriver.h"

namespace tessly {

// One key's value, held in place: a read allocates nothing.
struct SMCValue {
    std::uint32_t dataType = 0;  // the type's four-character code, e.g. fourCC("flt ")
    std::uint8_t size = 0;       // how many of `data` are the value, at most 32
    std::array<std::uint8_t, 32> data{};

    std::span<const std::uint8_t> bytes() const noexcept { return {data.data(), size}; }
    bool hasType(std::string_view type) const noexcept { return dataType == fourCC(type); }

    // A value of `type` holding `bytes` (at most 32 of them are kept).
    static SMCValue of(std::string_view type, std::initializer_list<std::uint8_t> bytes) noexcept;

    friend bool operator==(const SMCValue& a, const SMCValue& b) noexcept {
        return a.dataType == b.dataType && std::ranges::equal(a.bytes(), b.bytes());
    }
};

class SMCBridge {
  public:
    // Opens the platform's default SMC driver. Only an entry point, which links the platform,
    // calls this.
    SMCBridge() noexcept : SMCBridge(SMCDriver::Default()) {}
    // Takes over an already opened driver; null means not open.
    explicit SMCBridge(std::unique_ptr<SMCDriver> driver) noexcept;

    SMCBridge(const SMCBridge&) = delete;
    SMCBridge& operator=(const SMCBridge&) = delete;
    SMCBridge(SMCBridge&&) noexcept = default;
    SMCBridge& operator=(SMCBridge&&) noexcept = default;
    ~SMCBridge() = default;

    bool isOpen() const noexcept { return conn_ != nullptr; }

    // Two exchanges: key information, then the value bytes. Nothing when the bridge is not open,
    // an exchange fails, either reply carries a non-zero result byte, or the driver claims more
    // value bytes than the block's 32-byte value area can hold. Allocates nothing.
    std::optional<SMCValue> readKey(std::string_view key) const noexcept;

    // The first byte of a key of type "ui8 " with at least one value byte; nothing otherwise.
    std::optional<std::uint8_t> readUInt8(std::string_view key) const noexcept;

  private:
    std::optional<SMCKeyData> call(const SMCKeyData& input) const noexcept;

    std::unique_ptr<SMCDriver> conn_;
};

}  // namespace tessly
