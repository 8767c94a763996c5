#pragma once
// The script of the fake libnvidia-ml.so.1 (FakeNvml.cpp): its GPUs and what its calls answer,
// reached by a test through the library's fakeNvml(), on the same loaded copy the services'
// worker calls from its own thread. A test reads and writes the script only through
// FakeNvmlScript, which holds the fake's lock.

#include <mutex>
#include <string>
#include <vector>

struct FakeNvml {
    struct Gpu {
        std::string name;
        int result = 0;  // of a temperature call: NVML_SUCCESS or an NVML error
        unsigned celsius = 0;
        int temperatureCalls = 0;  // observed
    };
    struct Script {
        std::vector<Gpu> gpus;
        int initResult = 0;
        // While set, every call waits before it answers, as one into a driver whose GPU fell off
        // the bus does: until it is cleared, or for hangSeconds at most, so nothing waits for good.
        bool hang = false;
        double hangSeconds = 30.0;
        // Observed: initialisations, shutdowns, calls waiting now, and calls through a handle that
        // an earlier initialisation gave out (which real NVML would not survive).
        int inits = 0, shutdowns = 0, hanging = 0, staleHandleUses = 0;
        // Its own: successful initialisations so far, and whether one is in force.
        unsigned generation = 0;
        bool initialised = false;
    };
    std::mutex mutex;
    Script script;
};

// The script, locked for the full expression it appears in: `FakeNvmlScript(nvml)->hang = true;`.
class FakeNvmlScript {
  public:
    explicit FakeNvmlScript(FakeNvml& nvml) : lock_(nvml.mutex), script_(nvml.script) {}
    FakeNvml::Script* operator->() { return &script_; }
    FakeNvml::Script& operator*() { return script_; }

  private:
    std::lock_guard<std::mutex> lock_;
    FakeNvml::Script& script_;
};
