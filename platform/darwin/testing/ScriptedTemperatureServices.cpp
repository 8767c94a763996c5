#include "platform/darwin/testing/ScriptedTemperatureServices.h"

#include <string>
#include <utility>
#include <vector>

namespace tessly::darwin {

struct ScriptedTemperatureServices::State {
    struct Service {
        std::optional<std::string> name;
        std::optional<double> celsius;
        std::size_t nameReads = 0;
        std::size_t temperatureReads = 0;
    };

    Service* find(std::size_t index) noexcept {
        return index < services.size() ? &services[index] : nullptr;
    }

    bool failListing = false;
    std::vector<Service> services;
    std::size_t listings = 0;
};

namespace {

using State = ScriptedTemperatureServices::State;

class ScriptedServiceList final : public TemperatureServiceList {
  public:
    ScriptedServiceList(std::shared_ptr<State> state, std::size_t count) noexcept
        : state_(std::move(state)), count_(count) {}

    std::size_t count() const noexcept override { return count_; }

    std::optional<std::string_view> productName(std::size_t index) override {
        State::Service* service = index < count_ ? state_->find(index) : nullptr;
        if (service == nullptr) return std::nullopt;
        ++service->nameReads;
        if (!service->name) return std::nullopt;
        return std::string_view(*service->name);
    }

    std::optional<double> temperature(std::size_t index) noexcept override {
        State::Service* service = index < count_ ? state_->find(index) : nullptr;
        if (service == nullptr) return std::nullopt;
        ++service->temperatureReads;
        return service->celsius;
    }

  private:
    std::shared_ptr<State> state_;
    std::size_t count_;
};

class ScriptedServices final : public TemperatureServices {
  public:
    explicit ScriptedServices(std::shared_ptr<State> state) noexcept : state_(std::move(state)) {}

    std::unique_ptr<TemperatureServiceList> copyServices() override {
        ++state_->listings;
        if (state_->failListing) return nullptr;
        return std::make_unique<ScriptedServiceList>(state_, state_->services.size());
    }

  private:
    std::shared_ptr<State> state_;
};

}  // namespace

ScriptedTemperatureServices::ScriptedTemperatureServices() : state_(std::make_shared<State>()) {}

std::size_t ScriptedTemperatureServices::add(std::string_view name, std::optional<double> celsius) {
    state_->services.push_back({std::string(name), celsius});
    return state_->services.size() - 1;
}

std::size_t ScriptedTemperatureServices::addWithoutName(std::optional<double> celsius) {
    state_->services.push_back({std::nullopt, celsius});
    return state_->services.size() - 1;
}

ScriptedTemperatureServices& ScriptedTemperatureServices::setTemperature(
    std::size_t index, std::optional<double> celsius) {
    if (auto* service = state_->find(index)) service->celsius = celsius;
    return *this;
}

ScriptedTemperatureServices& ScriptedTemperatureServices::failListing(bool fail) {
    state_->failListing = fail;
    return *this;
}

std::unique_ptr<TemperatureServices> ScriptedTemperatureServices::services() const {
    return std::make_unique<ScriptedServices>(state_);
}

std::size_t ScriptedTemperatureServices::listings() const noexcept {
    return state_->listings;
}

std::size_t ScriptedTemperatureServices::nameReads(std::size_t index) const noexcept {
    const auto* service = state_->find(index);
    return service != nullptr ? service->nameReads : 0;
}

std::size_t ScriptedTemperatureServices::temperatureReads(std::size_t index) const noexcept {
    const auto* service = state_->find(index);
    return service != nullptr ? service->temperatureReads : 0;
}

std::size_t ScriptedTemperatureServices::temperatureReads() const noexcept {
    std::size_t reads = 0;
    for (const auto& service : state_->services)
        reads += service.temperatureReads;
    return reads;
}

}  // namespace tessly::darwin
