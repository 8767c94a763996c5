#pragma once
// The agent's login item on Linux: an XDG autostart entry,
// $XDG_CONFIG_HOME/autostart/<autostartEntryName> (XDG_CONFIG_HOME defaulting to ~/.config).

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "agent/LoginItems.h"

namespace tessly::linux_host {

inline constexpr std::string_view autostartEntryName = "app.tessly.helper.desktop";

// The Exec value that runs `program` with no arguments: quoted when it holds a reserved
// character, with '%' doubled and the value escaped for a desktop-entry string.
std::string desktopExecValue(std::string_view program);

// The whole desktop entry that starts `program` at login, hidden from menus.
std::string autostartEntry(std::string_view program);

// Where the entry lives now, from the environment at the time of the call; nothing when neither
// an absolute XDG_CONFIG_HOME nor a home directory can be found.
std::optional<std::filesystem::path> autostartEntryPath();

class XdgAutostart final : public LoginItems {
  public:
    // The entry starts `program`; empty means the running executable.
    explicit XdgAutostart(std::string program = {});

    // Writes the entry atomically, creating the autostart folder when missing.
    LoginItemOutcome registerMainApp() override;
    // Removes the entry; an entry that is already absent counts as success.
    LoginItemOutcome unregisterMainApp() override;

  private:
    std::string program_;
};

}  // namespace tessly::linux_host
