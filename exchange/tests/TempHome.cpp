#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

#include "TestSupport.h"

namespace tessly::test {

bool sameBits(const std::optional<std::vector<double>>& a,
              const std::optional<std::vector<double>>& b) {
    if (!a || !b) return a.has_value() == b.has_value();
    return std::equal(a->begin(), a->end(), b->begin(), b->end(),
                      [](double x, double y) { return sameBits(x, y); });
}

bool sameBits(const ThermalReading& a, const ThermalReading& b) {
    return sameBits(a.cpuTemperatureC, b.cpuTemperatureC) &&
           sameBits(a.gpuTemperatureC, b.gpuTemperatureC) &&
           sameBits(a.memoryTemperatureC, b.memoryTemperatureC) &&
           sameBits(a.batteryTemperatureC, b.batteryTemperatureC) &&
           sameBits(a.storageTemperatureC, b.storageTemperatureC);
}

bool sameBits(const FanReading& a, const FanReading& b) {
    return sameBits(a.rpm, b.rpm) && a.fanCount == b.fanCount && sameBits(a.rpms, b.rpms) &&
           sameBits(a.minRPM, b.minRPM) && sameBits(a.maxRPM, b.maxRPM);
}

bool sameBits(const SensorControl& a, const SensorControl& b) {
    return a.autostart == b.autostart && sameBits(a.stopRequestedAt, b.stopRequestedAt);
}

bool sameBits(const SensorsPayload& a, const SensorsPayload& b) {
    if (a.thermal.has_value() != b.thermal.has_value() || a.fan.has_value() != b.fan.has_value())
        return false;
    return (!a.thermal || sameBits(*a.thermal, *b.thermal)) &&
           (!a.fan || sameBits(*a.fan, *b.fan)) && sameBits(a.sampledAt, b.sampledAt) &&
           a.helperVersion == b.helperVersion;
}

void finishesWithin(std::chrono::seconds limit, const std::function<void()>& operation) {
    std::packaged_task<void()> task(operation);
    auto done = task.get_future();
    std::thread worker(std::move(task));
    if (done.wait_for(limit) != std::future_status::ready) {
        std::fprintf(stderr, "FAILED: operation still running after %lld s (it hangs)\n",
                     static_cast<long long>(limit.count()));
        std::fflush(stderr);
        std::_Exit(1);
    }
    worker.join();
    done.get();
}

void writeBytes(const std::filesystem::path& file, std::string_view bytes) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << file;
}

std::string readBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    EXPECT_TRUE(in.is_open()) << file;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::vector<std::string> entries(const std::filesystem::path& directory) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(directory, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void TempHome::SetUp() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/tesslykit-test.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    std::filesystem::create_directory(home());
    if (const char* previous = std::getenv("HOME")) savedHome_ = previous;
    ASSERT_EQ(::setenv("HOME", home().c_str(), 1), 0);
}

void TempHome::TearDown() {
    if (savedHome_) {
        ::setenv("HOME", savedHome_->c_str(), 1);
    } else {
        ::unsetenv("HOME");
    }
    std::error_code ignored;
    if (!root_.empty()) std::filesystem::remove_all(root_, ignored);
}

std::filesystem::path TempHome::container() const {
    return home() / "Library" / "Group Containers" / SensorBridge::groupID;
}

}  // namespace tessly::test
