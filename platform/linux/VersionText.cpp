// The agent's version on Linux: the project version this build compiled in.
#include <new>

#include "agent/VersionSource.h"

namespace tessly {
namespace {

class CompiledVersion final : public VersionSource {
  public:
    std::optional<std::string> versionText() noexcept override {
        try {
            return std::string(TESSLY_VERSION_TEXT);
        } catch (const std::bad_alloc&) {
            return std::nullopt;
        }
    }
};

}  // namespace

VersionSource& VersionSource::Default() {
    static CompiledVersion version;
    return version;
}

}  // namespace tessly
