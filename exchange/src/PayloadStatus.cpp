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

}  // namespace

PayloadStatus payloadStatus(double now) noexcept {
    using State = PayloadStatus::State;
    PayloadStatus status;
    try {
        const auto container = SharedContainer::directory();
        if (!container) return status;  // noContainer
        status.file = *container / "sensors.json";

        std::string bytes;
        switch (readFile(status.file, bytes)) {
            case FileOutcome::missing:
                status.state = State::missing;
                return status;
            case FileOutcome::unreadable:
                status.state = State::unreadable;
                return status;
            case FileOutcome::read:
                break;
        }
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
        const auto container = SharedContainer::directory();
        if (!container) return status;  // noContainer
        status.file = *container / "control.json";

        std::string bytes;
        switch (readFile(status.file, bytes)) {
            case FileOutcome::missing:
                status.state = State::missing;
                return status;
            case FileOutcome::unreadable:
                status.state = State::unreadable;
                return status;
            case FileOutcome::read:
                break;
        }
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
