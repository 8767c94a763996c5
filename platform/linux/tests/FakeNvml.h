#pragma once
// The script of the fake libnvidia-ml.so.1 (FakeNvml.cpp): its GPUs and what its calls answer,
// reached by a test through the library's fakeNvml(), on the same loaded copy the agent uses.

#include <string>
#include <vector>

struct FakeNvml {
    struct Gpu {
        std::string name;
        int result = 0;  // of a temperature call: NVML_SUCCESS or an NVML error
        unsigned celsius = 0;
    };
    std::vector<Gpu> gpus;
    int initResult = 0;
    // Observed: initialisations, temperature calls, and calls through a handle that an earlier
    // initialisation gave out (which real NVML would not survive).
    int inits = 0, temperatureCalls = 0, staleHandleUses = 0;
    // Its own: successful initialisations so far, and whether one is in force.
    unsigned generation = 0;
    bool initialised = false;
};
