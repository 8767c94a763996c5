#include "agent/ControlReader.h"

#include <TesslyKit/SharedContainer.h>

#include <cerrno>
#include <utility>

namespace tessly {

bool ControlReader::same(const Identity& a, const Identity& b) noexcept {
    const auto equal = [](const timespec& x, const timespec& y) {
        return x.tv_sec == y.tv_sec && x.tv_nsec == y.tv_nsec;
    };
    return a.device == b.device && a.inode == b.inode && a.mode == b.mode && a.size == b.size &&
           equal(a.modified, b.modified) && equal(a.changed, b.changed);
}

const ControlStatus& ControlReader::read() {
    const auto* container = SharedContainer::lookUpControlDirectory();
    if (container != nullptr) {
        // Built again only when the directory moved (HOME or XDG_STATE_HOME changed); both are
        // built before either is kept, so an allocation failure leaves them as they were.
        if (!container_ || container->native() != container_->native()) {
            std::filesystem::path file = *container / "control.json";
            std::filesystem::path directory = *container;
            container_ = std::move(directory);
            file_ = std::move(file);
        }
        const std::filesystem::path& file = file_;
        struct stat info {};
        if (::stat(file.c_str(), &info) == 0) {
#ifdef __APPLE__
            const Identity now{info.st_dev,  info.st_ino,       info.st_mode,
                               info.st_size, info.st_mtimespec, info.st_ctimespec};
#else
            const Identity now{info.st_dev,  info.st_ino,  info.st_mode,
                               info.st_size, info.st_mtim, info.st_ctim};
#endif
            const bool sameFile = last_.file.native() == file.native();
            if (identity_ && same(*identity_, now) && sameFile) return last_;
            last_ = controlStatus();
            // Kept only when this read found the file it looked at; a file replaced between
            // the stat and the read is simply read again next time.
            identity_.reset();
            if (last_.state != ControlStatus::State::missing &&
                last_.state != ControlStatus::State::unavailable) {
                identity_ = now;
            }
            lastMissing_ = 0;
            return last_;
        }
        // Still no file where there was none: nothing more to look at.
        if ((errno == ENOENT || errno == ENOTDIR) && errno == lastMissing_ &&
            last_.file.native() == file.native()) {
            return last_;
        }
    }
    identity_.reset();
    last_ = controlStatus();
    lastMissing_ = last_.state == ControlStatus::State::missing ? last_.error : 0;
    return last_;
}

}  // namespace tessly
