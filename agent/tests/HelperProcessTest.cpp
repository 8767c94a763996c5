// The real tessly-helper, end to end, with HOME and XDG_CONFIG_HOME in a scratch directory: the
// rules a user sees, and the agent under hostile conditions (a file-size limit, few descriptors,
// a second agent, its program replaced). Waits are bounded generously; nothing here times the
// agent.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <TesslyKit/TesslyKit.h>

#include <chrono>
#include <functional>
#include <thread>

#include "testing/SanitizedPreload.h"
#include "testing/Scratch.h"

namespace tessly::testing {
namespace {

using namespace std::chrono_literals;

// The agents started here pass it on to the trial load of the fake NVML.
[[maybe_unused]] const bool preloads = letSanitizedLibrariesPreload();

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = 6s) {
    for (const auto deadline = std::chrono::steady_clock::now() + limit;
         std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(10ms)) {
        if (condition()) return true;
    }
    return condition();
}

double wallNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// One run of a tessly-helper with the scratch HOME; killed when dropped.
struct Helper {
    // `environment`: variables beside the scratch places, PATH and the sanitizers' options;
    // `limit` runs in the child before the program starts, to set its resource limits.
    Helper(const std::string& program, const fs::path& errors,
           std::vector<std::string> environment = {}, void (*limit)() = nullptr) {
        environment.push_back("PATH=/usr/bin:/bin");
        for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR",
                                 "ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
            if (const char* value = ::getenv(name))
                environment.push_back(std::string(name) + "=" + value);
        }
        std::vector<char*> envp;
        for (auto& variable : environment)
            envp.push_back(variable.data());
        envp.push_back(nullptr);
        std::fflush(nullptr);
        pid = ::fork();
        if (pid != 0) return;
        // Its output goes to the file, so that no pipe of the test runner outlives the test.
        const int err = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        ::dup2(err, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        ::close(err);
        ::signal(SIGXFSZ, SIG_DFL);  // as a login session starts it
        if (limit != nullptr) limit();
        const char* argv[] = {program.c_str(), nullptr};
        ::execve(program.c_str(), const_cast<char* const*>(argv), envp.data());
        ::_exit(127);
    }
    ~Helper() {
        if (ended()) return;
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    Helper(const Helper&) = delete;
    Helper& operator=(const Helper&) = delete;

    // The wait status once the process has ended by itself (0: it exited with status 0).
    std::optional<int> ended() {
        int waited = 0;
        if (!status && ::waitpid(pid, &waited, WNOHANG) == pid) status = waited;
        return status;
    }

    pid_t pid = -1;
    std::optional<int> status;
};

class HelperProcessTest : public ::testing::Test, protected ScratchHome {
  protected:
    fs::path errors = dir / "stderr.txt";

    std::optional<SensorsPayload> payload() const {
        return decodeSensorsPayload(readFile(sensorsFile()));
    }
    bool payloadAfter(double after) const {
        return eventually([&] { return payload() && payload()->sampledAt > after; });
    }
    void SetUp() override { fs::create_directories(container()); }
};

// At launch and then every second, with the autostart entry following the wish (no record: off),
// until a stop request newer than its launch ends it (status 0). Once the program file is
// replaced (an upgrade), an entry naming its path would start something else: none is written,
// and the failure says why.
TEST_F(HelperProcessTest, PublishesEverySecondFollowsTheWishUntilReplacedAndObeysAStop) {
    const fs::path program = dir / "tessly-helper";
    fs::copy_file(TESSLY_HELPER_PATH, program);
    writeFile(autostartEntry(), "[Desktop Entry]\n");
    Helper helper(program.string(), errors);
    const double launched = wallNow();
    ASSERT_TRUE(payloadAfter(launched - 0.5)) << readFile(errors);
    EXPECT_EQ(payload()->helperVersion, "0.1.0");
    ASSERT_TRUE(eventually([&] { return !fs::exists(autostartEntry()); }));
    SensorBridge::writeControl({.autostart = true});
    ASSERT_TRUE(eventually([&] { return fs::exists(autostartEntry()); }));
    EXPECT_NE(readFile(autostartEntry()).find("\nExec=" + program.string() + "\n"),
              std::string::npos);
    SensorBridge::writeControl({.autostart = false});
    ASSERT_TRUE(eventually([&] { return !fs::exists(autostartEntry()); }));
    ASSERT_TRUE(payloadAfter(launched + 1.0)) << "no tick a second after launch";

    fs::copy_file(TESSLY_HELPER_PATH, dir / "upgrade");
    fs::rename(dir / "upgrade", program);
    SensorBridge::writeControl({.autostart = true});
    ASSERT_TRUE(eventually([&] { return !readFile(errors).empty(); }));
    EXPECT_FALSE(fs::exists(autostartEntry()));
    SensorBridge::writeControl({.stopRequestedAt = wallNow()});
    ASSERT_TRUE(eventually([&] { return helper.ended().has_value(); }));
    EXPECT_EQ(helper.ended(), 0);
    EXPECT_EQ(readFile(errors),
              "Tessly Helper: login-item update failed: the running program has been deleted or "
              "replaced since it started; an entry would not start this agent\n");
}

// An NVML whose temperature calls hang for 10 s (a fake, found through LD_LIBRARY_PATH as the
// loader would find NVIDIA's, which reads its first GPU and then hangs) holds up neither the
// payloads nor a stop: both come while the call still hangs.
TEST_F(HelperProcessTest, AHangingNvmlHoldsUpNeitherPayloadsNorAStop) {
    fs::create_directories(dir / "nvml");
    fs::copy_file(TESSLY_FAKE_NVML, dir / "nvml/libnvidia-ml.so.1");
    const fs::path calls = dir / "nvml-calls.txt";
    Helper helper(TESSLY_HELPER_PATH, errors,
                  {"LD_LIBRARY_PATH=" + (dir / "nvml").string(), "TESSLY_FAKE_NVML_HANG=10",
                   "TESSLY_FAKE_NVML_LOG=" + calls.string()});
    ASSERT_TRUE(eventually([&] { return readFile(calls) == "hanging\n"; }, 15s))
        << readFile(errors);
    ASSERT_TRUE(payloadAfter(wallNow() + 3)) << "no payload while NVML hangs";
    SensorBridge::writeControl({.stopRequestedAt = wallNow()});
    ASSERT_TRUE(eventually([&] { return helper.ended().has_value(); }));
    EXPECT_EQ(readFile(calls), "hanging\n") << "the payloads or the stop waited for the call";
    EXPECT_EQ(helper.ended(), 0);
    EXPECT_EQ(readFile(errors), "");
}

// A soft descriptor limit below the hard one is raised to the hard one, for the sensor files; and
// eight descriptors in all are enough: the device-event monitor and the lock take two, every
// sensor file is read by open, read and close, and the exchange files and the login item still
// get theirs. One publisher per container: a second agent leaves at once, touching nothing, even
// once every file in the container is gone or replaced; a killed one keeps nobody out.
TEST_F(HelperProcessTest, EightDescriptorsAreEnoughAndASecondAgentLeavesAtOnce) {
    SensorBridge::writeControl({.autostart = true});
    auto first =
        std::make_unique<Helper>(TESSLY_HELPER_PATH, errors, std::vector<std::string>{}, [] {
            const rlimit limit{7, 8};  // room below the soft limit for the sanitizers' own checks
            ::setrlimit(RLIMIT_NOFILE, &limit);
        });
    ASSERT_TRUE(payloadAfter(wallNow() + 1)) << readFile(errors);
    EXPECT_TRUE(fs::exists(autostartEntry()));
    EXPECT_FALSE(first->ended());
    rlimit limit{};
    ASSERT_EQ(::prlimit(first->pid, RLIMIT_NOFILE, nullptr, &limit), 0);
    EXPECT_EQ(limit.rlim_cur, 8u);

    fs::remove(autostartEntry());  // an agent that started anew would write it again
    for (const auto& entry : fs::directory_iterator(container()))
        fs::remove_all(entry.path());
    ASSERT_EQ(::mkfifo((container() / "agent.lock").c_str(), 0600), 0);
    Helper second(TESSLY_HELPER_PATH, dir / "second.txt");
    ASSERT_TRUE(eventually([&] { return second.ended().has_value(); }));
    EXPECT_EQ(second.ended(), 0);
    EXPECT_EQ(readFile(dir / "second.txt"), "Tessly Helper: another agent is publishing\n");
    ASSERT_TRUE(payloadAfter(wallNow() + 0.5));
    EXPECT_FALSE(fs::exists(autostartEntry()));

    first.reset();  // killed
    SensorBridge::writeControl({.autostart = true});
    Helper next(TESSLY_HELPER_PATH, errors);
    EXPECT_TRUE(eventually([&] { return fs::exists(autostartEntry()); }));
}

// Where the container cannot be made (a regular file stands in its place), the agent says once
// that it runs without the lock and once that it cannot publish, and publishes as soon as it can.
TEST_F(HelperProcessTest, AnAgentThatCannotLockOrPublishSaysSoOnceAndGoesOn) {
    fs::remove_all(container());
    writeFile(container(), "");
    Helper helper(TESSLY_HELPER_PATH, errors);
    const std::string container = this->container().string();
    const std::string failing =
        "Tessly Helper: publishing without the single-agent lock: " + container +
        ": Not a directory\nTessly Helper: cannot publish " + container +
        "/sensors.json: Not a directory\n";
    ASSERT_TRUE(eventually([&] { return readFile(errors) == failing; })) << readFile(errors);
    fs::remove(container);
    ASSERT_TRUE(payloadAfter(0));
    EXPECT_TRUE(eventually([&] {
        return readFile(errors) ==
               failing + "Tessly Helper: publishing again to " + container + "/sensors.json\n";
    })) << readFile(errors);
    EXPECT_FALSE(helper.ended());
}

// Writes that fail (here for a file-size limit) keep the last whole payload in place; the agent
// keeps ticking and publishes again once writing works.
TEST_F(HelperProcessTest, FailingWritesKeepTheLastPayloadUntilWritingWorksAgain) {
    SensorBridge::write({.sampledAt = 1'000'000.5, .helperVersion = "previous"});
    const std::string previous = readFile(sensorsFile());
    Helper helper(TESSLY_HELPER_PATH, errors, {}, [] {
        rlimit limit{};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 0;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    std::this_thread::sleep_for(2300ms);
    ASSERT_FALSE(helper.ended()) << "the agent ended while writes failed";
    EXPECT_EQ(readFile(sensorsFile()), previous);
    rlimit lifted{};
    ASSERT_EQ(::prlimit(helper.pid, RLIMIT_FSIZE, nullptr, &lifted), 0);
    lifted.rlim_cur = lifted.rlim_max;
    ASSERT_EQ(::prlimit(helper.pid, RLIMIT_FSIZE, &lifted, nullptr), 0);
    EXPECT_TRUE(payloadAfter(1'000'000.5));
}

}  // namespace
}  // namespace tessly::testing
