#include "platform/sim/SimulatedMachine.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

namespace tessly::sim {

enum class SimulatedMachine::Kind {
    appleSiliconLaptop,
    fanlessLaptop,
    intelDesktop,
    brokenSensors
};

namespace {

using Kind = SimulatedMachine::Kind;

constexpr std::array<SimulatedMachine::Info, 4> machines{{
    {"apple-silicon-laptop",
     "Apple Silicon laptop, two fans that rest at idle, ten CPU dies, GPU, battery, NAND and "
     "memory (TRD) sensors"},
    {"fanless-laptop", "Apple Silicon laptop without fans: runs hotter, no fan reading at all"},
    {"intel-desktop",
     "old Intel desktop: three always-on fans with fpe2 speed keys, no battery, no memory keys"},
    {"broken-sensors",
     "a machine whose sensors misbehave: NaN, zero and negative values, services without names, "
     "unknown and mistyped keys, a services list that fails now and then"},
}};

constexpr Kind kinds[] = {Kind::appleSiliconLaptop, Kind::fanlessLaptop, Kind::intelDesktop,
                          Kind::brokenSensors};

// ---- seeded, smooth functions of time ----------------------------------------------------------

std::uint64_t mix(std::uint64_t seed, std::int64_t step) {
    std::uint64_t z = seed + static_cast<std::uint64_t>(step) * 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// A number in [0, 1) drawn from `hash`; `draw` picks one of several independent draws.
double unit(std::uint64_t hash, std::int64_t draw = 0) {
    return static_cast<double>(mix(hash, draw) >> 11) * 0x1p-53;
}

double smoothstep(double x) {
    x = std::clamp(x, 0.0, 1.0);
    return x * x * (3 - 2 * x);
}

std::int64_t step(double x) {
    return static_cast<std::int64_t>(std::floor(x));
}

// Smooth noise in [-1, 1]: random values at whole x, eased in between.
double noise(std::uint64_t seed, double x) {
    const std::int64_t i = step(x);
    const double a = unit(mix(seed, i)) * 2 - 1;
    const double b = unit(mix(seed, i + 1)) * 2 - 1;
    return a + (b - a) * smoothstep(x - static_cast<double>(i));
}

// 0 before a spike, easing up over `rise`, 1 while it lasts, easing down over `fall`.
double envelope(double sinceStart, double duration, double rise, double fall) {
    if (sinceStart <= 0) return 0;
    if (sinceStart < rise) return smoothstep(sinceStart / rise);
    if (sinceStart < duration) return 1;
    return 1 - smoothstep((sinceStart - duration) / fall);
}

// The machine's load in [0, 1]: a low wandering base, and in about half of all 30 s windows a
// spike of 4 to 16 s to between 0.4 and 1.0 above it. `rise` and `fall` shape how fast what
// follows the load (heat, fans) responds.
double load(std::uint64_t seed, double t, double rise, double fall) {
    constexpr double windowLength = 30;
    const double base = 0.12 + 0.06 * noise(seed ^ 0xB45E, t / 25);
    double spike = 0;
    // A spike starts in the first half of its window; with the slowest fall it ends within the
    // second window after its own.
    for (std::int64_t k = step(t / windowLength) - 2; k <= step(t / windowLength); ++k) {
        const std::uint64_t h = mix(seed, k);
        if (unit(h, 0) >= 0.55) continue;
        const double start = static_cast<double>(k) * windowLength + unit(h, 1) * 14;
        const double duration = std::max(4 + unit(h, 2) * 12, rise);
        const double height = 0.4 + unit(h, 3) * 0.6;
        spike = std::max(spike, height * envelope(t - start, duration, rise, fall));
    }
    return std::clamp(base + spike, 0.0, 1.0);
}

struct Heat {
    double cpu;     // follows the load within some seconds
    double gpu;     // its own spikes
    double memory;  // memory and storage: the CPU's load, taking longer to warm and to cool
    double slow;    // the battery: minutes
};

Heat heatAt(std::uint64_t seed, double t) {
    Heat heat;
    heat.cpu = load(seed, t, 8, 20);
    heat.gpu = load(seed ^ 0x6E0, t, 10, 24);
    heat.memory = load(seed, t, 14, 30);
    heat.slow = std::clamp(0.35 + 0.25 * noise(seed ^ 0x510, t / 90) + 0.3 * load(seed, t, 20, 40),
                           0.0, 1.0);
    return heat;
}

// ---- machine descriptions ----------------------------------------------------------------------
//
// Each machine states what its sensors measure, as its platform would classify them. A sensor
// outside the categories gives nothing but keeps its place: every sensor's jitter is seeded by its
// place in the list. The comments name the sensors as the machine's platform names them.

enum class Source { cpu, gpu, memory, slow, none };

enum class Fault {
    none,
    nan,                // always NaN
    zero,               // always 0
    noValue,            // no temperature at all
    infinite,           // always +infinity
    sometimesNegative,  // a negative value in about a third of all 7 s stretches
    sometimesNaN,       // NaN in about a third of all 7 s stretches
};

constexpr std::optional<TemperatureCategory> uncategorized = std::nullopt;

struct SensorProfile {
    std::optional<TemperatureCategory> category;
    double idle;  // °C at no load
    double gain;  // °C added at full heat
    Source source = Source::cpu;
    Fault fault = Fault::none;
};

struct MemoryProfile {
    double idle;
    double gain;
    Fault fault = Fault::none;
    bool readable = true;  // false: of a type no reader knows, so it never counts
};

// How finely the machine's controller holds a value: as a single-precision float, or in quarters
// of a unit from 0 to 16383.75 (old Intel machines).
enum class Precision { single, quarters };

struct FanProfile {
    double minRPM;
    double maxRPM;
    double restBelow;  // heat below which the fan stands still; 0: always spinning
    Precision precision = Precision::single;
    Fault fault = Fault::none;
    bool hasSpeed = true;       // false: its speed cannot be read, and counts as 0
    bool reportsLimits = true;  // false: it reports no minimum or maximum of its own
};

// Limits that no fan's range gives: a minimum and a maximum, either of them unreadable.
struct OddLimits {
    std::optional<double> minimum;
    std::optional<double> maximum;
};

struct MachineProfile {
    std::uint64_t seed;
    std::vector<SensorProfile> sensors;
    std::vector<MemoryProfile> memory;  // read after the sensors, and only when they could be
    std::vector<FanProfile> fans;
    double listingFailureShare = 0;  // of all 2 s stretches in which the sensors cannot be listed
    std::vector<OddLimits> oddLimits;
};

// "PMU tdie1" … "PMU tdie10".
std::vector<SensorProfile> appleDies(int count, double idle, double gain) {
    using enum TemperatureCategory;
    std::vector<SensorProfile> dies;
    for (int i = 0; i < count && i < 10; ++i) {
        // Dies differ by a degree or two, the performance cores running warmer.
        dies.push_back({cpu, idle + (i % 5) * 0.6 - 1.0, gain});
    }
    return dies;
}

MachineProfile profileOf(Kind kind) {
    using enum TemperatureCategory;
    MachineProfile profile;
    switch (kind) {
        case Kind::appleSiliconLaptop:
            profile.seed = 0x7E55'1E00'0001ULL;
            profile.sensors = appleDies(10, 36, 52);
            profile.sensors.insert(profile.sensors.end(),
                                   {
                                       {uncategorized, 31, 12},                   // PMU tdev1
                                       {uncategorized, 31.5, 11},                 // PMU tdev2
                                       {uncategorized, 30.5, 12},                 // PMU tdev3
                                       {uncategorized, 32, 10},                   // PMU tdev4
                                       {cpu, 38, 46},                             // PMU TP0s
                                       {gpu, 34, 38, Source::gpu},                // PMU TP1g
                                       {gpu, 34.5, 36, Source::gpu},              // PMU TP2g
                                       {uncategorized, 51.875, 0, Source::none},  // PMU tcal
                                       {battery, 29.5, 6, Source::slow},   // gas gauge battery
                                       {storage, 32, 10, Source::memory},  // NAND CH0 temp
                                   });
            profile.memory = {{35, 15}, {34.5, 14}};  // TRD0, TRD1
            profile.fans = {{1200, 5779, 0.35}, {1200, 6241, 0.35}};
            break;
        case Kind::fanlessLaptop:
            profile.seed = 0x7E55'1E00'0002ULL;
            profile.sensors = appleDies(8, 35, 65);
            profile.sensors.insert(profile.sensors.end(),
                                   {
                                       {uncategorized, 30, 15},                   // PMU tdev1
                                       {gpu, 33, 50, Source::gpu},                // PMU TP1g
                                       {uncategorized, 51.875, 0, Source::none},  // PMU tcal
                                       {battery, 30, 8, Source::slow},     // gas gauge battery
                                       {storage, 33, 14, Source::memory},  // NAND CH0 temp
                                   });
            profile.memory = {{34, 18}};  // TRD0
            break;                        // no fans
        case Kind::intelDesktop:
            profile.seed = 0x7E55'1E00'0003ULL;
            profile.sensors = {
                {cpu, 41, 45},                         // CPU Core TP0s
                {cpu, 40, 44},                         // CPU Core TP1s
                {cpu, 41.5, 43},                       // CPU Core TP2s
                {cpu, 40.5, 45},                       // CPU Core TP3s
                {uncategorized, 36, 20},               // CPU Proximity
                {gpu, 45, 30, Source::gpu},            // GPU Diode TP0g
                {uncategorized, 24, 1, Source::slow},  // Ambient
                {storage, 34, 8, Source::memory},      // NAND CH0 temp
            };
            profile.fans = {{800, 2600, 0, Precision::quarters},
                            {600, 1800, 0, Precision::quarters},
                            {700, 2200, 0, Precision::quarters}};
            break;
        case Kind::brokenSensors:
            profile.seed = 0x7E55'1E00'0004ULL;
            profile.sensors = {
                {cpu, 40, 40, Source::cpu, Fault::nan},                // PMU tdie1
                {cpu, 40, 40, Source::cpu, Fault::zero},               // PMU tdie2
                {cpu, 40, 40},                                         // PMU tdie3
                {cpu, 41, 40, Source::cpu, Fault::sometimesNegative},  // PMU tdie4
                {gpu, 35, 30, Source::gpu, Fault::noValue},            // PMU TP1g
                {uncategorized, 45, 0, Source::none},                  // no name
                {uncategorized, 50, 0, Source::none},                  // a name that is no text
                {battery, 30, 5, Source::slow, Fault::infinite},       // gas gauge battery
                {storage, 33, 9, Source::slow, Fault::sometimesNaN},   // NAND CH0 temp
            };
            profile.memory = {
                {36, 10, Fault::nan},          // TRD0
                {36, 10, Fault::none, false},  // TRD1, one unsigned byte
                {37, 12},                      // TRD2
                {36, 10, Fault::zero},         // TRDX
            };
            // Fan 0 reports NaN now and then, its minimum has a type no reader knows and its
            // maximum is 0; fan 1 has no keys at all, so its speed reads as 0.
            profile.fans = {{1800, 4000, 0, Precision::single, Fault::sometimesNaN, true, false},
                            {1800, 4000, 0, Precision::single, Fault::none, false, false}};
            profile.oddLimits = {{std::nullopt, 0.0}};
            profile.listingFailureShare = 0.2;
            break;
    }
    return profile;
}

double faulty(Fault fault, double value, std::uint64_t seed, double t) {
    switch (fault) {
        case Fault::none:
        case Fault::noValue:
            return value;
        case Fault::nan:
            return std::numeric_limits<double>::quiet_NaN();
        case Fault::zero:
            return 0;
        case Fault::infinite:
            return std::numeric_limits<double>::infinity();
        case Fault::sometimesNegative:
            return unit(mix(seed, step(t / 7))) < 0.33 ? -40 : value;
        case Fault::sometimesNaN:
            return unit(mix(seed, step(t / 7))) < 0.33 ? std::numeric_limits<double>::quiet_NaN()
                                                       : value;
    }
    return value;
}

double sourceHeat(const Heat& heat, Source source) {
    switch (source) {
        case Source::cpu:
            return heat.cpu;
        case Source::gpu:
            return heat.gpu;
        case Source::memory:
            return heat.memory;
        case Source::slow:
            return heat.slow;
        case Source::none:
            return 0;
    }
    return 0;
}

// `value` as the machine's controller holds it.
double held(Precision precision, double value) {
    if (precision == Precision::single) return static_cast<double>(static_cast<float>(value));
    // NaN fails both comparisons of the clamp and becomes 0.
    const double quarters = value > 0 ? std::min(value * 4.0, 65535.0) : 0.0;
    return static_cast<double>(std::lround(quarters)) / 4.0;
}

}  // namespace

// What the machine's sensors read at the moment it was last moved to.
struct SimulatedMachine::State {
    struct Temperature {
        TemperatureCategory category;
        std::optional<double> celsius;  // nothing: the sensor gives no temperature
    };

    std::vector<Temperature> temperatures;  // the sensors in order, then memory
    bool listingFails = false;
    std::vector<double> fanSpeeds;  // fan 0 first; NaN while a speed is unreadable
    std::optional<RPMRange> fanRange;
};

namespace {

using State = SimulatedMachine::State;

class MachineTemperatures final : public TemperatureSource {
  public:
    explicit MachineTemperatures(std::shared_ptr<const State> state) noexcept
        : state_(std::move(state)) {}

    bool readTemperatures(TemperatureSink& sink) override {
        if (state_->listingFails) return false;
        for (const auto& [category, celsius] : state_->temperatures) {
            if (celsius) sink.add(category, *celsius);
        }
        return true;
    }

  private:
    std::shared_ptr<const State> state_;
};

class MachineFans final : public FanSource {
  public:
    explicit MachineFans(std::shared_ptr<const State> state) noexcept : state_(std::move(state)) {}

    std::optional<FanReading> readFans() override {
        return fanReadingOf(state_->fanSpeeds, state_->fanRange);
    }

  private:
    std::shared_ptr<const State> state_;
};

}  // namespace

std::span<const SimulatedMachine::Info> SimulatedMachine::catalog() noexcept {
    return machines;
}

std::optional<SimulatedMachine> SimulatedMachine::make(std::string_view name) {
    for (std::size_t i = 0; i < machines.size(); ++i) {
        if (machines[i].name == name) {
            SimulatedMachine machine(machines[i], kinds[i]);
            machine.advanceTo(0);
            return machine;
        }
    }
    return std::nullopt;
}

SimulatedMachine::SimulatedMachine(const Info& info, Kind kind)
    : info_(&info), kind_(kind), state_(std::make_shared<State>()) {
    const MachineProfile profile = profileOf(kind_);
    for (const auto& sensor : profile.sensors) {
        if (sensor.category) state_->temperatures.push_back({*sensor.category, std::nullopt});
    }
    for (const auto& memory : profile.memory) {
        if (memory.readable) state_->temperatures.push_back({TemperatureCategory::memory, {}});
    }
    state_->fanSpeeds.assign(profile.fans.size(), 0.0);
    FanLimits limits;
    for (const auto& fan : profile.fans) {
        if (fan.reportsLimits) {
            limits.add(held(fan.precision, fan.minRPM), held(fan.precision, fan.maxRPM));
        }
    }
    for (const auto& odd : profile.oddLimits)
        limits.add(odd.minimum, odd.maximum);
    state_->fanRange = limits.range();
}

void SimulatedMachine::advanceTo(double seconds) {
    const double t = std::isfinite(seconds) ? seconds : 0.0;
    const MachineProfile profile = profileOf(kind_);
    const Heat heat = heatAt(profile.seed, t);
    auto temperature = state_->temperatures.begin();

    for (std::size_t i = 0; i < profile.sensors.size(); ++i) {
        const SensorProfile& sensor = profile.sensors[i];
        if (!sensor.category) continue;
        const std::uint64_t own = mix(profile.seed, static_cast<std::int64_t>(i) + 1000);
        // Fast sensors flicker by a fraction of a degree, slow ones by a tenth.
        double flicker = 0.6;
        if (sensor.source == Source::memory) flicker = 0.2;
        if (sensor.source == Source::slow) flicker = 0.1;
        if (sensor.source == Source::none) flicker = 0.0;
        const double jitter = flicker * noise(own, t / 3);
        const double value = sensor.idle + sensor.gain * sourceHeat(heat, sensor.source) + jitter;
        auto& reading = (temperature++)->celsius;
        if (sensor.fault == Fault::noValue) {
            reading = std::nullopt;
        } else {
            reading = faulty(sensor.fault, value, own, t);
        }
    }
    if (profile.listingFailureShare > 0) {
        state_->listingFails =
            unit(mix(profile.seed ^ 0x1157, step(t / 2))) < profile.listingFailureShare;
    }

    for (std::size_t i = 0; i < profile.memory.size(); ++i) {
        const MemoryProfile& memory = profile.memory[i];
        if (!memory.readable) continue;
        const std::uint64_t own = mix(profile.seed, static_cast<std::int64_t>(i) + 2000);
        const double value =
            faulty(memory.fault, memory.idle + memory.gain * heat.memory + 0.4 * noise(own, t / 4),
                   own, t);
        (temperature++)->celsius = held(Precision::single, value);
    }

    for (std::size_t i = 0; i < profile.fans.size(); ++i) {
        const FanProfile& fan = profile.fans[i];
        if (!fan.hasSpeed) continue;
        const std::uint64_t own = mix(profile.seed, static_cast<std::int64_t>(i) + 3000);
        // The fans follow the CPU's heat; resting fans start at their minimum speed.
        double rpm = 0;
        if (heat.cpu >= fan.restBelow) {
            const double share = (heat.cpu - fan.restBelow) / (1 - fan.restBelow);
            rpm = fan.minRPM + (fan.maxRPM - fan.minRPM) * std::pow(share, 1.3) +
                  12 * noise(own, t / 2);
        }
        state_->fanSpeeds[i] = held(fan.precision, faulty(fan.fault, rpm, own, t));
    }
}

std::unique_ptr<TemperatureSource> SimulatedMachine::temperatureSource() const {
    return std::make_unique<MachineTemperatures>(state_);
}

std::unique_ptr<FanSource> SimulatedMachine::fanSource() const {
    return std::make_unique<MachineFans>(state_);
}

}  // namespace tessly::sim
