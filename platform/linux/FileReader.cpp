#include "platform/linux/FileReader.h"

#include <cerrno>
#include <new>
#include <system_error>

namespace tessly::hwmon {

std::string ioErrorText(int error) {
    if (error == notARegularFile) return "not a regular file";
    return std::generic_category().message(error);
}

IoResult<std::string> readSmallFile(FileReader& reader, const std::string& path,
                                    std::size_t limit) noexcept {
    const auto opened = reader.open(path);
    if (!opened.value) return {.value = std::nullopt, .error = opened.error};
    const FileHandle handle(reader, *opened.value);
    try {
        std::string text(limit, '\0');
        const auto read = reader.readAt0(handle.fd(), text);
        if (!read.value) return {.value = std::nullopt, .error = read.error};
        text.resize(*read.value);
        return {.value = std::move(text), .error = 0};
    } catch (const std::bad_alloc&) {
        return {.value = std::nullopt, .error = ENOMEM};
    }
}

}  // namespace tessly::hwmon
