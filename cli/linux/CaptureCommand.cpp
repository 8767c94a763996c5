// `tessly capture DIR` on Linux: this machine's hwmon chips and power supplies, copied into a new
// directory that `tessly sensors --sysfs DIR` reads back, for a user to send with a report of
// readings that look wrong.

#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>

#include "cli/Commands.h"
#include "cli/Format.h"
#include "platform/linux/ConfinedFileReader.h"
#include "platform/linux/SysfsCapture.h"

namespace tessly::cli {
namespace {

constexpr std::size_t leftOutShown = 10;

std::string plural(std::size_t count, std::string_view one, std::string_view many) {
    return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

std::string refusal(const std::string& shown, int error) {
    switch (error) {
        case ENOTEMPTY:
            return shown + " is not empty; name a new or empty directory";
        case ELOOP:
            return shown + " is a symbolic link; name a new or empty directory";
        case ENOTDIR:
            return shown + " is not a directory";
        default:
            return "cannot write the copy into " + shown + ": " + hwmon::ioErrorText(error);
    }
}

// The command that packs the copy into one file beside it, as it can be typed.
std::string packCommand(const std::string& directory) {
    std::error_code error;
    std::filesystem::path path = std::filesystem::absolute(directory, error).lexically_normal();
    if (!path.has_filename()) path = path.parent_path();  // "DIR/" names DIR
    const std::string name = path.filename().string();
    return "tar -czf " + shellWord(name + ".tar.gz") + " -C " +
           shellWord(path.parent_path().string()) + " " + shellWord(name);
}

}  // namespace

int runCapture(Console& console, const std::string& directory, const std::string& sysfsRoot) {
    std::string root = sysfsRoot;
    while (!root.empty() && root.back() == '/')
        root.pop_back();
    // Nothing is read from outside the root, whatever links the tree holds, and nothing but
    // regular files is opened.
    const auto reader = sysfsRoot.empty() ? nullptr : hwmon::ConfinedFileReader::within(root);
    if (!reader) {
        console.err << "tessly capture: " << terminalSafe(sysfsRoot) << " is not a directory\n";
        return exitFailure;
    }
    const std::string shown = terminalSafe(directory);
    const auto captured = hwmon::captureSysfs(*reader, root, directory);
    if (!captured) {
        console.err << "tessly capture: " << refusal(shown, captured.error()) << "\n";
        return exitFailure;
    }
    const auto& summary = *captured;
    console.out << "Copied " << plural(summary.chips, "hwmon chip", "hwmon chips") << " and "
                << plural(summary.supplies, "power supply", "power supplies") << " ("
                << plural(summary.files, "file", "files") << ") from "
                << terminalSafe(root.empty() ? "/" : root) << " into " << shown << ".\n";
    if (!summary.leftOut.empty()) {
        console.out << "Left out " << plural(summary.leftOut.size(), "entry", "entries")
                    << " that could not be copied:\n";
        for (std::size_t i = 0; i < summary.leftOut.size() && i < leftOutShown; ++i) {
            const auto& left = summary.leftOut[i];
            console.out << "  " << terminalSafe(left.path) << ": "
                        << terminalSafe(hwmon::ioErrorText(left.error)) << "\n";
        }
        if (summary.leftOut.size() > leftOutShown) {
            console.out << "  and " << summary.leftOut.size() - leftOutShown << " more\n";
        }
    }
    const std::string tessly = terminalSafe(shellWord(console.program));
    console.out << "What the agent makes of it: " << tessly << " sensors --sysfs "
                << terminalSafe(shellWord(directory)) << "\n"
                << "To report readings that look wrong, pack it into one file and attach that to "
                   "the report, with what you expected to read (serial numbers are left out):\n"
                << "  " << terminalSafe(packCommand(directory)) << "\n";
    return exitOK;
}

}  // namespace tessly::cli
