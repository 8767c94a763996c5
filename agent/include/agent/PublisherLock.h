#pragma once
// One publishing agent per shared container: an advisory lock on "agent.lock" in the container,
// held for the life of the process. The kernel releases it when its holder ends in any way, so
// a killed agent never keeps the next one out.

#include <filesystem>
#include <optional>

namespace tessly {

class PublisherLock {
  public:
    enum class Outcome {
        held,           // this process now publishes
        heldElsewhere,  // another live process holds the lock
        unavailable,    // no lock could be taken (no container, not a regular file, ...)
    };

    // Creates the container and the lock file where missing and takes the lock without
    // waiting. Never throws.
    static PublisherLock acquire() noexcept;
    // The same on a lock file of the caller's choice.
    static PublisherLock acquire(const std::filesystem::path& lockFile) noexcept;

    PublisherLock(PublisherLock&& other) noexcept;
    PublisherLock& operator=(PublisherLock&&) = delete;
    PublisherLock(const PublisherLock&) = delete;
    PublisherLock& operator=(const PublisherLock&) = delete;
    // Releases the lock.
    ~PublisherLock();

    Outcome outcome() const noexcept { return outcome_; }

    // The lock file's name in the container.
    static constexpr const char* fileName = "agent.lock";

  private:
    PublisherLock(Outcome outcome, int fd) noexcept : outcome_(outcome), fd_(fd) {}

    Outcome outcome_;
    int fd_;  // the locked file while held; -1 otherwise
};

}  // namespace tessly
