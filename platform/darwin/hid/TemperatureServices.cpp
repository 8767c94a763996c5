#include "thermal/TemperatureServices.h"

#include <new>
#include <utility>

namespace tessly {
namespace {

// One listing after another: indexes below the first's count are the first's.
class JoinedList final : public TemperatureServiceList {
  public:
    JoinedList(std::unique_ptr<TemperatureServiceList> first,
               std::unique_ptr<TemperatureServiceList> second) noexcept
        : first_(std::move(first)), second_(std::move(second)) {}

    std::size_t count() const noexcept override { return size(first_) + size(second_); }

    std::optional<std::string_view> productName(std::size_t index) noexcept override {
        const std::size_t split = size(first_);
        if (index < split) return first_->productName(index);
        if (index - split < size(second_)) return second_->productName(index - split);
        return std::nullopt;
    }

    std::optional<double> temperature(std::size_t index) noexcept override {
        const std::size_t split = size(first_);
        if (index < split) return first_->temperature(index);
        if (index - split < size(second_)) return second_->temperature(index - split);
        return std::nullopt;
    }

  private:
    static std::size_t size(const std::unique_ptr<TemperatureServiceList>& list) noexcept {
        return list ? list->count() : 0;
    }

    std::unique_ptr<TemperatureServiceList> first_, second_;
};

class JoinedServices final : public TemperatureServices {
  public:
    JoinedServices(std::unique_ptr<TemperatureServices> first,
                   std::unique_ptr<TemperatureServices> second) noexcept
        : first_(std::move(first)), second_(std::move(second)) {}

    SensorNaming naming() const noexcept override { return first_->naming(); }

    std::unique_ptr<TemperatureServiceList> copyServices() noexcept override {
        auto first = first_->copyServices();
        auto second = second_->copyServices();
        if (!first && !second) return nullptr;
        try {
            return std::make_unique<JoinedList>(std::move(first), std::move(second));
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
    }

  private:
    std::unique_ptr<TemperatureServices> first_, second_;
};

}  // namespace

std::unique_ptr<TemperatureServices> joinTemperatureServices(
    std::unique_ptr<TemperatureServices> first,
    std::unique_ptr<TemperatureServices> second) noexcept {
    if (!first) return second;
    if (!second) return first;
    try {
        return std::make_unique<JoinedServices>(std::move(first), std::move(second));
    } catch (const std::bad_alloc&) {
        return first;  // the first part, rather than none
    }
}

}  // namespace tessly
