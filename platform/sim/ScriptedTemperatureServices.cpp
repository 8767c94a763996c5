#include "platform/sim/ScriptedTemperatureServices.h"

#include <new>
#include <utility>
#include <vector>

namespace tessly::sim {

struct ScriptedTemperatureServices::State {
    enum class NameKind { text, missing, notAString };

    struct Service {
        NameKind nameKind = NameKind::text;
        std::string name;
        std::optional<double> celsius;
        std::size_t nameReads = 0;
        std::size_t temperatureReads = 0;
    };

    Service* find(std::size_t index) noexcept {
        return index < services.size() ? &services[index] : nullptr;
    }

    SensorNaming naming = SensorNaming::apple;
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

    std::optional<std::string_view> productName(std::size_t index) noexcept override {
        State::Service* service = index < count_ ? state_->find(index) : nullptr;
        if (service == nullptr) return std::nullopt;
        ++service->nameReads;
        if (service->nameKind != State::NameKind::text) return std::nullopt;
        return std::string_view(service->name);
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

    SensorNaming naming() const noexcept override { return state_->naming; }

    std::unique_ptr<TemperatureServiceList> copyServices() noexcept override {
        ++state_->listings;
        if (state_->failListing) return nullptr;
        try {
            return std::make_unique<ScriptedServiceList>(state_, state_->services.size());
        } catch (const std::bad_alloc&) {
            return nullptr;  // a listing that cannot be held is a listing that failed
        }
    }

  private:
    std::shared_ptr<State> state_;
};

}  // namespace

ScriptedTemperatureServices::ScriptedTemperatureServices(SensorNaming naming)
    : state_(std::make_shared<State>()) {
    state_->naming = naming;
}

ScriptedTemperatureServices ScriptedTemperatureServices::appleSiliconLaptop() {
    ScriptedTemperatureServices machine(SensorNaming::apple);
    for (int die = 0; die <= 10; ++die) {
        machine.add("PMU tdie" + std::to_string(die), 44.0 + 0.75 * die);
    }
    machine.add("PMU TP0s", 48.25);
    machine.add("PMU TP1g", 43.5);
    machine.add("PMU tdev1", 38.0);
    machine.add("PMU tcal", 51.875);
    machine.add("gas gauge battery", 30.5);
    machine.add("NAND CH0 temp", 35.0);
    machine.add("noname", 0.0);
    return machine;
}

std::size_t ScriptedTemperatureServices::add(std::string_view name, std::optional<double> celsius) {
    state_->services.push_back({State::NameKind::text, std::string(name), celsius});
    return state_->services.size() - 1;
}

std::size_t ScriptedTemperatureServices::addWithoutName(std::optional<double> celsius) {
    state_->services.push_back({State::NameKind::missing, {}, celsius});
    return state_->services.size() - 1;
}

std::size_t ScriptedTemperatureServices::addWithNonStringName(std::optional<double> celsius) {
    state_->services.push_back({State::NameKind::notAString, {}, celsius});
    return state_->services.size() - 1;
}

ScriptedTemperatureServices& ScriptedTemperatureServices::setName(std::size_t index,
                                                                  std::string_view name) {
    if (auto* service = state_->find(index)) {
        service->nameKind = State::NameKind::text;
        service->name = name;
    }
    return *this;
}

ScriptedTemperatureServices& ScriptedTemperatureServices::removeName(std::size_t index) {
    if (auto* service = state_->find(index)) service->nameKind = State::NameKind::missing;
    return *this;
}

ScriptedTemperatureServices& ScriptedTemperatureServices::setTemperature(
    std::size_t index, std::optional<double> celsius) {
    if (auto* service = state_->find(index)) service->celsius = celsius;
    return *this;
}

ScriptedTemperatureServices& ScriptedTemperatureServices::setNaming(SensorNaming naming) {
    state_->naming = naming;
    return *this;
}

ScriptedTemperatureServices& ScriptedTemperatureServices::failListing(bool fail) {
    state_->failListing = fail;
    return *this;
}

std::unique_ptr<TemperatureServices> ScriptedTemperatureServices::services() const {
    return std::make_unique<ScriptedServices>(state_);
}

std::size_t ScriptedTemperatureServices::serviceCount() const noexcept {
    return state_->services.size();
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

void ScriptedTemperatureServices::clearRecord() noexcept {
    state_->listings = 0;
    for (auto& service : state_->services) {
        service.nameReads = 0;
        service.temperatureReads = 0;
    }
}

}  // namespace tessly::sim
