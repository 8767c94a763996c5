#pragma once
// Whole-file replacement that readers can never catch half-done: the bytes go to a uniquely named
// temporary beside the target, which is then renamed over it. The exchange files are written so,
// and so may any other small file a main application or a tool replaces while others read it.
// Nothing here throws.

#include <filesystem>
#include <string_view>

namespace tessly {

enum class Durability {
    // Rename only: after a crash the file may be the previous one, or (rarely) empty.
    none,
    // fsync the file before the rename and the directory after it.
    synced,
};

// Writes `bytes` to a new temporary ".<fileName>.tmp.<12 letters or digits>" created exclusively
// in `directory`, then renames it over `directory/fileName` (replacing whatever entry is there).
// On any failure the temporary is removed and the previous file is left as it was, and errno
// holds the reason the failing step gave (ENOSPC, EROFS, EACCES, ...). True when the new file is
// in place. `fileName` must be a plain file name (no '/', not "." or "..").
bool replaceFileAtomically(const std::filesystem::path& directory, std::string_view fileName,
                           std::string_view bytes, Durability durability) noexcept;

}  // namespace tessly
