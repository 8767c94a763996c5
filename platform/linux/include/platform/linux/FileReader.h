#pragma once
// Seam: the file-system operations the hwmon sensors use, and nothing more: list a directory,
// open a file, read it from offset 0, close it. Sysfs attributes are regenerated on every read
// from offset 0, so a file opened once serves every later reading.
//
// Only regular files are opened for reading, and never so that the open or a read could block:
// real sysfs attributes are regular files, so a FIFO, socket or device in a tree is an error for
// that file (notARegularFile), never a blocked tick.
//
// Every operation reports its failure as the errno it met. Only the operations that return a list
// or a text allocate, and they throw std::bad_alloc when it cannot be held; opening, reading and
// closing never allocate and never throw. Tests wrap the POSIX reader to inject errors (EIO,
// ENODEV, ...) and to count what was done.
//
// Threading: an implementation may be used from one thread at a time.

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/Expected.h"

namespace tessly::hwmon {

// The error of an open that found no regular file (a FIFO, socket, device or directory where an
// attribute file should be). Not an errno: above every errno the kernel defines.
inline constexpr int notARegularFile = 0x10000;

// The text of an error of this seam, for people: the errno's message, or "not a regular file".
std::string ioErrorText(int error);

// The outcome of one operation: the value, or the errno of the failure that prevented it.
template <typename T>
using IoResult = Expected<T, int>;

class FileReader {
  public:
    virtual ~FileReader() = default;

    // The names of a directory's entries without "." and "..", in no particular order. ENOENT
    // means there is no such directory.
    virtual IoResult<std::vector<std::string>> listDirectory(const std::string& path) = 0;

    // Opens a regular file for reading, without blocking (notARegularFile for anything else). The
    // descriptor belongs to the caller, who hands it to close().
    virtual IoResult<int> open(const std::string& path) noexcept = 0;

    // Whether a caller that reads a file again and again may keep this open descriptor for the
    // next read. Descriptors are finite: beyond a budget below the process's limit a file is
    // read by open, read and close each time, so that the descriptors the process needs for
    // its other files (the exchange files, the login item, the log) are always there.
    virtual bool mayKeepOpen(int fd) const noexcept = 0;

    // Reads up to buffer.size() bytes from offset 0 of an open file: the number of bytes read
    // (0 for an empty file). Interrupted reads are retried.
    virtual IoResult<std::size_t> readAt0(int fd, std::span<char> buffer) noexcept = 0;

    virtual void close(int fd) noexcept = 0;

    // The target of a symbolic link, as stored (EINVAL: not a link).
    virtual IoResult<std::string> readLink(const std::string& path) = 0;

    // The process-wide reader over the real file system; lives for the whole process.
    static FileReader& Default() noexcept;
};

// A file descriptor from a FileReader, closed when the handle is destroyed or reset.
class FileHandle {
  public:
    FileHandle() noexcept = default;
    FileHandle(FileReader& reader, int fd) noexcept : reader_(&reader), fd_(fd) {}
    FileHandle(FileHandle&& other) noexcept : reader_(other.reader_), fd_(other.fd_) {
        other.reader_ = nullptr;
    }
    FileHandle& operator=(FileHandle&& other) noexcept {
        if (this != &other) {
            reset();
            reader_ = other.reader_;
            fd_ = other.fd_;
            other.reader_ = nullptr;
        }
        return *this;
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() { reset(); }

    bool isOpen() const noexcept { return reader_ != nullptr; }
    int fd() const noexcept { return fd_; }

    void reset() noexcept {
        if (reader_ != nullptr) reader_->close(fd_);
        reader_ = nullptr;
    }

  private:
    FileReader* reader_ = nullptr;  // null: nothing open
    int fd_ = 0;
};

// The whole content of a small file (up to `limit` bytes; the rest is cut off): one open, one
// read and one close.
IoResult<std::string> readSmallFile(FileReader& reader, const std::string& path,
                                    std::size_t limit = 256);

}  // namespace tessly::hwmon
