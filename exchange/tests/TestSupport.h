#pragma once
// Shared helpers of the exchange tests: bit-exact record comparison, a scratch HOME, and a
// watchdog for operations that must not hang.

#include <gtest/gtest.h>

#include <TesslyKit/TesslyKit.h>

#include <bit>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessly::test {

// Bit-exact: -0.0 differs from 0.0 and a NaN equals the same NaN (IEEE equality would hide a lost
// sign of zero).
inline bool sameBits(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}
inline bool sameBits(const std::optional<double>& a, const std::optional<double>& b) {
    return a.has_value() == b.has_value() && (!a || sameBits(*a, *b));
}
bool sameBits(const std::optional<std::vector<double>>& a,
              const std::optional<std::vector<double>>& b);
bool sameBits(const ThermalReading& a, const ThermalReading& b);
bool sameBits(const FanReading& a, const FanReading& b);
bool sameBits(const SensorControl& a, const SensorControl& b);
bool sameBits(const SensorsPayload& a, const SensorsPayload& b);

// Runs `operation` on a thread; when it has not finished within `limit` (it hangs and cannot be
// cancelled) the process exits at once with a message.
void finishesWithin(std::chrono::seconds limit, const std::function<void()>& operation);

// Writes `bytes` to `file` (replacing it), creating missing parent directories.
void writeBytes(const std::filesystem::path& file, std::string_view bytes);
// The whole content of a regular file (the test fails when it cannot be read).
std::string readBytes(const std::filesystem::path& file);
// The names in a directory, sorted; empty when it does not exist.
std::vector<std::string> entries(const std::filesystem::path& directory);

// Points HOME at a fresh scratch directory for the test, then restores it and removes the scratch.
class TempHome : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    const std::filesystem::path& root() const { return root_; }  // scratch, not HOME itself
    std::filesystem::path home() const { return root_ / "home"; }
    // Where the Linux lookup must put the container for this HOME, and the two files in it.
    std::filesystem::path container() const;
    std::filesystem::path sensorsFile() const { return container() / "sensors.json"; }
    std::filesystem::path controlFile() const { return container() / "control.json"; }

  private:
    std::filesystem::path root_;
    std::optional<std::string> savedHome_;
};

}  // namespace tessly::test
