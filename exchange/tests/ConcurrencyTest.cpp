// Atomic replacement under load: a reader that runs alongside a writer never sees an invalid or
// torn file, and concurrent writers never share or leave a temporary. Bounded by write counts,
// not by time.

#include <atomic>
#include <string>
#include <thread>

#include "TestSupport.h"

namespace tessly {
namespace {

using test::entries;

constexpr int kWrites = 3000;

// Payload number i: its size varies with i, and its parts tell each other apart, so a torn or
// mixed file could not pass for a record the writer wrote.
SensorsPayload numbered(int i) {
    const auto value = static_cast<double>(i);
    SensorsPayload payload{.sampledAt = value,
                           .helperVersion = std::string(static_cast<std::size_t>(i % 97), 'v')};
    if (i % 2 == 0) {
        payload.fan =
            FanReading{.rpm = value,
                       .fanCount = i % 7,
                       .rpms = std::vector<double>(static_cast<std::size_t>(i % 7), value)};
    }
    return payload;
}

bool isNumbered(const SensorsPayload& payload) {
    const int i = static_cast<int>(payload.sampledAt);
    if (payload.sampledAt != i || i < 0) return false;
    const SensorsPayload expected = numbered(i);
    return payload.helperVersion == expected.helperVersion && payload.fan == expected.fan &&
           !payload.thermal;
}

class ConcurrencyTest : public test::TempHome {};

TEST_F(ConcurrencyTest, ReaderAlongsideAWriterSeesOnlyWholeRecordsInOrder) {
    SensorBridge::write(numbered(0));
    std::atomic<bool> done{false};
    std::atomic<int> reads{0};
    std::atomic<int> bad{0};
    std::thread reader([&] {
        int last = -1;
        // At least a few hundred reads even if the writer finishes first.
        while (!done.load() || reads.load() < 300) {
            // The decoded payload whatever its age, so a miss can only mean a bad file.
            const auto payload = payloadStatus(0).payload;
            if (!payload || !isNumbered(*payload) || payload->sampledAt < last) {
                bad.fetch_add(1);
            } else {
                last = static_cast<int>(payload->sampledAt);
            }
            reads.fetch_add(1);
        }
    });
    for (int i = 1; i <= kWrites; ++i)
        SensorBridge::write(numbered(i));
    done.store(true);
    reader.join();

    EXPECT_EQ(bad.load(), 0) << "of " << reads.load() << " reads";
    EXPECT_GE(reads.load(), 300);
    EXPECT_EQ(SensorBridge::read(kWrites)->sampledAt, kWrites);
    EXPECT_EQ(entries(container()), std::vector<std::string>{"sensors.json"});
}

TEST_F(ConcurrencyTest, ConcurrentWritersNeverTearTheFileOrLeaveTemporaries) {
    std::thread writers[3];
    for (int w = 0; w < 3; ++w) {
        writers[w] = std::thread([w] {
            for (int i = w; i < 1500; i += 3) {
                SensorBridge::write(numbered(i));
                // control.json is fsynced: fewer of those keep the test quick on a real disk.
                if (i % 10 < 3) SensorBridge::writeControl({.autostart = i % 2 == 0});
            }
        });
    }
    for (auto& writer : writers)
        writer.join();
    const auto payload = payloadStatus(0).payload;
    ASSERT_TRUE(payload);
    EXPECT_TRUE(isNumbered(*payload));
    EXPECT_TRUE(SensorBridge::readControl());
    EXPECT_EQ(entries(container()), (std::vector<std::string>{"control.json", "sensors.json"}));
}

}  // namespace
}  // namespace tessly
