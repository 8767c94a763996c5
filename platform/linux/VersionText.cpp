#include "platform/VersionInfo.h"

namespace tessly {

std::optional<std::string> platformVersionText() {
#ifdef TESSLY_VERSION_TEXT
    return std::string(TESSLY_VERSION_TEXT);
#else
    return std::nullopt;
#endif
}

}  // namespace tessly
