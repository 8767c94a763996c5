#pragma once
// One connection to the SMC driver and the key reads over it. The connection is opened once at
// construction and closed at destruction; a bridge that could not open stays closed for life and
// answers every read with nothing, without touching the driver. Nothing is cached, retried or
// logged. Not thread-safe: one bridge, one thread.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "smc/SMCDriver.h"

namespace tessly {

struct SMCValue {
    std::string dataType;             // e.g. "flt ", "fpe2", "ui8 "; "" when not ASCII
    std::vector<std::uint8_t> bytes;  // the key's value bytes, dataSize of them (at most 32)

    friend bool operator==(const SMCValue&, const SMCValue&) = default;
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
    // value bytes than the block's 32-byte value area can hold (or the result cannot be
    // allocated). The exchanges allocate nothing; the result is the read's only allocation.
    std::optional<SMCValue> readKey(std::string_view key) const noexcept;

    // The first byte of a key of type "ui8 " with at least one value byte; nothing otherwise.
    std::optional<std::uint8_t> readUInt8(std::string_view key) const noexcept;

  private:
    std::optional<SMCKeyData> call(const SMCKeyData& input) const noexcept;

    std::unique_ptr<SMCDriver> conn_;
};

}  // namespace tessly
