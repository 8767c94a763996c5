// The real tessly-helper executable, end to end, with HOME and XDG_CONFIG_HOME in a temporary
// directory. Waits are bounded generously; nothing here times the agent.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include <TesslyKit/RecordsJSON.h>
#include <TesslyKit/SensorBridge.h>

#include "testing/Scratch.h"

namespace tessly {
namespace {

using namespace std::chrono_literals;
using testing::TempDir;

double wallNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = 6s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(20ms);
    }
    return condition();
}

class HelperProcessTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::filesystem::path home = dir / "home";
    std::filesystem::path container =
        home / "Library/Group Containers" / std::string(SensorBridge::groupID);
    std::filesystem::path autostartEntry = dir / "config/autostart/app.tessly.helper.desktop";
    std::filesystem::path stderrFile = dir / "stderr.txt";
    pid_t pid = -1;
    std::optional<int> exitStatus;

    void SetUp() override { std::filesystem::create_directories(home); }

    void TearDown() override {
        if (pid > 0 && !exitStatus) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }

    // Starts `program` with the scratch HOME and its standard error in `errors`, and (when
    // given) at most `descriptors` open files.
    pid_t spawn(const std::string& program, const std::filesystem::path& errors,
                std::optional<rlim_t> descriptors = std::nullopt) {
        const std::string homeVar = "HOME=" + home.string();
        const std::string configVar = "XDG_CONFIG_HOME=" + (dir / "config").string();
        const pid_t child = ::fork();
        if (child == 0) {
            const int err = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(err, STDERR_FILENO);
            ::close(err);
            if (descriptors) {
                const rlimit limit{*descriptors, *descriptors};
                ::setrlimit(RLIMIT_NOFILE, &limit);
            }
            const char* argv[] = {program.c_str(), nullptr};
            const char* envp[] = {homeVar.c_str(), configVar.c_str(), "PATH=/usr/bin:/bin",
                                  nullptr};
            ::execve(program.c_str(), const_cast<char* const*>(argv),
                     const_cast<char* const*>(envp));
            ::_exit(127);
        }
        return child;
    }

    void launch(std::optional<rlim_t> descriptors = std::nullopt,
                const std::string& program = TESSLY_HELPER_PATH) {
        pid = spawn(program, stderrFile, descriptors);
        ASSERT_GT(pid, 0);
    }

    // The exit status of a process that must end by itself within a few seconds.
    static std::optional<int> exitOf(pid_t child) {
        int status = 0;
        if (!eventually([&] { return ::waitpid(child, &status, WNOHANG) == child; })) {
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
            return std::nullopt;
        }
        return status;
    }

    bool exited() {
        if (exitStatus) return true;
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            exitStatus = status;
            return true;
        }
        return false;
    }

    std::optional<SensorsPayload> payload() {
        return decodeSensorsPayload(testing::readFile(container / "sensors.json"));
    }

    void writeControl(const std::string& json) {
        testing::writeFile(container / "control.json.new", json);
        std::filesystem::rename(container / "control.json.new", container / "control.json");
    }

    // The sampledAt of the next payload after the current one.
    std::optional<double> nextSampledAt() {
        const double first = payload().value().sampledAt;
        std::optional<double> next;
        eventually([&] { return (next = payload().value_or(SensorsPayload{}).sampledAt) > first; });
        return next > first ? next : std::nullopt;
    }
};

TEST_F(HelperProcessTest, PublishesAtLaunchThenEverySecondAndLeavesAValidFileWhenKilled) {
    launch();
    ASSERT_TRUE(eventually([&] { return payload().has_value(); }));
    EXPECT_EQ(payload().value().helperVersion, std::optional<std::string>("0.1.0"));
    ASSERT_TRUE(nextSampledAt());
    ASSERT_TRUE(nextSampledAt());

    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    exitStatus = 0;
    const auto last = payload();
    ASSERT_TRUE(last);  // still a whole, valid payload
    testing::ScopedEnv readerHome("HOME", home.string());
    EXPECT_TRUE(SensorBridge::read(last->sampledAt + SensorBridge::staleAfter));
    EXPECT_FALSE(SensorBridge::read(last->sampledAt + SensorBridge::staleAfter + 0.5));
}

TEST_F(HelperProcessTest, WithoutControlFileUnregistersOnceAtLaunchOnly) {
    testing::writeFile(autostartEntry, "[Desktop Entry]\n");
    launch();
    ASSERT_TRUE(eventually([&] { return payload().has_value(); }));
    EXPECT_FALSE(std::filesystem::exists(autostartEntry));

    // Put back by hand: later ticks send nothing while the wish is unchanged.
    testing::writeFile(autostartEntry, "[Desktop Entry]\n");
    ASSERT_TRUE(nextSampledAt());
    ASSERT_TRUE(nextSampledAt());
    EXPECT_TRUE(std::filesystem::exists(autostartEntry));
}

TEST_F(HelperProcessTest, FollowsTheAutostartWishWhileRunning) {
    launch();
    ASSERT_TRUE(eventually([&] { return payload().has_value(); }));
    writeControl(R"({"autostart":true})");
    ASSERT_TRUE(eventually([&] { return std::filesystem::exists(autostartEntry); }));
    EXPECT_NE(testing::readFile(autostartEntry).find("Exec="), std::string::npos);

    writeControl(R"({"autostart":false})");
    EXPECT_TRUE(eventually([&] { return !std::filesystem::exists(autostartEntry); }));
}

TEST_F(HelperProcessTest, StopRequestAfterLaunchEndsTheProcessWithoutRegistering) {
    launch();
    ASSERT_TRUE(eventually([&] { return payload().has_value(); }));
    writeControl(R"({"autostart":true,"stopRequestedAt":)" + std::to_string(wallNow()) + "}");
    ASSERT_TRUE(eventually([&] { return exited(); }));
    ASSERT_TRUE(WIFEXITED(*exitStatus));
    EXPECT_EQ(WEXITSTATUS(*exitStatus), 0);
    EXPECT_FALSE(std::filesystem::exists(autostartEntry));
}

TEST_F(HelperProcessTest, StopRequestOlderThanLaunchIsLeftWithoutEffect) {
    writeControl(R"({"autostart":false,"stopRequestedAt":)" + std::to_string(wallNow() - 10) + "}");
    launch();
    ASSERT_TRUE(eventually([&] { return payload().has_value(); }));
    ASSERT_TRUE(nextSampledAt());
    ASSERT_TRUE(nextSampledAt());
    EXPECT_FALSE(exited());
}

// One publisher per container: a second agent leaves at once without touching anything, and a
// killed one keeps nobody out, as the kernel drops its lock with it.
TEST_F(HelperProcessTest, ASecondAgentLeavesAtOnceAndAKilledOneBlocksNobody) {
    writeControl(R"({"autostart":true})");
    launch();
    ASSERT_TRUE(eventually([&] { return std::filesystem::exists(autostartEntry); }));
    // Removed by hand: the running agent leaves it so, and any agent that started anew would
    // restate the wish at launch and write it again.
    std::filesystem::remove(autostartEntry);

    const auto secondErrors = dir / "second.txt";
    const auto second = exitOf(spawn(TESSLY_HELPER_PATH, secondErrors));
    ASSERT_TRUE(second) << "the second agent kept running";
    ASSERT_TRUE(WIFEXITED(*second));
    EXPECT_EQ(WEXITSTATUS(*second), 0);
    EXPECT_EQ(testing::readFile(secondErrors), "Tessly Helper: another agent is publishing\n");
    ASSERT_TRUE(nextSampledAt());
    EXPECT_FALSE(std::filesystem::exists(autostartEntry));

    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    exitStatus = 0;
    exitStatus.reset();
    launch();  // the next agent takes over
    EXPECT_TRUE(eventually([&] { return std::filesystem::exists(autostartEntry); }));
    EXPECT_FALSE(exited());
}

// Eight descriptors in all: the timer and the lock take two, every sensor file is read by open,
// read and close, and the exchange files and the login item still have theirs.
TEST_F(HelperProcessTest, EightDescriptorsAreEnoughToPublishAndKeepTheLoginItem) {
    writeControl(R"({"autostart":true})");
    launch(8);
    ASSERT_TRUE(eventually([&] { return payload().has_value(); })) << testing::readFile(stderrFile);
    ASSERT_TRUE(nextSampledAt());
    EXPECT_TRUE(std::filesystem::exists(autostartEntry));
    EXPECT_FALSE(exited());
    EXPECT_EQ(testing::readFile(stderrFile), "");
}

// The entry must start this agent: once the program file has been replaced (an upgrade), an
// entry naming its path would start something else, so none is written and the failure logged.
TEST_F(HelperProcessTest, AReplacedExecutableWritesNoEntryAndSaysWhy) {
    const auto copy = dir / "tessly-helper";
    std::filesystem::copy_file(TESSLY_HELPER_PATH, copy);
    launch(std::nullopt, copy.string());
    ASSERT_TRUE(eventually([&] { return payload().has_value(); }));
    std::filesystem::copy_file(TESSLY_HELPER_PATH, dir / "upgrade");
    std::filesystem::rename(dir / "upgrade", copy);

    writeControl(R"({"autostart":true})");
    ASSERT_TRUE(eventually([&] { return !testing::readFile(stderrFile).empty(); }));
    EXPECT_EQ(testing::readFile(stderrFile),
              "Tessly Helper: login-item update failed: the running program has been deleted or "
              "replaced since it started; an entry would not start this agent\n");
    EXPECT_FALSE(std::filesystem::exists(autostartEntry));
}

TEST_F(HelperProcessTest, FailedRegistrationLogsOneLineAndIsNotRetried) {
    testing::writeFile(dir / "config/autostart", "a file where the folder should be");
    writeControl(R"({"autostart":true})");
    launch();
    ASSERT_TRUE(eventually([&] { return payload().has_value(); }));
    ASSERT_TRUE(nextSampledAt());
    ASSERT_TRUE(nextSampledAt());

    const std::string log = testing::readFile(stderrFile);
    const std::string prefix = "Tessly Helper: login-item update failed: ";
    ASSERT_EQ(log.rfind(prefix, 0), 0u) << log;
    EXPECT_EQ(log.find(prefix, 1), std::string::npos) << log;  // exactly one line
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1);
}

}  // namespace
}  // namespace tessly
