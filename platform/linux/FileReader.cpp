#include "platform/linux/FileReader.h"

#include <cerrno>
#include <memory>
#include <string_view>
#include <system_error>

#include "DirectoryNames.h"

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

IoResult<std::vector<std::string>> directoryNames(DIR* opened) {
    if (opened == nullptr) return unexpected(errno);
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(opened, ::closedir);
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (entry == nullptr) {
            if (errno != 0) return unexpected(errno);
            return names;
        }
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
    }
}

}  // namespace tessly::hwmon
