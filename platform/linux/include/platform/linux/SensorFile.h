#pragma once
// One sensor attribute, opened on its first read and then re-read with one pread from offset 0
// per reading, as sysfs regenerates the value on every read from the start. Where the reader
// allows no more descriptors to be kept (FileReader::mayKeepOpen), it is opened, read and closed
// for each reading instead.

#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/linux/FileReader.h"

namespace tessly::hwmon {

struct SensorValue {
    std::optional<std::int64_t> value;  // the integer the file holds
    int error = 0;  // errno of the failed open or read; 0 with no value: not an integer

    // The file's device is gone (its driver unbound, the device unplugged): the sensors must be
    // discovered again.
    bool deviceGone() const noexcept { return error == ENODEV || error == ENOENT; }
};

class SensorFile {
  public:
    // `reader` must outlive the file. Nothing is opened yet.
    SensorFile(FileReader& reader, std::string path) noexcept
        : reader_(&reader), path_(std::move(path)) {}

    // One reading: an open on the first read (and after the device was gone, or when the
    // descriptor could not be kept), then one read.
    // Text that is not an integer, or longer than any integer, gives no value and no error.
    SensorValue read() noexcept;

    const std::string& path() const noexcept { return path_; }

    // Closes the file; the next read opens it again.
    void close() noexcept { handle_.reset(); }

  private:
    FileReader* reader_;
    std::string path_;
    FileHandle handle_;
};

}  // namespace tessly::hwmon
