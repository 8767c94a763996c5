#include "platform/darwin/testing/ScriptedSMC.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "smc/FourCC.h"
#include "smc/SMCValues.h"

namespace tessly::darwin {

struct ScriptedSMC::State {
    struct Key {
        std::uint32_t type = 0;
        std::vector<std::uint8_t> bytes;
        std::optional<std::uint32_t> claimedSize;
    };
    std::map<std::uint32_t, Key> keys;
    std::set<std::uint32_t> failingKeys;
    std::vector<Exchange> record;
    std::size_t openDrivers = 0;
};

namespace {

class ScriptedDriver final : public SMCDriver {
  public:
    explicit ScriptedDriver(std::shared_ptr<ScriptedSMC::State> state) : state_(std::move(state)) {
        ++state_->openDrivers;
    }
    ~ScriptedDriver() override { --state_->openDrivers; }

    std::optional<SMCKeyData> call(const SMCKeyData& input) noexcept override {
        std::optional<SMCKeyData> reply;
        if (!state_->failingKeys.contains(input.key)) reply = answer(input);
        state_->record.push_back({input, reply});
        return reply;
    }

  private:
    SMCKeyData answer(const SMCKeyData& input) const noexcept {
        SMCKeyData reply{};
        reply.key = input.key;
        const auto found = state_->keys.find(input.key);
        if (found == state_->keys.end()) {
            reply.result = SMCKeyData::resultKeyNotFound;
            return reply;
        }
        const auto& key = found->second;
        if (input.command == SMCKeyData::keyInfoCommand) {
            reply.dataSize = key.claimedSize.value_or(static_cast<std::uint32_t>(key.bytes.size()));
            reply.dataType = key.type;
        } else if (input.command == SMCKeyData::readBytesCommand) {
            const std::size_t n = std::min<std::size_t>(
                {key.bytes.size(), reply.bytes.size(), std::size_t{input.dataSize}});
            std::copy_n(key.bytes.begin(), n, reply.bytes.begin());
        } else {
            reply.result = 0x85;  // unsupported command
        }
        return reply;
    }

    std::shared_ptr<ScriptedSMC::State> state_;
};

}  // namespace

ScriptedSMC::ScriptedSMC() : state_(std::make_shared<State>()) {}

ScriptedSMC& ScriptedSMC::setKey(std::string_view key, std::string_view type,
                                 std::vector<std::uint8_t> bytes) {
    auto& k = state_->keys[fourCC(key)];
    k.type = fourCC(type);
    k.bytes = std::move(bytes);
    return *this;
}

ScriptedSMC& ScriptedSMC::setFloat(std::string_view key, float value) {
    const auto bytes = smc::encodeFlt(value);
    return setKey(key, smc::typeFlt, {bytes.begin(), bytes.end()});
}

ScriptedSMC& ScriptedSMC::setFPE2(std::string_view key, double value) {
    const auto bytes = smc::encodeFpe2(value);
    return setKey(key, smc::typeFpe2, {bytes.begin(), bytes.end()});
}

ScriptedSMC& ScriptedSMC::setUInt8(std::string_view key, std::uint8_t value) {
    return setKey(key, smc::typeUi8, {value});
}

ScriptedSMC& ScriptedSMC::setClaimedSize(std::string_view key, std::uint32_t size) {
    state_->keys[fourCC(key)].claimedSize = size;
    return *this;
}

ScriptedSMC& ScriptedSMC::failExchangesFor(std::string_view key, bool fail) {
    if (fail) {
        state_->failingKeys.insert(fourCC(key));
    } else {
        state_->failingKeys.erase(fourCC(key));
    }
    return *this;
}

std::unique_ptr<SMCDriver> ScriptedSMC::driver() const {
    return std::make_unique<ScriptedDriver>(state_);
}

const std::vector<ScriptedSMC::Exchange>& ScriptedSMC::exchanges() const noexcept {
    return state_->record;
}

std::size_t ScriptedSMC::keyInfoCount(std::string_view key) const noexcept {
    const auto code = fourCC(key);
    return static_cast<std::size_t>(
        std::count_if(state_->record.begin(), state_->record.end(), [&](const auto& e) {
            return e.request.command == SMCKeyData::keyInfoCommand &&
                   (key.empty() || e.request.key == code);
        }));
}

std::vector<std::string> ScriptedSMC::keysRead() const {
    std::vector<std::string> keys;
    for (const auto& e : state_->record) {
        if (e.request.command != SMCKeyData::keyInfoCommand) continue;
        std::string& key = keys.emplace_back(4, ' ');
        for (std::size_t i = 0; i < 4; ++i)
            key[i] = static_cast<char>(e.request.key >> (8 * (3 - i)));
    }
    return keys;
}

void ScriptedSMC::clearRecord() noexcept {
    state_->record.clear();
}

std::size_t ScriptedSMC::openDrivers() const noexcept {
    return state_->openDrivers;
}

}  // namespace tessly::darwin
