// A stand-in for NVIDIA's libnvidia-ml.so.1: the NVML functions the agent calls, over GPUs a test
// scripts through the fakeNvml* functions of the same loaded copy. Handles name a GPU and the
// initialisation they came from, so a call through a handle from before a shutdown is caught.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int success = 0;
constexpr int uninitialized = 1;
constexpr int invalidArgument = 2;
constexpr int insufficientSize = 7;

struct Gpu {
    std::string name;
    int result = success;  // of a temperature call
    unsigned celsius = 0;
};

struct State {
    std::vector<Gpu> gpus;
    int initResult = success;
    int countResult = success;
    unsigned generation = 0;  // counts successful initialisations
    bool initialised = false;
    int inits = 0, temperatureCalls = 0, staleHandleUses = 0;
};

State state;

using Device = void*;

Device handleOf(unsigned index) {
    return reinterpret_cast<Device>(static_cast<std::uintptr_t>(state.generation) << 16 |
                                    (index + 1));
}

// The GPU a handle names, or null (counted) for a handle from another initialisation.
Gpu* gpuOf(Device device) {
    const auto bits = reinterpret_cast<std::uintptr_t>(device);
    const auto index = static_cast<std::size_t>(bits & 0xffff) - 1;
    if (!state.initialised || bits >> 16 != state.generation || index >= state.gpus.size()) {
        ++state.staleHandleUses;
        return nullptr;
    }
    return &state.gpus[index];
}

}  // namespace

extern "C" {

// The scripting side.
__attribute__((visibility("default"))) void fakeNvmlReset() {
    state = State{};
}
__attribute__((visibility("default"))) void fakeNvmlAddGpu(const char* name, unsigned celsius) {
    state.gpus.push_back({name, success, celsius});
}
__attribute__((visibility("default"))) void fakeNvmlSetTemperature(unsigned index, int result,
                                                                   unsigned celsius) {
    state.gpus.at(index).result = result;
    state.gpus.at(index).celsius = celsius;
}
__attribute__((visibility("default"))) void fakeNvmlSetInitResult(int result) {
    state.initResult = result;
}
__attribute__((visibility("default"))) int fakeNvmlInits() {
    return state.inits;
}
__attribute__((visibility("default"))) int fakeNvmlTemperatureCalls() {
    return state.temperatureCalls;
}
__attribute__((visibility("default"))) int fakeNvmlStaleHandleUses() {
    return state.staleHandleUses;
}

// NVML, as documented.
__attribute__((visibility("default"))) int nvmlInit_v2() {
    ++state.inits;
    if (state.initResult != success) return state.initResult;
    state.initialised = true;
    ++state.generation;
    return success;
}
__attribute__((visibility("default"))) int nvmlShutdown() {
    if (!state.initialised) return uninitialized;
    state.initialised = false;
    return success;
}
__attribute__((visibility("default"))) int nvmlDeviceGetCount_v2(unsigned* count) {
    if (!state.initialised) return uninitialized;
    if (count == nullptr) return invalidArgument;
    *count = static_cast<unsigned>(state.gpus.size());
    return state.countResult;
}
__attribute__((visibility("default"))) int nvmlDeviceGetHandleByIndex_v2(unsigned index,
                                                                         Device* device) {
    if (!state.initialised) return uninitialized;
    if (device == nullptr || index >= state.gpus.size()) return invalidArgument;
    *device = handleOf(index);
    return success;
}
__attribute__((visibility("default"))) int nvmlDeviceGetName(Device device, char* name,
                                                             unsigned length) {
    const Gpu* gpu = gpuOf(device);
    if (gpu == nullptr) return uninitialized;
    if (name == nullptr || gpu->name.size() + 1 > length) return insufficientSize;
    std::memcpy(name, gpu->name.c_str(), gpu->name.size() + 1);
    return success;
}
__attribute__((visibility("default"))) int nvmlDeviceGetTemperature(Device device, int sensor,
                                                                    unsigned* celsius) {
    ++state.temperatureCalls;
    const Gpu* gpu = gpuOf(device);
    if (gpu == nullptr) return uninitialized;
    if (sensor != 0 || celsius == nullptr) return invalidArgument;
    if (gpu->result != success) return gpu->result;
    *celsius = gpu->celsius;
    return success;
}

}  // extern "C"
