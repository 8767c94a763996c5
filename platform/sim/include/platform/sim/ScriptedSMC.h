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

namespace tessly::sim {

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
    // Forgets the key: it answers 0x84 from now on.
    ScriptedSMC& removeKey(std::string_view key);
    // Every exchange about this key fails (the platform call returns non-zero).
    ScriptedSMC& failExchangesFor(std::string_view key, bool fail = true);
    // The exchange with this 0-based sequence number (counted over all keys and all drivers since
    // the script was made; clearRecord does not restart the count) fails.
    ScriptedSMC& failExchangeNumber(std::size_t number);

    // A driver answering from this script. Any number may exist at once.
    std::unique_ptr<SMCDriver> driver() const;

    const std::vector<Exchange>& exchanges() const noexcept;
    // Number of exchanges whose request named this key.
    std::size_t exchangeCount(std::string_view key) const noexcept;
    // Number of key reads begun (key-information requests) for this key; all keys when empty.
    std::size_t keyInfoCount(std::string_view key = {}) const noexcept;
    void clearRecord() noexcept;
    // While off, exchanges are answered but not kept in exchanges() (exchangeCount and
    // keyInfoCount then see only what was kept), so a script that runs for hours holds no
    // growing record. Exchange numbers keep counting either way. On by default.
    ScriptedSMC& setRecording(bool recording) noexcept;
    // Number of drivers handed out and not yet destroyed (open connections).
    std::size_t openDrivers() const noexcept;

    struct State;

  private:
    std::shared_ptr<State> state_;
};

}  // namespace tessly::sim
