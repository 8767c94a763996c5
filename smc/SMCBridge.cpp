#include "smc/SMCBridge.h"

#include <algorithm>
#include <new>

#include "smc/FourCC.h"
#include "smc/SMCValues.h"

namespace tessly {

SMCBridge::SMCBridge(std::unique_ptr<SMCDriver> driver) noexcept : conn_(std::move(driver)) {}

std::optional<SMCKeyData> SMCBridge::call(const SMCKeyData& input) const noexcept {
    return conn_->call(input);
}

std::optional<SMCValue> SMCBridge::readKey(std::string_view key) const noexcept {
    if (!isOpen()) return std::nullopt;

    const std::uint32_t code = fourCC(key);
    const auto info = call(SMCKeyData::keyInfoRequest(code));
    if (!info || info->result != 0) return std::nullopt;

    const std::uint32_t size = info->dataSize;
    const std::uint32_t type = info->dataType;
    // The value area holds 32 bytes; a larger claim cannot be honoured without reading past it,
    // and a truncated value would decode to a wrong number, so the read fails instead.
    if (size > info->bytes.size()) return std::nullopt;

    const auto reply = call(SMCKeyData::readBytesRequest(code, size));
    if (!reply || reply->result != 0) return std::nullopt;

    try {
        SMCValue value;
        value.dataType = decodeFourCC(type);
        value.bytes.assign(reply->bytes.begin(), reply->bytes.begin() + size);
        return value;
    } catch (const std::bad_alloc&) {
        // Out of memory is one more failed read, never an exception across the interface.
        return std::nullopt;
    }
}

std::optional<std::uint8_t> SMCBridge::readUInt8(std::string_view key) const noexcept {
    const auto value = readKey(key);
    if (!value || value->dataType != smc::typeUi8) return std::nullopt;
    return smc::decodeUi8(value->bytes);
}

}  // namespace tessly
