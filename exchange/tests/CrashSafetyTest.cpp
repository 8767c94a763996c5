// Crash safety across processes: a reader process never sees a torn "sensors.json" while another
// process replaces it at full speed, and a writer process killed with SIGKILL at random moments
// always leaves a whole payload behind. Whatever temporaries the kills leave are removed by the
// sweep once they are old. Bounded by read and kill counts, not by time.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "ContainerFiles.h"
#include "TestSupport.h"

namespace tessly {
namespace {

namespace fs = std::filesystem;
using test::entries;
using test::readBytes;

// At least this many reads, and on until they have seen this many replacements (however the
// two processes happen to be scheduled), but never more than the last count.
constexpr int kReads = 100'000;
constexpr int kReplacementsSeen = 500;
constexpr int kMostReads = 5'000'000;
constexpr int kPayloadKills = 1'000;
constexpr int kControlKills = 100;

// Payload number n, with a size and content that vary with n, so that a torn or mixed file could
// not pass for one the writer wrote.
SensorsPayload numbered(std::int64_t n) {
    const auto value = static_cast<double>(n);
    SensorsPayload payload{.sampledAt = value,
                           .helperVersion = std::string(static_cast<std::size_t>(n % 61), 'v')};
    if (n % 3 != 0) {
        payload.thermal = ThermalReading{.cpuTemperatureC = value / 8, .gpuTemperatureC = 41.25};
    }
    if (n % 2 == 0) {
        payload.fan =
            FanReading{.rpm = value,
                       .fanCount = n % 5,
                       .rpms = std::vector<double>(static_cast<std::size_t>(n % 5), value)};
    }
    return payload;
}

// The number of the payload these bytes are, exactly as the writer encoded it; nothing when the
// bytes are anything else (torn, empty, mixed, or not a payload at all).
std::optional<std::int64_t> payloadNumber(const std::string& bytes) {
    const auto payload = decodeSensorsPayload(bytes);
    if (!payload) return std::nullopt;
    const auto n = static_cast<std::int64_t>(payload->sampledAt);
    if (static_cast<double>(n) != payload->sampledAt || n < 0) return std::nullopt;
    if (encodeJSON(numbered(n)) != bytes) return std::nullopt;
    return n;
}

// Reads a whole file with plain POSIX calls, as any reader might, into `buffer`; the bytes read,
// or nothing when it cannot be opened. A file larger than the buffer reads as its first part.
std::optional<std::string_view> slurp(const fs::path& file, std::span<char> buffer) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::size_t filled = 0;
    while (filled < buffer.size()) {
        const ssize_t got = ::read(fd, buffer.data() + filled, buffer.size() - filled);
        if (got <= 0) break;
        filled += static_cast<std::size_t>(got);
    }
    ::close(fd);
    return std::string_view(buffer.data(), filled);
}

// Starts a process that runs `body` and then ends without running exit handlers, so that it
// leaves the parent's test state and any sanitizer reports to the parent.
pid_t spawn(const std::function<void()>& body) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        body();
        ::_exit(0);
    }
    return pid;
}

// Kills a process with SIGKILL and reaps it; true when it was still running until the kill.
bool killAndReap(pid_t pid) {
    ::kill(pid, SIGKILL);
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return false;
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

// A writer process: writes payloads base, base+1, ... through the library for as long as it
// lives, and writes one byte to `ready` once its first payload is in place.
pid_t startPayloadWriter(std::int64_t base, int ready) {
    return spawn([base, ready] {
        SensorBridge::write(numbered(base));
        const char byte = 1;
        if (::write(ready, &byte, 1) != 1) ::_exit(2);
        for (std::int64_t n = base + 1;; ++n)
            SensorBridge::write(numbered(n));
    });
}

// Sets the modification time of every temporary of `fileName` in `directory` an hour back, as if
// the writes that left them had been interrupted long ago; returns how many there were.
std::size_t ageTemporaries(const fs::path& directory, std::string_view fileName) {
    std::size_t aged = 0;
    const timespec anHourAgo{.tv_sec = ::time(nullptr) - 3600, .tv_nsec = 0};
    const timespec times[2] = {anHourAgo, anHourAgo};
    for (const std::string& name : entries(directory)) {
        if (!detail::isTemporaryName(name, fileName)) continue;
        if (::utimensat(AT_FDCWD, (directory / name).c_str(), times, 0) == 0) ++aged;
    }
    return aged;
}

class CrashSafetyTest : public test::TempHome {
  protected:
    fs::path sensorsFile() const { return container() / "sensors.json"; }
};

TEST_F(CrashSafetyTest, ReaderProcessSeesOnlyWholePayloadsWhileAWriterProcessReplacesThem) {
    SensorBridge::write(numbered(0));
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t writer = startPayloadWriter(1, ready[1]);
    ASSERT_GT(writer, 0);
    char byte = 0;
    if (::read(ready[0], &byte, 1) != 1) {
        killAndReap(writer);
        FAIL() << "the writer process did not start";
    }

    int bad = 0;
    int missing = 0;
    int changes = 0;
    std::int64_t last = 0;
    std::string lastBytes = readBytes(sensorsFile());
    std::string firstBad;
    std::vector<char> buffer(1 << 16);
    const fs::path file = sensorsFile();
    int reads = 0;
    for (; reads < kMostReads && (reads < kReads || changes < kReplacementsSeen); ++reads) {
        const auto bytes = slurp(file, buffer);
        if (!bytes) {
            ++missing;  // a rename never leaves the name without a file
            continue;
        }
        if (*bytes == lastBytes) continue;  // the very bytes already found whole
        const std::string text(*bytes);
        const auto n = payloadNumber(text);
        if (!n || *n < last) {  // one writer: numbers never go back
            if (bad++ == 0) firstBad = text;
            continue;
        }
        ++changes;
        last = *n;
        lastBytes = text;
    }
    EXPECT_TRUE(killAndReap(writer)) << "the writer process ended before it was killed";
    std::printf("%d reads saw %d replacements\n", reads, changes);
    ::close(ready[0]);
    ::close(ready[1]);

    EXPECT_EQ(bad, 0) << "of " << reads << " reads; the first: " << firstBad;
    EXPECT_EQ(missing, 0) << "of " << reads << " reads";
    // The reads really did overlap a stream of replacements.
    EXPECT_GE(changes, kReplacementsSeen) << "in " << reads << " reads";
    EXPECT_TRUE(payloadNumber(readBytes(sensorsFile())));
}

TEST_F(CrashSafetyTest, PayloadWriterKilledAtRandomMomentsAlwaysLeavesAWholePayload) {
    SensorBridge::write(numbered(0));
    std::mt19937 random(20'260'101);  // fixed: a failure can be replayed
    std::uniform_int_distribution<int> delayMicros(0, 400);
    std::int64_t last = 0;
    int earlyDeaths = 0;
    for (int kill = 1; kill <= kPayloadKills; ++kill) {
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const std::int64_t base = std::int64_t{kill} * 1'000'000;
        const pid_t writer = startPayloadWriter(base, ready[1]);
        ASSERT_GT(writer, 0);
        ::close(ready[1]);
        char byte = 0;
        const bool started = ::read(ready[0], &byte, 1) == 1;
        ::close(ready[0]);
        std::this_thread::sleep_for(std::chrono::microseconds(delayMicros(random)));
        if (!killAndReap(writer) || !started) ++earlyDeaths;

        const auto n = payloadNumber(readBytes(sensorsFile()));
        ASSERT_TRUE(n) << "kill " << kill << " left a file that is not a whole payload";
        // The killed process had stored at least its first payload, and nothing older came back.
        ASSERT_GE(*n, base) << "kill " << kill;
        ASSERT_GE(*n, last) << "kill " << kill;
        last = *n;
    }
    EXPECT_EQ(earlyDeaths, 0) << "writer processes that ended before they were killed";

    // A kill between creating a temporary and renaming it leaves the temporary behind; once old,
    // the sweep removes every one of them and nothing else.
    const std::size_t leftovers = ageTemporaries(container(), "sensors.json");
    std::printf("%zu of %d kills left a temporary behind\n", leftovers, kPayloadKills);
    const std::string before = readBytes(sensorsFile());
    EXPECT_EQ(SharedContainer::removeStaleTemporaries("sensors.json", 60), leftovers);
    EXPECT_EQ(entries(container()), std::vector<std::string>{"sensors.json"});
    EXPECT_EQ(readBytes(sensorsFile()), before);
}

TEST_F(CrashSafetyTest, ControlWriterKilledAtRandomMomentsAlwaysLeavesAWholeRecord) {
    // The control file is flushed before and after its rename, so kills also land inside fsync.
    SensorBridge::writeControl({.autostart = true, .stopRequestedAt = 0});
    std::mt19937 random(20'260'102);
    std::uniform_int_distribution<int> delayMicros(0, 3'000);
    double last = 0;
    for (int kill = 1; kill <= kControlKills; ++kill) {
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const double base = kill * 1'000'000.0;
        const pid_t writer = spawn([base, &ready] {
            SensorBridge::writeControl({.autostart = false, .stopRequestedAt = base});
            const char byte = 1;
            if (::write(ready[1], &byte, 1) != 1) ::_exit(2);
            for (double n = base + 1;; ++n) {
                SensorBridge::writeControl(
                    {.autostart = static_cast<std::int64_t>(n) % 2 == 0, .stopRequestedAt = n});
            }
        });
        ASSERT_GT(writer, 0);
        ::close(ready[1]);
        char byte = 0;
        const bool started = ::read(ready[0], &byte, 1) == 1;
        ::close(ready[0]);
        std::this_thread::sleep_for(std::chrono::microseconds(delayMicros(random)));
        EXPECT_TRUE(killAndReap(writer) && started) << "kill " << kill;

        const auto control = decodeSensorControl(readBytes(container() / "control.json"));
        ASSERT_TRUE(control) << "kill " << kill << " left a control file that is not whole";
        ASSERT_TRUE(control->stopRequestedAt);
        const double n = *control->stopRequestedAt;
        ASSERT_GE(n, base) << "kill " << kill;
        ASSERT_GE(n, last) << "kill " << kill;
        EXPECT_EQ(control->autostart, n != base && static_cast<std::int64_t>(n) % 2 == 0);
        last = n;
    }
    const std::size_t leftovers = ageTemporaries(container(), "control.json");
    EXPECT_EQ(SharedContainer::removeStaleTemporaries("control.json", 60), leftovers);
    EXPECT_EQ(entries(container()), std::vector<std::string>{"control.json"});
}

}  // namespace
}  // namespace tessly
