#pragma once
// control.json as the agent reads it on every tick: the file is read and decoded only when its
// identity (device, inode, mode, size, modification and change times) differs from the last read;
// otherwise one stat answers, and the record decoded then stands. The main application replaces
// the file whole (a new inode), and any write in place changes its times, so a changed file is
// always read. Every read keeps TesslyKit's rules (regular files of at most 1 MiB, the strict
// JSON form): the answer is always what controlStatus() would give.

#include <sys/stat.h>

#include <TesslyKit/PayloadStatus.h>

#include <filesystem>
#include <optional>

namespace tessly {

class ControlReader {
  public:
    // The status, valid until the next call. Throws only std::bad_alloc (where the path of a
    // moved directory cannot be built), leaving the reader as it was.
    const ControlStatus& read();

  private:
    struct Identity {
        dev_t device;
        ino_t inode;
        mode_t mode;
        off_t size;
        timespec modified;
        timespec changed;
    };
    static bool same(const Identity& a, const Identity& b) noexcept;

    std::optional<std::filesystem::path> container_;  // where file_ was built for
    std::filesystem::path file_;
    std::optional<Identity> identity_;  // of the file behind last_, when it was read whole
    int lastMissing_ = 0;               // the errno that found no file last time, or 0
    ControlStatus last_;
};

}  // namespace tessly
