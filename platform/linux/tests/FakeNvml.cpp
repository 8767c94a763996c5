// A stand-in for NVIDIA's libnvidia-ml.so.1: the NVML functions the agent calls, over GPUs a test
// scripts through fakeNvml() on the same loaded copy. Handles name a GPU and the
// initialisation they came from, so a call through a handle from before a shutdown is caught.

#include <cstdint>
#include <cstring>

#include "FakeNvml.h"

namespace {

constexpr int success = 0;
constexpr int uninitialized = 1;
constexpr int invalidArgument = 2;
constexpr int insufficientSize = 7;

using Gpu = FakeNvml::Gpu;
FakeNvml state;

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

__attribute__((visibility("default"))) FakeNvml* fakeNvml() {
    return &state;
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
    return success;
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
