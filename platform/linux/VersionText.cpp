// The agent's version on Linux: the project version this build compiled in.
#include "agent/VersionSource.h"

namespace tessly {
namespace {

class CompiledVersion final : public VersionSource {
  public:
    std::optional<std::string> versionText() override { return std::string(TESSLY_VERSION_TEXT); }
};

}  // namespace

VersionSource& VersionSource::Default() {
    static CompiledVersion version;
    return version;
}

}  // namespace tessly
