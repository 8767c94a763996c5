#pragma once
// Seam: registration of the agent's own application as the user's login item (a service
// management registration on macOS, an XDG autostart entry on Linux).

#include <string>

namespace tessly {

// Success, or the failure's textual description.
struct LoginItemOutcome {
    bool succeeded = true;
    std::string errorDescription;

    static LoginItemOutcome success() { return {}; }
    static LoginItemOutcome failure(std::string description) {
        return {false, std::move(description)};
    }
};

class LoginItems {
  public:
    virtual ~LoginItems() = default;

    // Each call asks the platform's service anew; nothing is cached between calls.
    virtual LoginItemOutcome registerMainApp() = 0;
    // Removing an item that is not registered succeeds.
    virtual LoginItemOutcome unregisterMainApp() = 0;

    // The platform's service, kept for the process's life. Defined by each platform.
    static LoginItems& Default();
};

}  // namespace tessly
