// The diagnosis of the two exchange files: the same lookup, read and decoding as SensorBridge,
// with each way of failing kept apart instead of folded into "nothing".

#include <TesslyKit/PayloadStatus.h>
#include <TesslyKit/RecordsJSON.h>
#include <TesslyKit/SensorBridge.h>
#include <TesslyKit/SharedContainer.h>

#include <cerrno>
#include <cmath>
#include <new>
#include <string>

#include "Container.h"
#include "ContainerFiles.h"
#include "Decoding.h"

namespace tessly {
namespace {

// Looks the file's directory up and reads `fileName` into `bytes`. False, with the status's file,
// state and error set to where and how it failed, when there is nothing to decode.
template <class Status>
bool locateAndRead(Status& status, std::string_view fileName, std::string& bytes) {
    using State = typename Status::State;
    const auto* container = detail::directoryOf(fileName);
    if (container == nullptr) return false;  // noContainer, the status's initial state
    status.file = *container / fileName;
    detail::FileContent content = detail::readSmallRegularFile(status.file);
    status.error = content.error;
    switch (content.failure) {
        case detail::ReadFailure::none:
            bytes = std::move(*content.bytes);
            return true;
        case detail::ReadFailure::missing:
            status.state = State::missing;
            return false;
        case detail::ReadFailure::notRegular:
        case detail::ReadFailure::tooLarge:
            status.state = State::unreadable;
            return false;
        case detail::ReadFailure::failed:
            status.state = State::unavailable;
            return false;
    }
    return false;
}

}  // namespace

bool isCurrentAge(double age) noexcept {
    // Written so that NaN fails both comparisons.
    return age <= SensorBridge::staleAfter && age >= -SensorBridge::staleAfter;
}

PayloadStatus payloadStatus(double now) noexcept {
    using State = PayloadStatus::State;
    PayloadStatus status;
    try {
        std::string bytes;
        if (!locateAndRead(status, "sensors.json", bytes)) return status;
        // Running out of memory while decoding says nothing about the file: unavailable, not
        // invalid.
        auto payload = detail::decodeSensorsPayloadOrThrow(bytes);
        if (!payload) {
            status.state = State::invalid;
            return status;
        }
        const double age = now - payload->sampledAt;
        status.state = isCurrentAge(age) ? State::current : State::stale;
        status.age = age;
        status.payload = std::move(payload);
        return status;
    } catch (const std::bad_alloc&) {
        PayloadStatus failed;
        failed.state = State::unavailable;
        failed.error = ENOMEM;
        return failed;
    }
}

ControlStatus controlStatus() noexcept {
    using State = ControlStatus::State;
    ControlStatus status;
    try {
        std::string bytes;
        if (!locateAndRead(status, "control.json", bytes)) return status;
        // Running out of memory while decoding says nothing about the file: unavailable, not
        // invalid, which would count as "no wish to autostart" and unregister the login item.
        status.control = detail::decodeSensorControlOrThrow(bytes);
        status.state = status.control ? State::present : State::invalid;
        return status;
    } catch (const std::bad_alloc&) {
        ControlStatus failed;
        failed.state = State::unavailable;
        failed.error = ENOMEM;
        return failed;
    }
}

}  // namespace tessly
