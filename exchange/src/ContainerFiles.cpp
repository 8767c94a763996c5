#include "ContainerFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

namespace tessly::detail {

namespace {

constexpr std::string_view temporaryInfix = ".tmp.";
constexpr std::size_t suffixLength = 12;
constexpr std::string_view suffixAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

// One owned file descriptor.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() {
        if (fd_ >= 0) ::close(fd_);
    }

    void reset(int fd) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

    // Closes now and reports whether close succeeded: some file systems report a failed write
    // only here. On Linux the descriptor is gone even when close fails (EINTR included).
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

  private:
    int fd_ = -1;
};

struct DirCloser {
    void operator()(DIR* listing) const { ::closedir(listing); }
};

template <class Call>
auto retryOnEINTR(Call call) {
    for (;;) {
        const auto result = call();
        if (result >= 0 || errno != EINTR) return result;
    }
}

int openRetrying(const char* path, int flags) {
    return retryOnEINTR([&] { return ::open(path, flags); });
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;  // EFBIG, ENOSPC, EIO, ...
        }
        if (written == 0) {  // no progress: give up rather than spin
            errno = ENOSPC;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

std::uint64_t splitMix64(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

std::uint64_t freshSeed() {
    std::uint64_t seed = 0;
    if (getentropy(&seed, sizeof seed) == 0) return seed;
    // No entropy from the kernel: the process id and both clocks still differ between any two
    // processes on one machine.
    seed = static_cast<std::uint64_t>(::getpid()) << 32;
    seed ^= static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
    seed += static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return seed;
}

// Bumped in every forked child, so that a child reseeds instead of repeating its parent's names.
std::atomic<unsigned> forkGeneration{0};
void noteFork() {
    forkGeneration.fetch_add(1, std::memory_order_relaxed);
}

// 128 bits for one temporary name from a per-thread generator seeded once from the kernel, so a
// write costs no system call for it. Names only need to differ in practice: O_EXCL keeps two
// writers apart even when they do not.
std::array<std::uint64_t, 2> randomBits() {
    static const int atforkRegistered = ::pthread_atfork(nullptr, nullptr, noteFork);
    (void)atforkRegistered;
    struct Generator {
        std::uint64_t state = 0;
        unsigned generation = ~0u;
    };
    thread_local Generator generator;
    const unsigned generation = forkGeneration.load(std::memory_order_relaxed);
    if (generator.generation != generation) {
        generator.state = freshSeed();
        generator.generation = generation;
    }
    return {splitMix64(generator.state), splitMix64(generator.state)};
}

bool isSuffixCharacter(char c) {
    return suffixAlphabet.find(c) != std::string_view::npos;
}

bool isPlainFileName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

}  // namespace

void appendTemporaryName(std::string& out, std::string_view fileName) {
    out.reserve(out.size() + 1 + fileName.size() + temporaryInfix.size() + suffixLength);
    out += '.';
    out += fileName;
    out += temporaryInfix;
    const auto bits = randomBits();
    for (std::size_t i = 0; i < suffixLength; ++i) {
        // Six bits per letter out of 128; the modulo's slight bias does not matter for names.
        const std::uint64_t word = bits[i / 6];
        const auto sixBits = static_cast<std::size_t>((word >> (10 * (i % 6))) & 0x3F);
        out += suffixAlphabet[sixBits % suffixAlphabet.size()];
    }
}

std::string temporaryName(std::string_view fileName) {
    std::string name;
    appendTemporaryName(name, fileName);
    return name;
}

bool isTemporaryName(std::string_view candidate, std::string_view fileName) noexcept {
    const std::size_t prefixLength = 1 + fileName.size() + temporaryInfix.size();
    if (candidate.size() != prefixLength + suffixLength) return false;
    if (candidate.front() != '.' || candidate.substr(1, fileName.size()) != fileName ||
        candidate.substr(1 + fileName.size(), temporaryInfix.size()) != temporaryInfix) {
        return false;
    }
    const std::string_view suffix = candidate.substr(prefixLength);
    return std::all_of(suffix.begin(), suffix.end(), isSuffixCharacter);
}

}  // namespace tessly::detail

namespace tessly {

bool replaceFileAtomically(const std::filesystem::path& directory, std::string_view fileName,
                           std::string_view bytes, Durability durability) noexcept {
    using namespace detail;
    try {
        if (!isPlainFileName(fileName)) {
            errno = EINVAL;
            return false;
        }
        // A synced write names the directory by a descriptor, so the temporary, the rename, the
        // cleanup and the directory's fsync all happen in the one directory even if its path is
        // moved meanwhile. An unsynced write (the every-second payload) uses paths and spares the
        // open and close of the directory.
        UniqueFd dir;
        int base = AT_FDCWD;
        std::string targetPath;  // relative to base
        if (durability == Durability::synced) {
            dir.reset(openRetrying(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (!dir) return false;
            base = dir.get();
        } else {
            targetPath.reserve(directory.native().size() + 1 + fileName.size());
            targetPath = directory.native();
            targetPath += '/';
        }
        const std::size_t prefixLength = targetPath.size();
        targetPath += fileName;

        std::string temporary;
        temporary.reserve(targetPath.size() + 32);
        UniqueFd file;
        for (int attempt = 0; attempt < 8 && !file; ++attempt) {
            temporary.assign(targetPath, 0, prefixLength);
            appendTemporaryName(temporary, fileName);
            // O_EXCL: never reuse or follow an existing entry, so no two writers share one.
            file.reset(retryOnEINTR([&] {
                return ::openat(base, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                                0644);
            }));
            if (!file && errno != EEXIST) return false;
        }
        if (!file) return false;

        bool written = writeAll(file.get(), bytes);
        if (written && durability == Durability::synced) written = ::fsync(file.get()) == 0;
        written = file.close() && written;
        if (written && ::renameat(base, temporary.c_str(), base, targetPath.c_str()) == 0) {
            // The rename is done and cannot be taken back; a failed directory sync only means
            // that a crash right now might still show the previous file.
            if (durability == Durability::synced) (void)::fsync(dir.get());
            return true;
        }
        const int error = errno;  // the failed step's, not the cleanup's
        (void)::unlinkat(base, temporary.c_str(), 0);
        errno = error;
        return false;
    } catch (const std::bad_alloc&) {  // before the temporary exists: nothing to undo
        errno = ENOMEM;
        return false;
    }
}

}  // namespace tessly

namespace tessly::detail {

namespace {

FileContent failure(ReadFailure why, int error = 0) {
    return {std::nullopt, why, error};
}

// What an errno from looking up or opening the file says about it.
FileContent lookupFailure(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return failure(ReadFailure::missing, error);
        case ELOOP:  // a symlink loop leads to no file at all
            return failure(ReadFailure::notRegular, error);
        default:
            return failure(ReadFailure::failed, error);
    }
}

}  // namespace

FileContent readSmallRegularFile(const std::filesystem::path& file) {
    // Look before opening, so that a FIFO or a device is never opened at all (opening some
    // devices has effects); then check the opened file again, in case the entry was swapped.
    struct stat before {};
    if (::stat(file.c_str(), &before) != 0) return lookupFailure(errno);
    if (!S_ISREG(before.st_mode)) return failure(ReadFailure::notRegular);

    // O_NONBLOCK: should a FIFO be swapped in after the stat, neither open nor read blocks.
    const UniqueFd fd(openRetrying(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd) return lookupFailure(errno);
    struct stat opened {};
    if (::fstat(fd.get(), &opened) != 0) return failure(ReadFailure::failed, errno);
    if (!S_ISREG(opened.st_mode)) return failure(ReadFailure::notRegular);
    if (opened.st_size < 0 || static_cast<std::uintmax_t>(opened.st_size) > maxFileSize) {
        return failure(ReadFailure::tooLarge);
    }

    // Read to the end, allowing one byte beyond the cap to notice a file that grew.
    std::string bytes(static_cast<std::size_t>(opened.st_size) + 1, '\0');
    std::size_t filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            if (bytes.size() > maxFileSize) return failure(ReadFailure::tooLarge);
            bytes.resize(std::min(bytes.size() * 2, maxFileSize + 1));
        }
        const ssize_t got = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
        if (got < 0) {
            if (errno == EINTR) continue;
            return failure(ReadFailure::failed, errno);
        }
        if (got == 0) break;
        const std::size_t asked = bytes.size() - filled;
        filled += static_cast<std::size_t>(got);
        // A regular file reads short only at its end: once the size it had when opened has
        // come in short of the buffer, the file is whole without another read.
        if (static_cast<std::size_t>(got) < asked &&
            filled == static_cast<std::size_t>(opened.st_size)) {
            break;
        }
    }
    if (filled > maxFileSize) return failure(ReadFailure::tooLarge);
    bytes.resize(filled);
    return {std::move(bytes), ReadFailure::none, 0};
}

std::size_t removeStaleTemporaries(const std::filesystem::path& directory,
                                   std::string_view fileName, double minAgeSeconds) {
    if (!isPlainFileName(fileName) || std::isnan(minAgeSeconds)) return 0;
    const int fd = openRetrying(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return 0;
    const std::unique_ptr<DIR, DirCloser> listing(::fdopendir(fd));  // owns fd once open
    if (!listing) {
        ::close(fd);
        return 0;
    }
    const int dir = ::dirfd(listing.get());
    std::vector<std::string> candidates;  // collected first: no unlinking while listing
    while (const dirent* entry = ::readdir(listing.get())) {
        if (isTemporaryName(entry->d_name, fileName)) candidates.emplace_back(entry->d_name);
    }

    const double now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    std::size_t removed = 0;
    for (const std::string& name : candidates) {
        struct stat info {};
        if (::fstatat(dir, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(info.st_mode)) {
            continue;
        }
        const double age = now - static_cast<double>(info.st_mtime);
        if (age >= minAgeSeconds && ::unlinkat(dir, name.c_str(), 0) == 0) {
            ++removed;
        }
    }
    return removed;
}

}  // namespace tessly::detail
