#pragma once
// Seam: the machine's fans, as one reading (the SMC's fan keys on macOS; hwmon's fanN_input,
// fanN_min and fanN_max on Linux; scripted machines in tests), and the rules that turn each
// fan's speed and limits into the published FanReading, which every platform shares.
//
// Threading: used from one thread. Ownership: the agent owns its source.

#include <memory>
#include <optional>
#include <vector>

#include <TesslyKit/Records.h>

namespace tessly {

class FanSource {
  public:
    virtual ~FanSource() = default;

    // One reading of every fan now, or nothing when the machine has no fans or their count
    // cannot be read. Every value in a reading is finite. Throws nothing but std::bad_alloc.
    virtual std::optional<FanReading> readFans() = 0;

    // A new source over the platform's fans, or null when the platform has none (creation
    // failed). Defined by each platform.
    static std::unique_ptr<FanSource> Default() noexcept;
};

// The fans' common speed range: the lowest minimum and the highest maximum of any fan (a fan may
// give one side only), kept only when the lowest minimum lies below the highest maximum. Values
// that are not finite are passed over.
class FanLimits {
  public:
    void add(std::optional<double> minimum, std::optional<double> maximum) noexcept;
    std::optional<RPMRange> range() const noexcept;

  private:
    std::optional<double> lowest_;
    std::optional<double> highest_;
};

// The reading of fans with these speeds (fan 0 first; a fan whose speed cannot be read counts as
// 0) and this range: rpm the highest speed, fanCount the number of speeds. Nothing without fans.
std::optional<FanReading> fanReadingOf(std::vector<double> speeds, std::optional<RPMRange> range);

}  // namespace tessly
