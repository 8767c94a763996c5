#pragma once
// One publishing agent per shared container: an advisory lock (flock) on the container directory
// itself, held for the life of the process. A directory that holds the payload can be neither
// replaced by another kind of file nor removed while the agent runs, so no stray file, link or
// deletion in the container lets a second agent in beside the first; and the kernel releases the
// lock when its holder ends in any way, so a killed agent never keeps the next one out.

#include <filesystem>
#include <string>

namespace tessly {

class PublisherLock {
  public:
    enum class Outcome {
        held,           // this process now publishes
        heldElsewhere,  // another live process holds the lock
        unavailable,    // no lock could be taken for another reason; see reason()
    };

    // Creates the container where missing and takes the lock without waiting (beyond a few short
    // retries, so that a probe() of that very moment does not turn an agent away). Throws only
    // std::bad_alloc.
    static PublisherLock acquire();
    // The same on a directory of the caller's choice, which is not created.
    static PublisherLock acquire(const std::filesystem::path& directory);

    // Whether an agent holds the lock of the container now, judged without taking it in a way
    // that could keep an agent out: the lock is tried shared for an instant, which only an
    // exclusive holder refuses.
    enum class Holder {
        agent,    // an agent holds it
        none,     // nobody does (or there is no container, so no agent can publish into it)
        unknown,  // the container cannot be opened or locked for another reason
    };
    static Holder probe() noexcept;
    static Holder probe(const std::filesystem::path& directory) noexcept;

    PublisherLock(PublisherLock&& other) noexcept;
    PublisherLock& operator=(PublisherLock&&) = delete;
    PublisherLock(const PublisherLock&) = delete;
    PublisherLock& operator=(const PublisherLock&) = delete;
    // Releases the lock.
    ~PublisherLock();

    Outcome outcome() const noexcept { return outcome_; }
    // Why no lock was taken, for people ("/run/user/1000/tessly: Not a directory"); empty
    // unless the outcome is unavailable.
    const std::string& reason() const noexcept { return reason_; }

  private:
    PublisherLock(Outcome outcome, int fd, std::string reason = {}) noexcept
        : outcome_(outcome), fd_(fd), reason_(std::move(reason)) {}

    Outcome outcome_;
    int fd_;  // the locked directory while held; -1 otherwise
    std::string reason_;
};

}  // namespace tessly
