#include "platform/sim/SimulatedMachine.h"

#include "smc/SMCKeys.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
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

enum class Source { cpu, gpu, memory, slow, none };

enum class Fault {
    none,
    nan,                // always NaN
    zero,               // always 0
    noValue,            // no temperature event
    infinite,           // always +infinity
    sometimesNegative,  // a negative value in about a third of all 7 s stretches
    sometimesNaN,       // NaN in about a third of all 7 s stretches
};

enum class Naming { text, missing, notAString };

struct ServiceProfile {
    std::string_view name;
    double idle;  // °C at no load
    double gain;  // °C added at full heat
    Source source = Source::cpu;
    Fault fault = Fault::none;
    Naming naming = Naming::text;
};

enum class KeyType { flt, fpe2, ui8 };

struct MemoryKeyProfile {
    std::string_view key;
    double idle;
    double gain;
    KeyType type = KeyType::flt;
    Fault fault = Fault::none;
};

struct FanProfile {
    double minRPM;
    double maxRPM;
    double restBelow;  // heat below which the fan stands still; 0: always spinning
    KeyType type = KeyType::flt;
    Fault fault = Fault::none;
    bool hasSpeedKey = true;
    bool hasLimitKeys = true;
};

struct FixedKey {
    std::string_view key;
    std::string_view type;
    std::vector<std::uint8_t> bytes;
};

struct MachineProfile {
    std::uint64_t seed;
    std::vector<ServiceProfile> services;
    std::vector<MemoryKeyProfile> memoryKeys;
    std::vector<FanProfile> fans;
    double listingFailureShare = 0;  // of all 2 s stretches in which listing fails
    // Keys whose raw value never changes: (key, type, bytes).
    std::vector<FixedKey> fixedKeys;
};

std::vector<ServiceProfile> appleDies(int count, double idle, double gain) {
    static constexpr std::array<std::string_view, 10> names{
        "PMU tdie1", "PMU tdie2", "PMU tdie3", "PMU tdie4", "PMU tdie5",
        "PMU tdie6", "PMU tdie7", "PMU tdie8", "PMU tdie9", "PMU tdie10"};
    std::vector<ServiceProfile> dies;
    for (int i = 0; i < count && i < static_cast<int>(names.size()); ++i) {
        // Dies differ by a degree or two, the performance cores running warmer.
        dies.push_back({names[static_cast<std::size_t>(i)], idle + (i % 5) * 0.6 - 1.0, gain});
    }
    return dies;
}

MachineProfile profileOf(Kind kind) {
    MachineProfile profile;
    switch (kind) {
        case Kind::appleSiliconLaptop:
            profile.seed = 0x7E55'1E00'0001ULL;
            profile.services = appleDies(10, 36, 52);
            profile.services.insert(profile.services.end(),
                                    {
                                        {"PMU tdev1", 31, 12},
                                        {"PMU tdev2", 31.5, 11},
                                        {"PMU tdev3", 30.5, 12},
                                        {"PMU tdev4", 32, 10},
                                        {"PMU TP0s", 38, 46},
                                        {"PMU TP1g", 34, 38, Source::gpu},
                                        {"PMU TP2g", 34.5, 36, Source::gpu},
                                        {"PMU tcal", 51.875, 0, Source::none},
                                        {"gas gauge battery", 29.5, 6, Source::slow},
                                        {"NAND CH0 temp", 32, 10, Source::memory},
                                    });
            profile.memoryKeys = {{"TRD0", 35, 15}, {"TRD1", 34.5, 14}};
            profile.fans = {{1200, 5779, 0.35}, {1200, 6241, 0.35}};
            break;
        case Kind::fanlessLaptop:
            profile.seed = 0x7E55'1E00'0002ULL;
            profile.services = appleDies(8, 35, 65);
            profile.services.insert(profile.services.end(),
                                    {
                                        {"PMU tdev1", 30, 15},
                                        {"PMU TP1g", 33, 50, Source::gpu},
                                        {"PMU tcal", 51.875, 0, Source::none},
                                        {"gas gauge battery", 30, 8, Source::slow},
                                        {"NAND CH0 temp", 33, 14, Source::memory},
                                    });
            profile.memoryKeys = {{"TRD0", 34, 18}};
            break;  // no fans: "FNum" holds 0
        case Kind::intelDesktop:
            profile.seed = 0x7E55'1E00'0003ULL;
            profile.services = {
                {"CPU Core TP0s", 41, 45},
                {"CPU Core TP1s", 40, 44},
                {"CPU Core TP2s", 41.5, 43},
                {"CPU Core TP3s", 40.5, 45},
                {"CPU Proximity", 36, 20},  // no category: ignored
                {"GPU Diode TP0g", 45, 30, Source::gpu},
                {"Ambient", 24, 1, Source::slow},  // no category: ignored
                {"NAND CH0 temp", 34, 8, Source::memory},
            };
            profile.fans = {{800, 2600, 0, KeyType::fpe2},
                            {600, 1800, 0, KeyType::fpe2},
                            {700, 2200, 0, KeyType::fpe2}};
            break;
        case Kind::brokenSensors:
            profile.seed = 0x7E55'1E00'0004ULL;
            profile.services = {
                {"PMU tdie1", 40, 40, Source::cpu, Fault::nan},
                {"PMU tdie2", 40, 40, Source::cpu, Fault::zero},
                {"PMU tdie3", 40, 40},
                {"PMU tdie4", 41, 40, Source::cpu, Fault::sometimesNegative},
                {"PMU TP1g", 35, 30, Source::gpu, Fault::noValue},
                {"", 45, 0, Source::none, Fault::none, Naming::missing},
                {"", 50, 0, Source::none, Fault::none, Naming::notAString},
                {"gas gauge battery", 30, 5, Source::slow, Fault::infinite},
                {"NAND CH0 temp", 33, 9, Source::slow, Fault::sometimesNaN},
            };
            profile.memoryKeys = {
                {"TRD0", 36, 10, KeyType::flt, Fault::nan},
                {"TRD1", 36, 10, KeyType::ui8},  // the wrong type: never kept
                {"TRD2", 37, 12},
                {"TRDX", 36, 10, KeyType::flt, Fault::zero},
            };
            // Fan 0 reports NaN now and then, its minimum has a type no reader knows and its
            // maximum is 0; fan 1 has no keys at all, so its speed reads as 0.
            profile.fans = {{1800, 4000, 0, KeyType::flt, Fault::sometimesNaN, true, false},
                            {1800, 4000, 0, KeyType::flt, Fault::none, false, false}};
            profile.fixedKeys = {{"F0Mn", "ui16", {0x04, 0xB0}}, {"F0Mx", "flt ", {0, 0, 0, 0}}};
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

void setSpeedKey(ScriptedSMC& smc, std::string_view key, KeyType type, double rpm) {
    if (type == KeyType::fpe2) {
        smc.setFPE2(key, rpm);
    } else {
        smc.setFloat(key, static_cast<float>(rpm));
    }
}

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
    : info_(&info), kind_(kind), temperatures_(SensorNaming::apple) {
    smc_.setRecording(false);
    const MachineProfile profile = profileOf(kind_);
    for (const auto& service : profile.services) {
        switch (service.naming) {
            case Naming::text:
                temperatures_.add(service.name, std::nullopt);
                break;
            case Naming::missing:
                temperatures_.addWithoutName(std::nullopt);
                break;
            case Naming::notAString:
                temperatures_.addWithNonStringName(std::nullopt);
                break;
        }
    }
    smc_.setUInt8(smc::fanCountKey, static_cast<std::uint8_t>(profile.fans.size()));
    for (std::size_t i = 0; i < profile.fans.size(); ++i) {
        const FanProfile& fan = profile.fans[i];
        if (!fan.hasLimitKeys) continue;
        setSpeedKey(smc_, smc::FanKey(i, smc::FanValue::minimum).name(), fan.type, fan.minRPM);
        setSpeedKey(smc_, smc::FanKey(i, smc::FanValue::maximum).name(), fan.type, fan.maxRPM);
    }
    for (const auto& fixed : profile.fixedKeys)
        smc_.setKey(fixed.key, fixed.type, fixed.bytes);
}

void SimulatedMachine::advanceTo(double seconds) {
    const double t = std::isfinite(seconds) ? seconds : 0.0;
    const MachineProfile profile = profileOf(kind_);
    const Heat heat = heatAt(profile.seed, t);

    for (std::size_t i = 0; i < profile.services.size(); ++i) {
        const ServiceProfile& service = profile.services[i];
        const std::uint64_t own = mix(profile.seed, static_cast<std::int64_t>(i) + 1000);
        // Fast sensors flicker by a fraction of a degree, slow ones by a tenth.
        double flicker = 0.6;
        if (service.source == Source::memory) flicker = 0.2;
        if (service.source == Source::slow) flicker = 0.1;
        if (service.source == Source::none) flicker = 0.0;
        const double jitter = flicker * noise(own, t / 3);
        const double value =
            service.idle + service.gain * sourceHeat(heat, service.source) + jitter;
        if (service.fault == Fault::noValue) {
            temperatures_.setTemperature(i, std::nullopt);
        } else {
            temperatures_.setTemperature(i, faulty(service.fault, value, own, t));
        }
    }
    if (profile.listingFailureShare > 0) {
        temperatures_.failListing(unit(mix(profile.seed ^ 0x1157, step(t / 2))) <
                                  profile.listingFailureShare);
    }

    for (std::size_t i = 0; i < profile.memoryKeys.size(); ++i) {
        const MemoryKeyProfile& memory = profile.memoryKeys[i];
        const std::uint64_t own = mix(profile.seed, static_cast<std::int64_t>(i) + 2000);
        const double value =
            faulty(memory.fault, memory.idle + memory.gain * heat.memory + 0.4 * noise(own, t / 4),
                   own, t);
        if (memory.type == KeyType::ui8) {
            const double byte = std::isfinite(value) ? std::clamp(value, 0.0, 255.0) : 0.0;
            smc_.setUInt8(memory.key, static_cast<std::uint8_t>(byte));
        } else {
            smc_.setFloat(memory.key, static_cast<float>(value));
        }
    }

    for (std::size_t i = 0; i < profile.fans.size(); ++i) {
        const FanProfile& fan = profile.fans[i];
        if (!fan.hasSpeedKey) continue;
        const std::uint64_t own = mix(profile.seed, static_cast<std::int64_t>(i) + 3000);
        // The fans follow the CPU's heat; resting fans start at their minimum speed.
        double rpm = 0;
        if (heat.cpu >= fan.restBelow) {
            const double share = (heat.cpu - fan.restBelow) / (1 - fan.restBelow);
            rpm = fan.minRPM + (fan.maxRPM - fan.minRPM) * std::pow(share, 1.3) +
                  12 * noise(own, t / 2);
        }
        setSpeedKey(smc_, smc::FanKey(i, smc::FanValue::speed).name(), fan.type,
                    faulty(fan.fault, rpm, own, t));
    }
}

std::unique_ptr<TemperatureServices> SimulatedMachine::temperatureServices() const {
    return temperatures_.services();
}

std::unique_ptr<SMCDriver> SimulatedMachine::smcDriver() const {
    return smc_.driver();
}

}  // namespace tessly::sim
