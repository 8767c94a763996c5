#include "smc/SMCBridge.h"

#include <algorithm>

#include "smc/FourCC.h"
#include "smc/SMCValues.h"

namespace tessly {

SMCValue SMCValue::of(std::string_view type, std::initializer_list<std::uint8_t> bytes) noexcept {
    SMCValue value;
    value.dataType = fourCC(type);
    value.size = static_cast<std::uint8_t>(std::min(bytes.size(), value.data.size()));
    std::copy_n(bytes.begin(), value.size, value.data.begin());
    return value;
}

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

    SMCValue value;
    value.dataType = type;
    value.size = static_cast<std::uint8_t>(size);
    std::copy_n(reply->bytes.begin(), size, value.data.begin());
    return value;
}

std::optional<std::uint8_t> SMCBridge::readUInt8(std::string_view key) const noexcept {
    const auto value = readKey(key);
    if (!value || !value->hasType(smc::typeUi8)) return std::nullopt;
    return smc::decodeUi8(value->bytes());
}

}  // namespace tessly
