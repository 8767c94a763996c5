#pragma once
// A copy of a machine's sensor facts that a user can send with a report: the hwmon chips and power
// supplies under a sysfs root, each attribute file with the value it gives now, written into a
// fresh directory that `tessly sensors --sysfs` reads back as it reads the machine itself.
//
// What it copies, and what it never does:
// - class/hwmon/<entry> and class/power_supply/<entry>. An entry that links to a device directory
//   ("../../devices/platform/coretemp.0/hwmon/hwmon2") is copied to that place in the copy and
//   linked from the same entry with the same relative text, so the chip keeps the device that
//   identifies it; any other entry is copied as a directory of its own name.
// - The regular files of each entry's directory, and of its device/ where the chip keeps its
//   attributes there (the older layout: no name file beside the entry); nothing deeper. Each file
//   is read once, at most maxCapturedFileSize bytes; a larger file, or one that cannot be opened
//   or read (write-only, an error on read), is left out and listed in the summary.
// - Links (device, subsystem, driver, ...), directories (power/, ...) and anything that is not a
//   regular file are left out; serial numbers ("serial", "serial_number") and uevent files, which
//   repeat them, are left out so that a copy can be shared.
// Reads go through the given reader only: with a ConfinedFileReader nothing outside the root is
// read, whatever its links say, and nothing but a regular file is opened. Writes stay inside
// the destination, which must be a new or empty directory and not a link.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/FileReader.h"

namespace tessly::hwmon {

// The most bytes captured of one file: a sysfs text attribute is one page at most, and the values
// the agent reads are single short lines.
inline constexpr std::size_t maxCapturedFileSize = 4096;

struct CaptureSummary {
    struct LeftOut {
        std::string path;  // relative to the root ("class/hwmon/hwmon1/temp2_input")
        // Why it is not in the copy, as ioErrorText words it: the errno met (EFBIG for a file
        // larger than maxCapturedFileSize), or notARegularFile.
        int error = 0;
    };
    std::size_t chips = 0;     // class/hwmon entries copied
    std::size_t supplies = 0;  // class/power_supply entries copied
    std::size_t files = 0;     // attribute files written
    std::vector<LeftOut> leftOut;
};

// Copies what lies under `sysfsRoot` (as `reader` sees it; paths handed to it are `sysfsRoot`
// followed by "/class/...") into `destination`, which is made when missing. Nothing, with the
// errno, when the copy cannot be made: ELOOP where `destination` is a symbolic link, ENOTDIR
// where it is not a directory, ENOTEMPTY where it holds anything, or what creating a directory
// or writing a file met (a copy may then be incomplete). Throws std::bad_alloc when memory runs
// out, leaving what was copied so far.
IoResult<CaptureSummary> captureSysfs(FileReader& reader, std::string_view sysfsRoot,
                                      const std::string& destination);

}  // namespace tessly::hwmon
