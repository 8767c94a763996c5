#pragma once
// The one scratch helper every file-touching test uses: a temporary directory removed with all it
// holds, HOME and XDG_CONFIG_HOME pointed into it for the test's life, and whole-file helpers.
// Nothing a test does reaches the real home directory or autostart folder.

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace tessly::testing {

namespace fs = std::filesystem;

// A fresh directory under the system's temp folder, removed with everything in it.
class TempDir {
  public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "tessly.XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const fs::path& path() const { return path_; }
    fs::path operator/(std::string_view name) const { return path_ / name; }

  private:
    fs::path path_;
};

// Sets (or, given nothing, unsets) an environment variable for the scope, then restores it.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = ::getenv(name)) old_ = old;
        value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
    }
    ~ScopedEnv() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

// A scratch directory holding the test's HOME ("home"), XDG_CONFIG_HOME ("config"),
// XDG_STATE_HOME ("state") and XDG_RUNTIME_DIR ("run", mode 0700 as a login manager makes it).
class ScratchHome {
  public:
    const TempDir dir;
    const fs::path home = dir / "home";
    const fs::path runtime = dir / "run";

    // Where the payload and the agent's lock live, and where control.json does.
    fs::path container() const { return runtime / "tessly"; }
    fs::path controlDirectory() const { return dir / "state/tessly"; }
    fs::path sensorsFile() const { return container() / "sensors.json"; }
    fs::path controlFile() const { return controlDirectory() / "control.json"; }
    fs::path autostartEntry() const { return dir / "config/autostart/app.tessly.helper.desktop"; }

    // The variables, for a child process's environment.
    std::vector<std::string> environment() const {
        return {"HOME=" + home.string(), "XDG_CONFIG_HOME=" + (dir / "config").string(),
                "XDG_STATE_HOME=" + (dir / "state").string(),
                "XDG_RUNTIME_DIR=" + runtime.string()};
    }

  private:
    const bool made_ = fs::create_directories(home) && fs::create_directories(runtime) &&
                       (fs::permissions(runtime, fs::perms::owner_all), true);
    ScopedEnv homeVar_{"HOME", home.string()};
    ScopedEnv configVar_{"XDG_CONFIG_HOME", (dir / "config").string()};
    ScopedEnv stateVar_{"XDG_STATE_HOME", (dir / "state").string()};
    ScopedEnv runtimeVar_{"XDG_RUNTIME_DIR", runtime.string()};
};

// The whole content of a file; empty when it cannot be read.
inline std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Writes `text` as the whole file, creating its directories.
inline void writeFile(const fs::path& path, std::string_view text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

}  // namespace tessly::testing
