#include "platform/linux/SensorFile.h"

#include <array>
#include <string_view>

#include "platform/linux/SysfsText.h"

namespace tessly::hwmon {

SensorValue SensorFile::read() noexcept {
    if (!handle_.isOpen()) {
        const auto opened = reader_->open(path_);
        if (!opened) return {std::nullopt, opened.error()};
        handle_ = FileHandle(*reader_, *opened);
    }
    // Sensor values are short numbers; a read that fills the buffer holds something else.
    std::array<char, 64> buffer;
    const auto read = reader_->readAt0(handle_.fd(), buffer);
    if (!read) {
        SensorValue failed{std::nullopt, read.error()};
        if (failed.deviceGone() || !reader_->mayKeepOpen(handle_.fd())) handle_.reset();
        return failed;
    }
    if (!reader_->mayKeepOpen(handle_.fd())) handle_.reset();
    if (*read >= buffer.size()) return {};
    return {parseSysfsInteger(std::string_view(buffer.data(), *read)), 0};
}

}  // namespace tessly::hwmon
