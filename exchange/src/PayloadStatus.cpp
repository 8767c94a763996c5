// The diagnosis of the two exchange files: the same lookup, read and decoding as SensorBridge,
// with each way of failing kept apart instead of folded into "nothing".

#include <TesslyKit/PayloadStatus.h>
#include <TesslyKit/RecordsJSON.h>
#include <TesslyKit/SensorBridge.h>
#include <TesslyKit/SharedContainer.h>

#include <string>
#include <system_error>

#include "ContainerFiles.h"

namespace tessly {
namespace {

enum class FileOutcome { read, missing, unreadable };

// Reads the file as SensorBridge does. When that fails, a file that does not exist (or a path
// through something that is not a directory) is missing; anything else that stops the read (a
// directory, a FIFO, a file too large, no permission) makes it unreadable.
FileOutcome readFile(const std::filesystem::path& file, std::string& bytes) {
    if (auto content = detail::readSmallRegularFile(file)) {
        bytes = std::move(*content);
        return FileOutcome::read;
    }
    std::error_code error;
    (void)std::filesystem::status(file, error);
    if (error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory) {
        return FileOutcome::missing;
    }
    return FileOutcome::unreadable;
}

// Looks the container up and reads `fileName` into `bytes`. False, with the status's file and
// state set to where and how it failed, when there is nothing to decode.
template <class Status>
bool locateAndRead(Status& status, std::string_view fileName, std::string& bytes) {
    const auto container = SharedContainer::directory();
    if (!container) return false;  // noContainer, the status's initial state
    status.file = *container / fileName;
    switch (readFile(status.file, bytes)) {
        case FileOutcome::missing:
            status.state = Status::State::missing;
            return false;
        case FileOutcome::unreadable:
            status.state = Status::State::unreadable;
            return false;
        case FileOutcome::read:
            break;
    }
    return true;
}

}  // namespace

PayloadStatus payloadStatus(double now) noexcept {
    using State = PayloadStatus::State;
    PayloadStatus status;
    try {
        std::string bytes;
        if (!locateAndRead(status, "sensors.json", bytes)) return status;
        auto payload = decodeSensorsPayload(bytes);
        if (!payload) {
            status.state = State::invalid;
            return status;
        }
        // SensorBridge::read's rule: signed age, at most staleAfter is current, NaN is stale.
        const double age = now - payload->sampledAt;
        status.state = age <= SensorBridge::staleAfter ? State::current : State::stale;
        status.age = age;
        status.payload = std::move(payload);
        return status;
    } catch (...) {  // allocation failure only: nothing could be read
        PayloadStatus failed;
        failed.state = State::unreadable;
        return failed;
    }
}

ControlStatus controlStatus() noexcept {
    using State = ControlStatus::State;
    ControlStatus status;
    try {
        std::string bytes;
        if (!locateAndRead(status, "control.json", bytes)) return status;
        status.control = decodeSensorControl(bytes);
        status.state = status.control ? State::present : State::invalid;
        return status;
    } catch (...) {  // allocation failure only: nothing could be read
        ControlStatus failed;
        failed.state = State::unreadable;
        return failed;
    }
}

}  // namespace tessly
