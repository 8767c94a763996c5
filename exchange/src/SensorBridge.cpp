// The two exchange files. Every operation looks the file's directory up anew
// and drops each failure where it happens.

#include <TesslyKit/PayloadStatus.h>
#include <TesslyKit/RecordsJSON.h>
#include <TesslyKit/SensorBridge.h>
#include <TesslyKit/SharedContainer.h>

#include <cerrno>
#include <new>
#include <system_error>

#include "Container.h"
#include "ContainerFiles.h"

namespace tessly::SensorBridge {

namespace {

constexpr std::string_view sensorsFileName = "sensors.json";
constexpr std::string_view controlFileName = "control.json";

template <class Record>
WriteOutcome store(const Record& record, std::string_view fileName, Durability durability) {
    using State = WriteOutcome::State;
    const auto* container = detail::directoryOf(fileName);
    if (container == nullptr) return {State::noContainer};
    // The container is created, with any missing parents, by every write; an error (a regular
    // file in the way, say) is ignored and the write then fails. It is created only when a write
    // finds it missing, which spares the agent's every-second write a lookup.
    std::error_code ignored;
    const auto bytes = encodeJSON(record);
    if (!bytes) {  // a non-finite number: nothing is written, the previous file stays
        std::filesystem::create_directories(*container, ignored);
        return {State::notEncodable};
    }
    if (replaceFileAtomically(*container, fileName, *bytes, durability)) return {State::written};
    const int error = errno;
    if (!std::filesystem::create_directories(*container, ignored)) return {State::failed, error};
    if (replaceFileAtomically(*container, fileName, *bytes, durability)) return {State::written};
    return {State::failed, errno};
}

std::optional<std::string> load(std::string_view fileName) {
    const auto* container = detail::directoryOf(fileName);
    if (container == nullptr) return std::nullopt;
    return std::move(detail::readSmallRegularFile(*container / fileName).bytes);
}

}  // namespace

void write(const SensorsPayload& payload) noexcept {
    (void)writeReporting(payload);
}

WriteOutcome writeReporting(const SensorsPayload& payload) noexcept {
    try {
        // No fsync: the file is rewritten every second and goes stale after 6 s anyway, so after
        // a crash an old or empty file costs nothing, while an fsync each second would cost disk
        // I/O and battery for the whole life of the agent. The rename alone keeps readers from
        // ever seeing a torn file.
        return store(payload, sensorsFileName, Durability::none);
    } catch (const std::bad_alloc&) {  // the write is dropped like any other failure
        return {WriteOutcome::State::failed, ENOMEM};
    }
}

void writeControl(const SensorControl& control) noexcept {
    try {
        // The user's intent: flushed to stable storage before and after the rename.
        store(control, controlFileName, Durability::synced);
    } catch (const std::bad_alloc&) {  // the write is dropped like any other failure
    }
}

std::optional<SensorsPayload> read(double now) noexcept {
    try {
        const auto bytes = load(sensorsFileName);
        if (!bytes) return std::nullopt;
        auto payload = decodeSensorsPayload(*bytes);
        if (!payload) return std::nullopt;
        if (!isCurrentAge(now - payload->sampledAt)) return std::nullopt;
        return payload;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

std::optional<SensorControl> readControl() noexcept {
    try {
        const auto bytes = load(controlFileName);
        if (!bytes) return std::nullopt;
        return decodeSensorControl(*bytes);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

}  // namespace tessly::SensorBridge
