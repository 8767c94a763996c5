// macOS: the container the system keeps for the application group, else the same place below
// the user's home directory. Built with ARC.

#include "Container.h"

#import <Foundation/Foundation.h>

#include <limits.h>

#include <array>
#include <optional>
#include <utility>

namespace tessly::detail {

namespace {

// The file URL as a path; nothing when it is not a file URL or does not fit a path.
std::optional<std::filesystem::path> pathOf(NSURL* url) {
    if (url == nil || !url.fileURL) return std::nullopt;
    std::array<char, PATH_MAX + 1> buffer{};
    if (![url getFileSystemRepresentation:buffer.data() maxLength:buffer.size()]) {
        return std::nullopt;
    }
    return std::filesystem::path(buffer.data());
}

}  // namespace

// Both files in the one container, as the main application expects them.
const ContainerPlaces* containerPlaces(std::string_view groupID) {
    thread_local std::optional<ContainerPlaces> kept;
    kept.reset();
    @autoreleasepool {
        NSString* group = [[NSString alloc] initWithBytes:groupID.data()
                                                   length:groupID.size()
                                                 encoding:NSUTF8StringEncoding];
        if (group == nil) return nullptr;
        NSFileManager* files = NSFileManager.defaultManager;
        // On macOS the system names a location of the right form even for a group the
        // application is not entitled to, so this rarely falls through.
        auto container = pathOf([files containerURLForSecurityApplicationGroupIdentifier:group]);
        if (!container) {
            const auto home = pathOf(files.homeDirectoryForCurrentUser);
            if (!home) return nullptr;
            container = fallbackContainer(*home, groupID);
        }
        kept = ContainerPlaces{*container, *container, {}};
        return &*kept;
    }
}

}  // namespace tessly::detail
