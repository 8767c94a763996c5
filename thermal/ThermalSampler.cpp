#include "thermal/ThermalSampler.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <utility>

#include "smc/SMCValues.h"
#include "thermal/TemperatureCategory.h"

namespace tessly {
namespace {

// The kept values of one category, reduced as they arrive, so a walk allocates nothing. Callers
// add only finite values above 0.
class Reduction {
  public:
    void add(double value) noexcept {
        if (count_ == 0 || value > maximum_) maximum_ = value;
        sum_ += value;
        scaledSum_ += value * sumScale;
        ++count_;
    }

    std::optional<double> maximum() const noexcept {
        if (count_ == 0) return std::nullopt;
        return maximum_;
    }

    // The values summed in arrival order and divided by their count. Should that sum overflow,
    // the mean comes from the same sum taken over values scaled down by an exact power of two,
    // bounded by the largest value (which no mean exceeds), so finite inputs give a finite mean.
    std::optional<double> mean() const noexcept {
        if (count_ == 0) return std::nullopt;
        const auto n = static_cast<double>(count_);
        if (std::isfinite(sum_)) return sum_ / n;
        return std::min(scaledSum_ / n / sumScale, maximum_);
    }

  private:
    // Small enough that no realistic number of values at the largest double overflows the scaled
    // sum, large enough that any value that matters next to an overflowing sum stays normal.
    static constexpr double sumScale = 0x1p-64;

    std::size_t count_ = 0;
    double maximum_ = 0.0;
    double sum_ = 0.0;
    double scaledSum_ = 0.0;
};

// A memory key's temperature in degrees Celsius: the first 4 bytes of a "flt " value as a
// little-endian IEEE 754 single, widened. Nothing when the key cannot be read, has another type
// or holds fewer than 4 bytes. The value itself is not judged here.
std::optional<double> readFloatKey(const SMCBridge& smc, std::string_view key) noexcept {
    const auto value = smc.readKey(key);
    if (!value || !value->hasType(smc::typeFlt)) return std::nullopt;
    const auto celsius = smc::decodeFlt(value->bytes());
    if (!celsius) return std::nullopt;
    return static_cast<double>(*celsius);
}

}  // namespace

ThermalSampler::ThermalSampler(std::unique_ptr<TemperatureServices> services,
                               std::unique_ptr<SMCDriver> smcDriver, Clock& clock) noexcept
    : client_(std::move(services)), clock_(&clock), smc_(std::move(smcDriver)) {}

std::optional<ThermalReading> ThermalSampler::sample() noexcept {
    const double now = clock_->monotonicNow();
    if (previousTimestamp_ && now - *previousTimestamp_ < minimumInterval) return std::nullopt;
    // Stamped before any platform call, so a call that then fails still counts for the throttle.
    previousTimestamp_ = now;

    if (!client_) return std::nullopt;
    const auto services = client_->copyServices();
    if (!services) return std::nullopt;
    const SensorNaming naming = client_->naming();

    Reduction cpu, gpu, battery, storage;
    for (std::size_t i = 0, n = services->count(); i < n; ++i) {
        const auto name = services->productName(i);
        if (!name) continue;
        const auto kind = categoryAt(i, *name, naming);
        if (!kind) continue;
        const auto celsius = services->temperature(i);
        if (!celsius || !std::isfinite(*celsius) || !(*celsius > 0.0)) continue;
        switch (*kind) {
            case TemperatureCategory::cpu:
                cpu.add(*celsius);
                break;
            case TemperatureCategory::gpu:
                gpu.add(*celsius);
                break;
            case TemperatureCategory::battery:
                battery.add(*celsius);
                break;
            case TemperatureCategory::storage:
                storage.add(*celsius);
                break;
        }
    }

    ThermalReading reading;
    reading.cpuTemperatureC = cpu.maximum();
    reading.gpuTemperatureC = gpu.maximum();
    reading.memoryTemperatureC = readMemoryTemperature();
    reading.batteryTemperatureC = battery.mean();
    reading.storageTemperatureC = storage.mean();
    return reading;
}

std::optional<TemperatureCategory> ThermalSampler::categoryAt(std::size_t index,
                                                              std::string_view name,
                                                              SensorNaming naming) noexcept {
    if (index < classified_.size() && classified_[index].known && classified_[index].name == name) {
        return classified_[index].category;
    }
    const auto category = categoryOf(naming, name);
    try {
        if (index >= classified_.size()) classified_.resize(index + 1);
        // A failed assignment leaves the name as it was, still paired with its category.
        auto& kept = classified_[index];
        kept.name = name;
        kept.category = category;
        kept.known = true;
    } catch (const std::bad_alloc&) {  // kept nowhere: the next listing classifies it again
    }
    return category;
}

std::optional<double> ThermalSampler::readMemoryTemperature() noexcept {
    if (!smc_.isOpen()) return std::nullopt;
    if (!memoryKeysProbed_) probeMemoryKeys();

    // Only finite values compete: an infinite maximum would make the reading unpublishable for
    // as long as the key reports it.
    double highest = 0.0;
    for (std::size_t i = 0; i < memoryKeyCount_; ++i) {
        const auto celsius = readFloatKey(smc_, memoryKeys_[i]);
        if (celsius && std::isfinite(*celsius) && highest < *celsius) highest = *celsius;
    }
    if (highest > 0.0) return highest;
    return std::nullopt;
}

void ThermalSampler::probeMemoryKeys() noexcept {
    // Marked first: the probe runs once in the sampler's life, whatever it finds.
    memoryKeysProbed_ = true;
    for (const std::string_view key : smc::memoryKeys) {
        if (readFloatKey(smc_, key)) memoryKeys_[memoryKeyCount_++] = key;
    }
}

}  // namespace tessly
