#include "thermal/ThermalSampler.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace tessly {
namespace {

// Small enough that no realistic number of values at the largest double overflows the scaled
// sum, large enough that any value that matters next to an overflowing sum stays normal.
constexpr double sumScale = 0x1p-64;

std::size_t slot(TemperatureCategory category) noexcept {
    return static_cast<std::size_t>(category);
}

// The readings of two sources, one after the other.
class JoinedSource final : public TemperatureSource {
  public:
    JoinedSource(std::unique_ptr<TemperatureSource> first,
                 std::unique_ptr<TemperatureSource> second) noexcept
        : first_(std::move(first)), second_(std::move(second)) {}

    bool readTemperatures(TemperatureSink& sink) override {
        const bool first = first_->readTemperatures(sink);
        const bool second = second_->readTemperatures(sink);
        return first || second;
    }

  private:
    std::unique_ptr<TemperatureSource> first_, second_;
};

}  // namespace

void TemperatureTally::Reduction::add(double value) noexcept {
    if (count_ == 0 || value > maximum_) maximum_ = value;
    sum_ += value;
    scaledSum_ += value * sumScale;
    ++count_;
}

// The values summed in arrival order and divided by their count. Should that sum overflow, the
// mean comes from the same sum taken over values scaled down by an exact power of two, bounded by
// the largest value (which no mean exceeds), so finite inputs give a finite mean.
double TemperatureTally::Reduction::mean() const noexcept {
    const auto n = static_cast<double>(count_);
    if (std::isfinite(sum_)) return sum_ / n;
    return std::min(scaledSum_ / n / sumScale, maximum_);
}

void TemperatureTally::add(TemperatureCategory category, double celsius) noexcept {
    if (!std::isfinite(celsius) || !(celsius > 0.0)) return;
    if (slot(category) < std::size(reductions_)) reductions_[slot(category)].add(celsius);
}

ThermalReading TemperatureTally::reading() const noexcept {
    const auto highest = [this](TemperatureCategory c) -> std::optional<double> {
        const auto& r = reductions_[slot(c)];
        if (r.empty()) return std::nullopt;
        return r.maximum();
    };
    const auto mean = [this](TemperatureCategory c) -> std::optional<double> {
        const auto& r = reductions_[slot(c)];
        if (r.empty()) return std::nullopt;
        return r.mean();
    };
    using enum TemperatureCategory;
    ThermalReading reading;
    reading.cpuTemperatureC = highest(cpu);
    reading.gpuTemperatureC = highest(gpu);
    reading.memoryTemperatureC = highest(memory);
    reading.batteryTemperatureC = mean(battery);
    reading.storageTemperatureC = mean(storage);
    return reading;
}

std::unique_ptr<TemperatureSource> joinTemperatureSources(
    std::unique_ptr<TemperatureSource> first, std::unique_ptr<TemperatureSource> second) {
    if (!first) return second;
    if (!second) return first;
    return std::make_unique<JoinedSource>(std::move(first), std::move(second));
}

std::optional<ThermalReading> ThermalSampler::sample() {
    const double now = clock_->monotonicNow();
    if (previousTimestamp_ && now - *previousTimestamp_ < minimumInterval) return std::nullopt;
    // Stamped before any platform call, so a call that then fails still counts for the throttle.
    previousTimestamp_ = now;

    if (!source_) return std::nullopt;
    TemperatureTally tally;
    if (!source_->readTemperatures(tally)) return std::nullopt;
    return tally.reading();
}

}  // namespace tessly
