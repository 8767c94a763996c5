#include "platform/linux/FileReader.h"

#include <system_error>

namespace tessly::hwmon {

std::string ioErrorText(int error) {
    if (error == notARegularFile) return "not a regular file";
    return std::generic_category().message(error);
}

IoResult<std::string> readSmallFile(FileReader& reader, const std::string& path,
                                    std::size_t limit) {
    const auto opened = reader.open(path);
    if (!opened) return unexpected(opened.error());
    const FileHandle handle(reader, *opened);
    std::string text(limit, '\0');
    const auto read = reader.readAt0(handle.fd(), text);
    if (!read) return unexpected(read.error());
    text.resize(*read);
    return text;
}

}  // namespace tessly::hwmon
