#pragma once
// Seam: the agent's version text (the bundle's short version string on macOS, the version the
// build compiled in on Linux). Nothing when there is none; never a placeholder.

#include <optional>
#include <string>

namespace tessly {

class VersionSource {
  public:
    virtual ~VersionSource() = default;

    // The version text now. The agent asks once and keeps the answer for its life. Throws only
    // std::bad_alloc.
    virtual std::optional<std::string> versionText() = 0;

    // The platform's version, kept for the process's life. Defined by each platform.
    static VersionSource& Default();
};

}  // namespace tessly
