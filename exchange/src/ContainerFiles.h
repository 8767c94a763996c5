#pragma once
// Whole-file writes and reads in the shared container, internal to TesslyKit (POSIX).
//
// Writes replace the target atomically through a uniquely named temporary in the same directory,
// so a reader sees the whole previous file or the whole new one, and two writers never share a
// temporary. Reads accept only small regular files, so a FIFO, a device or a huge file can
// neither hang nor exhaust the reader. Failures are results; only an allocation failure throws
// (std::bad_alloc), for the public call above to turn into its own "nothing".

#include <TesslyKit/AtomicFile.h>

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tessly::detail {

// The largest file a read accepts. A record is well under 1 KiB.
inline constexpr std::size_t maxFileSize = std::size_t{1} << 20;

// Why a read yielded no bytes. Only `failed` says nothing about the file itself: the process ran
// out of descriptors or memory, or the device reported an error, and a later read may succeed.
enum class ReadFailure {
    none,        // the bytes were read
    missing,     // no such file, or a path through something that is not a directory
    notRegular,  // a directory, FIFO, socket, device or a symlink loop
    tooLarge,    // more than maxFileSize bytes
    failed,      // anything else (EMFILE, ENFILE, EIO, EACCES, ...); see `error`
};

struct FileContent {
    std::optional<std::string> bytes;  // present exactly when failure is none
    ReadFailure failure = ReadFailure::none;
    int error = 0;  // the errno behind missing or failed (ENOTDIR for a blocked path)
};

// The whole content of `file` when it is (or a symlink resolves to) a regular file of at most
// maxFileSize bytes, or why not. A FIFO or a device is never opened.
FileContent readSmallRegularFile(const std::filesystem::path& file);

// A fresh temporary name for `fileName` (".<fileName>.tmp.<12 letters or digits>"; unique with
// overwhelming odds, and replaceFileAtomically retries on the rare clash).
std::string temporaryName(std::string_view fileName);
// The same name, appended to `out`.
void appendTemporaryName(std::string& out, std::string_view fileName);

// Whether `candidate` follows the temporary-name pattern of `fileName` exactly.
bool isTemporaryName(std::string_view candidate, std::string_view fileName) noexcept;

// Removes from `directory` the regular files named like temporaries of `fileName` whose last
// modification is at least `minAgeSeconds` ago; returns how many it removed. Touches no other
// file. A NaN age removes nothing.
std::size_t removeStaleTemporaries(const std::filesystem::path& directory,
                                   std::string_view fileName, double minAgeSeconds);

}  // namespace tessly::detail
