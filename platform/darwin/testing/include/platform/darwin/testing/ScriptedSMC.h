#pragma once
// A scripted SMC: a table of keys answered over the exact driver protocol (key information, then
// value bytes; result 0x84 for a key it does not hold), recording every exchange. Tests keep the
// ScriptedSMC and hand driver() to the code under test; both share one script, so keys can be
// changed between calls and the record read back afterwards. Single-threaded.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "smc/SMCDriver.h"

namespace tessly::darwin {

class ScriptedSMC {
  public:
    struct Exchange {
        SMCKeyData request;
        std::optional<SMCKeyData> reply;  // nothing: the exchange failed
    };

    ScriptedSMC();

    // Sets a key's type and value bytes; its key information reports bytes.size() as dataSize.
    ScriptedSMC& setKey(std::string_view key, std::string_view type,
                        std::vector<std::uint8_t> bytes);
    // Convenience encodings: "flt " little-endian float, "fpe2" big-endian 14.2, "ui8 ".
    ScriptedSMC& setFloat(std::string_view key, float value);
    ScriptedSMC& setFPE2(std::string_view key, double value);
    ScriptedSMC& setUInt8(std::string_view key, std::uint8_t value);
    // Makes the key information claim `size` value bytes whatever the key holds.
    ScriptedSMC& setClaimedSize(std::string_view key, std::uint32_t size);
    // Every exchange about this key fails (the platform call returns non-zero).
    ScriptedSMC& failExchangesFor(std::string_view key, bool fail = true);

    // A driver answering from this script. Any number may exist at once.
    std::unique_ptr<SMCDriver> driver() const;

    const std::vector<Exchange>& exchanges() const noexcept;
    // Number of key reads begun (key-information requests) for this key; all keys when empty.
    std::size_t keyInfoCount(std::string_view key = {}) const noexcept;
    // The keys whose reads began, in order (a five-character key shows as its last four).
    std::vector<std::string> keysRead() const;
    void clearRecord() noexcept;
    // Number of drivers handed out and not yet destroyed (open connections).
    std::size_t openDrivers() const noexcept;

    struct State;

  private:
    std::shared_ptr<State> state_;
};

}  // namespace tessly::darwin
