#pragma once
// The entries of an open directory stream, for the file readers of this folder.

#include <dirent.h>

#include <string>
#include <vector>

#include "platform/linux/FileReader.h"

namespace tessly::hwmon {

// The names of every entry of `dir` without "." and "..", in the order readdir gives them; the
// errno of a failed read. Takes over `dir` and closes it. A null `dir` is the errno of its open.
IoResult<std::vector<std::string>> directoryNames(DIR* dir);

}  // namespace tessly::hwmon
