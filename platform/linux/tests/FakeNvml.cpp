// A stand-in for NVIDIA's libnvidia-ml.so.1: the NVML functions the agent calls, over GPUs a test
// scripts through fakeNvml() on the same loaded copy. Handles name a GPU and the
// initialisation they came from, so a call through a handle from before a shutdown is caught.
//
// A process that cannot reach fakeNvml() (the real agent, started by a process test, finding
// this library through LD_LIBRARY_PATH) is scripted from its environment instead:
// TESSLY_FAKE_NVML_HANG=<seconds> gives one GPU at 50 °C whose every temperature call after the
// first hangs that long, and TESSLY_FAKE_NVML_LOG=<file> gets a line "hanging" when a call
// starts to wait and "answered" when it answers after waiting.

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "FakeNvml.h"

namespace {

constexpr int success = 0;
constexpr int uninitialized = 1;
constexpr int invalidArgument = 2;
constexpr int insufficientSize = 7;

using Gpu = FakeNvml::Gpu;
using Lock = std::unique_lock<std::mutex>;
FakeNvml fake;
FakeNvml::Script& state = fake.script;
bool hangFromEnvironment = false;

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

void log(const char* line) {
    const char* path = std::getenv("TESSLY_FAKE_NVML_LOG");
    if (path == nullptr) return;
    const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    (void)!::write(fd, line, std::strlen(line));
    ::close(fd);
}

// Entered by every call: the fake's lock, held after waiting out a hang.
Lock enter() {
    Lock lock(fake.mutex);
    if (!state.hang) return lock;
    ++state.hanging;
    log("hanging\n");
    const auto until =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(state.hangSeconds);
    while (state.hang && std::chrono::steady_clock::now() < until) {
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        lock.lock();
    }
    --state.hanging;
    log("answered\n");
    return lock;
}

}  // namespace

extern "C" {

FakeNvml* fakeNvml() {
    return &fake;
}

// NVML, as documented.
int nvmlInit_v2() {
    const Lock lock = enter();
    if (const char* seconds = std::getenv("TESSLY_FAKE_NVML_HANG"); seconds && state.inits == 0) {
        state.gpus = {{"Fake GPU", success, 50}};
        state.hangSeconds = std::atof(seconds);
        hangFromEnvironment = true;
    }
    ++state.inits;
    if (state.initResult != success) return state.initResult;
    state.initialised = true;
    ++state.generation;
    return success;
}
int nvmlShutdown() {
    const Lock lock = enter();
    ++state.shutdowns;
    if (!state.initialised) return uninitialized;
    state.initialised = false;
    return success;
}
int nvmlDeviceGetCount_v2(unsigned* count) {
    const Lock lock = enter();
    if (!state.initialised) return uninitialized;
    if (count == nullptr) return invalidArgument;
    *count = static_cast<unsigned>(state.gpus.size());
    return success;
}
int nvmlDeviceGetHandleByIndex_v2(unsigned index, Device* device) {
    const Lock lock = enter();
    if (!state.initialised) return uninitialized;
    if (device == nullptr || index >= state.gpus.size()) return invalidArgument;
    *device = handleOf(index);
    return success;
}
int nvmlDeviceGetName(Device device, char* name, unsigned length) {
    const Lock lock = enter();
    const Gpu* gpu = gpuOf(device);
    if (gpu == nullptr) return uninitialized;
    if (name == nullptr || gpu->name.size() + 1 > length) return insufficientSize;
    std::memcpy(name, gpu->name.c_str(), gpu->name.size() + 1);
    return success;
}
int nvmlDeviceGetTemperature(Device device, int sensor, unsigned* celsius) {
    const Lock lock = enter();
    Gpu* gpu = gpuOf(device);
    if (gpu == nullptr) return uninitialized;
    ++gpu->temperatureCalls;
    if (hangFromEnvironment) state.hang = true;  // from the second call on
    if (sensor != 0 || celsius == nullptr) return invalidArgument;
    if (gpu->result != success) return gpu->result;
    *celsius = gpu->celsius;
    return success;
}

}  // extern "C"
