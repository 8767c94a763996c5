#pragma once
// Seam: one user-client connection to the SMC driver.
//
// A driver answers exactly the driver protocol: a key-information request (command 9) is answered
// with the key's dataSize and dataType, a read-bytes request (command 5) with the value bytes at
// offset 48, and either with a non-zero result byte (0x84 for an unknown key) on failure.
// SMCBridge does all packing and decoding itself, so every implementation (IOKit, the scripted
// SMC of the tests) only moves blocks.
//
// Threading: a driver is used from one thread at a time. Ownership: the owner of the unique_ptr
// owns the connection; destroying the driver closes it.

#include <memory>
#include <optional>

#include "smc/SMCKeyData.h"

namespace tessly {

class SMCDriver {
  public:
    virtual ~SMCDriver() = default;

    // One struct-in, struct-out exchange (method selector 2). The reply block, or nothing when
    // the exchange itself failed (a non-zero return of the platform call). A driver-level error
    // such as an unknown key is a reply with a non-zero result byte, not nothing.
    virtual std::optional<SMCKeyData> call(const SMCKeyData& input) noexcept = 0;

    // A new connection to the platform's SMC driver, or null when the platform has none or
    // refuses the open; callers treat that as a connection that is never open. Defined by each
    // platform.
    static std::unique_ptr<SMCDriver> Default() noexcept;
};

}  // namespace tessly
