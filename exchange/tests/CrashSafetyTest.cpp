// Crash safety across processes and threads: a writer killed at random moments always leaves a
// whole payload, readers alongside writers never see a torn file, and the temporaries that kills
// leave behind are swept once old. Bounded by counts, not by time.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <TesslyKit/TesslyKit.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

#include "ContainerFiles.h"
#include "testing/Scratch.h"

namespace tessly::testing {
namespace {

// Payload number n, whose size and parts vary with n, so that a torn or mixed file cannot pass
// for one that was written.
SensorsPayload numbered(std::int64_t n) {
    const auto value = static_cast<double>(n);
    SensorsPayload payload{.sampledAt = value,
                           .helperVersion = std::string(static_cast<std::size_t>(n % 61), 'v')};
    if (n % 2 == 0) {
        payload.fan =
            FanReading{.rpm = value,
                       .fanCount = n % 5,
                       .rpms = std::vector<double>(static_cast<std::size_t>(n % 5), value)};
    }
    return payload;
}

// The number of the payload these bytes are, exactly as written; nothing for anything else.
std::optional<std::int64_t> numberOf(const std::string& bytes) {
    const auto payload = decodeSensorsPayload(bytes);
    if (!payload) return std::nullopt;
    const auto n = static_cast<std::int64_t>(payload->sampledAt);
    if (encodeJSON(numbered(n)) != bytes) return std::nullopt;
    return n;
}

class CrashSafetyTest : public ::testing::Test, protected ScratchHome {};

TEST_F(CrashSafetyTest, NeitherKilledNorConcurrentWritersEverLeaveATornFile) {
    SensorBridge::write(numbered(0));
    std::mt19937 random(20260101);  // fixed: a failure can be replayed
    std::int64_t last = 0;
    for (int kill = 1; kill <= 500; ++kill) {
        std::fflush(nullptr);
        const pid_t writer = ::fork();
        if (writer == 0) {
            for (std::int64_t n = std::int64_t{kill} * 1'000'000;; ++n)
                SensorBridge::write(numbered(n));
        }
        ASSERT_GT(writer, 0);
        // Reads alongside it for a random while, then once it is killed: each whole, none older.
        const int reads = std::uniform_int_distribution<int>(1, 40)(random);
        for (int i = 0; i <= reads; ++i) {
            if (i == reads) {  // the last read follows the kill
                ::kill(writer, SIGKILL);
                ::waitpid(writer, nullptr, 0);
            }
            const auto n = numberOf(readFile(sensorsFile()));
            ASSERT_TRUE(n) << "kill " << kill << ", read " << i << " of " << reads << " torn";
            ASSERT_GE(*n, last);
            last = *n;
        }
    }
    // Kills between creating a temporary and renaming it leave temporaries; once old, the sweep
    // removes every one of them and nothing else.
    std::size_t leftovers = 0;
    for (const auto& entry : fs::directory_iterator(container())) {
        if (!detail::isTemporaryName(entry.path().filename().string(), "sensors.json")) continue;
        fs::last_write_time(entry.path(), fs::file_time_type::clock::now() - std::chrono::hours(1));
        ++leftovers;
    }
    EXPECT_EQ(SharedContainer::removeStaleTemporaries("sensors.json", 60), leftovers);
    EXPECT_EQ(std::distance(fs::directory_iterator(container()), {}), 1);

    // Threads of one process writing both files while another reads them.
    SensorBridge::writeControl({.autostart = true});
    std::atomic<int> bad{0};
    std::jthread reader([&](const std::stop_token& stop) {
        while (!stop.stop_requested()) {
            if (!numberOf(readFile(sensorsFile()))) ++bad;
            if (!SensorBridge::readControl()) ++bad;
        }
    });
    const auto writer = [](int w) {
        for (int i = w; i < 2000; i += 2) {
            SensorBridge::write(numbered(i));
            if (i % 50 == w) SensorBridge::writeControl({.autostart = i % 4 == 0});
        }
    };
    {
        std::jthread first(writer, 0), second(writer, 1);  // joined as the block ends
    }
    reader.request_stop();
    reader.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(container()), {}), 1);
    EXPECT_EQ(std::distance(fs::directory_iterator(controlDirectory()), {}), 1);
}

}  // namespace
}  // namespace tessly::testing
