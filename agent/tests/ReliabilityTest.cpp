// The agent under hostile conditions, end to end: killed with SIGKILL at random moments, writing
// into a file-size limit, a full file system and a read-only one. Each time the last whole
// payload stays in place, the agent keeps ticking, and it publishes again once writing works.
//
// The real tessly-helper runs with HOME and XDG_CONFIG_HOME in a temporary directory. The file
// system cases mount a small tmpfs in a private mount namespace of a child process; where that
// is refused (not root, no namespaces) they are skipped with a message. Waits are bounded
// generously and nothing here times the agent.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <TesslyKit/RecordsJSON.h>
#include <TesslyKit/SensorBridge.h>

#include "agent/SensorsAgent.h"
#include "agent/tests/ScriptedMachine.h"
#include "base/ManualClock.h"
#include "platform/sim/HandDrivenHost.h"
#include "platform/sim/ScriptedSMC.h"
#include "platform/sim/ScriptedTemperatureServices.h"
#include "testing/Scratch.h"

namespace tessly {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::TempDir;

constexpr int kAgentKills = 20;
constexpr std::string_view sensorsFileName = "sensors.json";

fs::path containerBelow(const fs::path& home) {
    return home / "Library/Group Containers" / std::string(SensorBridge::groupID);
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = 6s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(10ms);
    }
    return condition();
}

std::optional<std::string> fileBytes(const fs::path& file) {
    if (!fs::exists(file)) return std::nullopt;
    return testing::readFile(file);
}

std::optional<SensorsPayload> payloadIn(const fs::path& container) {
    const auto bytes = fileBytes(container / sensorsFileName);
    if (!bytes) return std::nullopt;
    return decodeSensorsPayload(*bytes);
}

// Whether `name` is a temporary of "sensors.json": ".sensors.json.tmp." and 12 letters or digits.
bool isSensorsTemporary(const std::string& name) {
    constexpr std::string_view prefix = ".sensors.json.tmp.";
    if (name.size() != prefix.size() + 12 || !name.starts_with(prefix)) return false;
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

std::set<std::string> sensorsTemporaries(const fs::path& container) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(container, ec)) {
        const std::string name = entry.path().filename().string();
        if (isSensorsTemporary(name)) names.insert(name);
    }
    return names;
}

std::vector<std::string> entries(const fs::path& directory) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(directory, ec)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Sets a file's modification time `secondsAgo` seconds back from now.
void setAge(const fs::path& file, std::time_t secondsAgo) {
    const timespec then{.tv_sec = std::time(nullptr) - secondsAgo, .tv_nsec = 0};
    const timespec times[2] = {then, then};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0) << file;
}

// One run of the real tessly-helper with its own HOME and XDG_CONFIG_HOME. Killed when dropped.
class Helper {
  public:
    struct Options {
        fs::path home;
        fs::path configHome;
        fs::path stderrFile;
        // A soft RLIMIT_FSIZE for the process (the hard limit stays as it is).
        std::optional<rlim_t> fileSizeLimit;
    };

    explicit Helper(const Options& options) {
        // Everything the child needs is prepared before the fork.
        std::vector<std::string> environment = {"HOME=" + options.home.string(),
                                                "XDG_CONFIG_HOME=" + options.configHome.string(),
                                                "PATH=/usr/bin:/bin"};
        for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
            if (const char* value = std::getenv(name)) {
                environment.push_back(std::string(name) + "=" + value);
            }
        }
        std::vector<char*> envp;
        for (auto& variable : environment)
            envp.push_back(variable.data());
        envp.push_back(nullptr);
        const std::string stderrPath = options.stderrFile.string();

        std::fflush(nullptr);
        pid_ = ::fork();
        if (pid_ != 0) return;
        const int err = ::open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (err >= 0) ::dup2(err, STDERR_FILENO);
        // The agent starts with the dispositions a login session gives it.
        ::signal(SIGXFSZ, SIG_DFL);
        if (options.fileSizeLimit) {
            rlimit limit{};
            ::getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = *options.fileSizeLimit;
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(126);
        }
        const char* argv[] = {TESSLY_HELPER_PATH, nullptr};
        ::execve(TESSLY_HELPER_PATH, const_cast<char* const*>(argv), envp.data());
        ::_exit(127);
    }
    ~Helper() { killNow(); }
    Helper(const Helper&) = delete;
    Helper& operator=(const Helper&) = delete;

    pid_t pid() const { return pid_; }

    // Whether the process is still running; once it has ended, how it ended is kept.
    bool running() {
        if (status_) return false;
        int status = 0;
        if (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
        return !status_;
    }

    // Kills with SIGKILL; true when the process was still running until then.
    bool killNow() {
        if (pid_ <= 0 || status_) return false;
        ::kill(pid_, SIGKILL);
        int status = 0;
        if (::waitpid(pid_, &status, 0) != pid_) return false;
        status_ = status;
        return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    }

    // How the process ended, for messages.
    std::string ending() const {
        if (!status_) return "still running";
        if (WIFSIGNALED(*status_)) return "killed by signal " + std::to_string(WTERMSIG(*status_));
        return "exited with status " + std::to_string(WEXITSTATUS(*status_));
    }

  private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// Runs `body` in a child process that has a private mount namespace with a tmpfs of `bytes`
// bytes mounted at `mountPoint` (visible to that child and its own children only). The child's
// test failures fail the test. False, with nothing run, when the namespace or the mount is
// refused.
bool inPrivateTmpfs(const fs::path& mountPoint, std::size_t bytes,
                    const std::function<void()>& body) {
    constexpr int kRefused = 77;
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", mountPoint.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) !=
                0) {
            ::_exit(kRefused);
        }
        body();
        std::fflush(nullptr);
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, 0), child);
    if (WIFEXITED(status) && WEXITSTATUS(status) == kRefused) return false;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the child with the private tmpfs failed (status " << status << ")";
    return true;
}

constexpr const char* kNoPrivateTmpfs =
    "needs root and a private mount namespace (unshare(CLONE_NEWNS) and mounting a tmpfs were "
    "refused); run as root, e.g. in the CI container, to cover full and read-only file systems";

// Fills the file system that holds `directory` until nothing more fits, by growing one file
// there; the file's path. Call again after anything that frees space.
fs::path fillUp(const fs::path& directory) {
    const fs::path filler = directory / "filler";
    const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    EXPECT_GE(fd, 0) << std::strerror(errno);
    const std::vector<char> block(4096, 'x');
    for (std::size_t size = block.size(); size > 0; size /= 2) {
        while (::write(fd, block.data(), size) == static_cast<ssize_t>(size)) {
        }
    }
    ::close(fd);
    // Nothing more fits: even one byte in a new file fails.
    const fs::path probe = directory / "probe";
    const int probeFd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (probeFd >= 0) {
        EXPECT_NE(::write(probeFd, "x", 1), 1) << "the file system is not full";
        ::close(probeFd);
        ::unlink(probe.c_str());
    }
    return filler;
}

// Remounts the tmpfs at `mountPoint` read-only or writable again. A write in progress makes the
// kernel refuse a read-only remount for a moment, so that is retried.
void remount(const fs::path& mountPoint, bool readOnly) {
    const unsigned long flags = MS_REMOUNT | MS_NOSUID | MS_NODEV | (readOnly ? MS_RDONLY : 0);
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", flags, nullptr) == 0) return;
        if (errno != EBUSY) break;
        std::this_thread::sleep_for(5ms);
    }
    ADD_FAILURE() << "remounting " << mountPoint << (readOnly ? " read-only" : " writable")
                  << " failed: " << std::strerror(errno);
}

class ReliabilityTest : public ::testing::Test {
  protected:
    TempDir dir;
    fs::path home = dir / "home";
    fs::path container = containerBelow(home);
    Helper::Options options{.home = home,
                            .configHome = dir / "config",
                            .stderrFile = dir / "stderr.txt",
                            .fileSizeLimit = std::nullopt};

    void SetUp() override { fs::create_directories(container); }

    // The payload in the container, when it decodes.
    std::optional<SensorsPayload> payload() const { return payloadIn(container); }

    // Waits for a payload sampled after `after`; its sampledAt.
    std::optional<double> nextPayloadAfter(double after, std::chrono::milliseconds limit = 6s) {
        std::optional<double> seen;
        eventually(
            [&] {
                const auto p = payload();
                if (p && p->sampledAt > after) seen = p->sampledAt;
                return seen.has_value();
            },
            limit);
        return seen;
    }
};

TEST_F(ReliabilityTest, KilledAgentLeavesAWholePayloadAndItsLaunchSweepStopsLeftoversPilingUp) {
    // Left alone by every sweep: another file's temporary, and a name outside the pattern.
    const fs::path otherTemporary = container / ".control.json.tmp.AbCdEf012345";
    const fs::path notATemporary = container / ".sensors.json.tmp.short";
    testing::writeFile(otherTemporary, "{\"autostart\":");
    testing::writeFile(notATemporary, "{\"sampledAt\":");
    setAge(otherTemporary, 3600);
    setAge(notATemporary, 3600);

    std::mt19937 random(20'261'206);  // fixed: a failure can be replayed
    std::uniform_int_distribution<int> earlyKill(0, 300);
    std::uniform_int_distribution<int> lateKill(0, 1'300);
    std::optional<double> lastSampledAt;
    std::size_t mostTemporaries = 0;
    for (int kill = 0; kill < kAgentKills; ++kill) {
        SCOPED_TRACE("kill " + std::to_string(kill));
        // Time passes between crashes: whatever earlier runs left is now an hour old...
        const std::set<std::string> old = sensorsTemporaries(container);
        for (const auto& name : old)
            setAge(container / name, 3600);
        // ...and a write of a moment ago (another agent's, say) is still young.
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "young%07d", kill);
        const std::string young = ".sensors.json.tmp." + std::string(suffix);
        const fs::path youngTemporary = container / young;
        testing::writeFile(youngTemporary, "{\"sampledAt\":1");

        Helper helper(options);
        ASSERT_GT(helper.pid(), 0);
        // Every other run is killed at a random moment of its start; the others once they have
        // published, somewhere within their first ticks.
        const bool afterPublishing = kill % 2 == 1;
        if (afterPublishing) {
            const auto published = nextPayloadAfter(lastSampledAt.value_or(0));
            ASSERT_TRUE(published) << "no payload from this run; it " << helper.ending();
            std::this_thread::sleep_for(std::chrono::milliseconds(lateKill(random)));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(earlyKill(random)));
        }
        ASSERT_TRUE(helper.killNow()) << "the agent " << helper.ending() << " before the kill";

        const auto bytes = fileBytes(container / sensorsFileName);
        if (lastSampledAt) {
            ASSERT_TRUE(bytes) << "the payload is gone";
        }
        if (bytes) {
            const auto p = decodeSensorsPayload(*bytes);
            ASSERT_TRUE(p) << "not a whole payload: " << *bytes;
            if (lastSampledAt) {
                EXPECT_GE(p->sampledAt, *lastSampledAt);
            }
            lastSampledAt = p->sampledAt;
        }

        const std::set<std::string> now = sensorsTemporaries(container);
        EXPECT_TRUE(now.contains(young)) << "a young temporary was swept";
        if (afterPublishing) {
            // The launch sweep ran before the first payload: every old leftover is gone.
            for (const auto& name : old)
                EXPECT_FALSE(now.contains(name)) << name << " was kept";
            // At most the young one and one that this kill interrupted.
            EXPECT_LE(now.size(), 2u);
            mostTemporaries = std::max(mostTemporaries, now.size());
        }
    }
    EXPECT_TRUE(fs::exists(otherTemporary));
    EXPECT_TRUE(fs::exists(notATemporary));
    std::printf("%d kills; at most %zu temporaries after a launch sweep\n", kAgentKills,
                mostTemporaries);
}

TEST_F(ReliabilityTest, FileSizeLimitFailsWritesButTheAgentKeepsTickingAndRecoversWhenLifted) {
    {
        testing::ScopedEnv writerHome("HOME", home.string());
        SensorBridge::write({.sampledAt = 1'000'000.5, .helperVersion = "previous"});
    }
    const std::string previous = testing::readFile(container / sensorsFileName);
    options.fileSizeLimit = 0;  // every write fails (EFBIG, or SIGXFSZ where not ignored)
    Helper helper(options);
    ASSERT_GT(helper.pid(), 0);

    // Two ticks and the launch write, all failing.
    std::this_thread::sleep_for(2'300ms);
    ASSERT_TRUE(helper.running()) << "the agent " << helper.ending() << " while writes failed";
    EXPECT_EQ(testing::readFile(container / sensorsFileName), previous);
    EXPECT_EQ(entries(container), (std::vector<std::string>{"agent.lock", "sensors.json"}));

    // The limit is lifted while the agent runs; its next tick publishes.
    rlimit lifted{};
    ASSERT_EQ(::prlimit(helper.pid(), RLIMIT_FSIZE, nullptr, &lifted), 0);
    lifted.rlim_cur = lifted.rlim_max;
    ASSERT_EQ(::prlimit(helper.pid(), RLIMIT_FSIZE, &lifted, nullptr), 0);
    ASSERT_TRUE(nextPayloadAfter(1'000'000.5)) << "no payload after the limit was lifted";
    EXPECT_TRUE(helper.running()) << "the agent " << helper.ending();
    EXPECT_EQ(entries(container), (std::vector<std::string>{"agent.lock", "sensors.json"}));
}

TEST_F(ReliabilityTest, FullFileSystemKeepsThePreviousPayloadAndTheAgentRecoversWhenSpaceReturns) {
    const fs::path mountPoint = dir / "mnt";
    fs::create_directories(mountPoint);
    const bool ran = inPrivateTmpfs(mountPoint, 256 * 1024, [&] {
        options.home = mountPoint / "home";
        const fs::path tmpfsContainer = containerBelow(options.home);
        fs::create_directories(tmpfsContainer);
        Helper helper(options);
        const auto first = [&] {
            std::optional<SensorsPayload> p;
            eventually([&] { return (p = payloadIn(tmpfsContainer)).has_value(); });
            return p;
        }();
        ASSERT_TRUE(first) << "no payload at launch; the agent " << helper.ending();

        fillUp(mountPoint);
        // A write in flight may still land and free the space of the file it replaced: once it
        // has, that space is taken too, and from then on every write fails.
        std::this_thread::sleep_for(50ms);
        const fs::path filler = fillUp(mountPoint);
        const std::string before = testing::readFile(tmpfsContainer / sensorsFileName);
        std::this_thread::sleep_for(2'300ms);
        ASSERT_TRUE(helper.running()) << "the agent " << helper.ending() << " on a full disk";
        EXPECT_EQ(testing::readFile(tmpfsContainer / sensorsFileName), before);
        EXPECT_TRUE(decodeSensorsPayload(before));
        EXPECT_EQ(entries(tmpfsContainer),
                  (std::vector<std::string>{"agent.lock", "sensors.json"}));

        const double lastSampledAt = decodeSensorsPayload(before)->sampledAt;
        fs::remove(filler);
        std::optional<double> next;
        eventually([&] {
            const auto p = payloadIn(tmpfsContainer);
            if (p && p->sampledAt > lastSampledAt) next = p->sampledAt;
            return next.has_value();
        });
        EXPECT_TRUE(next) << "no payload once space returned";
        EXPECT_TRUE(helper.running()) << "the agent " << helper.ending();
        EXPECT_EQ(entries(tmpfsContainer),
                  (std::vector<std::string>{"agent.lock", "sensors.json"}));
    });
    if (!ran) GTEST_SKIP() << kNoPrivateTmpfs;
}

// The same on simulated time, with the ticks fired by hand: while the container's file system is
// full and then read-only, every tick still samples and applies control, and the first tick after
// the file system is writable again publishes.
class FileSystemFailureTest : public ::testing::Test, protected testing::ScriptedMachine {
  protected:
    TempDir dir;
    fs::path mountPoint = dir / "mnt";

    FileSystemFailureTest() { fs::create_directories(mountPoint); }

    std::shared_ptr<SensorsAgent> launch() {
        auto agent = makeAgent();
        host.run();
        return agent;
    }

    // Fires `ticks` ticks while writes fail; each must sample, and the file must not change.
    void tickWhileWritesFail(const fs::path& container, int ticks) {
        const std::string before = testing::readFile(container / sensorsFileName);
        for (int i = 0; i < ticks; ++i) {
            const std::size_t fanReads = fanSMC.exchangeCount("F0Ac");
            services.setTemperature(0, 60.0 + i);
            tick();
            EXPECT_GT(fanSMC.exchangeCount("F0Ac"), fanReads) << "tick " << i << " did not sample";
            fanSMC.clearRecord();
        }
        EXPECT_EQ(testing::readFile(container / sensorsFileName), before);
        EXPECT_TRUE(sensorsTemporaries(container).empty());
    }
};

TEST_F(FileSystemFailureTest, FullThenReadOnlyContainerKeepsThePayloadAndTicksUntilWritable) {
    const bool ran = inPrivateTmpfs(mountPoint, 256 * 1024, [&] {
        const fs::path home = mountPoint / "home";
        const fs::path container = containerBelow(home);
        testing::ScopedEnv scopedHome("HOME", home.string());
        SensorBridge::writeControl({.autostart = true});
        const auto agent = launch();
        ASSERT_TRUE(payloadIn(container));
        EXPECT_EQ(loginItems.requests, std::vector<std::string>{"register"});

        // Control is still read while writes fail: a new control file renamed into place (which
        // needs no space) is obeyed on the next tick.
        testing::writeFile(container / "control.next", R"({"autostart":false})");
        const fs::path filler = fillUp(mountPoint);
        tickWhileWritesFail(container, 2);
        fs::rename(container / "control.next", container / "control.json");
        fillUp(mountPoint);  // the replaced control file freed its space
        tickWhileWritesFail(container, 2);
        EXPECT_EQ(loginItems.requests, (std::vector<std::string>{"register", "unregister"}));
        fs::remove(filler);
        tick();
        ASSERT_TRUE(payloadIn(container));
        EXPECT_EQ(payloadIn(container)->sampledAt, clock.wallNow());

        remount(mountPoint, true);
        tickWhileWritesFail(container, 4);
        remount(mountPoint, false);
        tick();
        ASSERT_TRUE(payloadIn(container));
        EXPECT_EQ(payloadIn(container)->sampledAt, clock.wallNow());
        EXPECT_EQ(entries(container), (std::vector<std::string>{"control.json", "sensors.json"}));

        // And control still steers it.
        SensorBridge::writeControl(
            {.autostart = false, .stopRequestedAt = agent->launchedAt() + 1});
        tick();
        EXPECT_EQ(host.terminateRequests, 1);
    });
    if (!ran) GTEST_SKIP() << kNoPrivateTmpfs;
}

}  // namespace
}  // namespace tessly
