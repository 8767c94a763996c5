#pragma once
// NVIDIA GPUs on NVIDIA's own driver, which exposes no hwmon chip: each GPU's core temperature
// through NVML, loaded at run time from libnvidia-ml.so.1 (never a build or package dependency).
// Each GPU's reading is a GPU temperature, like amdgpu's or nouveau's.
//
// A call into NVML can block for seconds (a GPU that fell off the bus), so the source never calls
// it: a worker thread of its own loads the library, starts and stops NVML and makes every call,
// reading each GPU about once a second while the source is read. A reading hands over the
// worker's latest reading of each GPU when it is at most 2 s old on the source's clock, and
// leaves the GPU out otherwise; it never waits for the worker.
//
// No library (looked for once), a library the dynamic loader cannot map (a truncated or corrupt
// file, refused like a missing one), a failed initialisation, no GPU or a lost GPU is no service,
// silently: a reading without GPUs lists nothing, never an error for the sources beside this one. A
// GPU that is lost, or calls that fail as when the driver is updated under a running agent, make
// NVML start afresh, at most once a minute; until then the GPU gives no value.

#include <memory>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "platform/linux/SensorReport.h"
#include "thermal/TemperatureSource.h"

namespace tessly::hwmon {

// The library dlopen looks for; NVIDIA's driver installs it in the linker's search path.
inline constexpr const char* nvidiaManagementLibrary = "libnvidia-ml.so.1";

enum class NvmlStart {
    // NVML's initialisation can take seconds on a GPU without persistence mode, and the launch
    // payload is wanted at once, so the agent's first reading starts nothing; the second starts
    // the worker, whose readings the readings after it hand over.
    secondReading,
    firstReading,  // for a report someone is waiting for anyway
};

// The GPUs through the NVML library at `library` (a name dlopen searches for, or a path).
// `clock` is read only on the thread that reads the source, for the age of readings and the
// once-a-minute retry; it must outlive the source. Destroying the source never waits long for a
// worker held in a driver call (see NvidiaGPUs.cpp).
std::unique_ptr<TemperatureSource> makeNvidiaTemperatureSource(
    Clock& clock, std::string library = nvidiaManagementLibrary,
    NvmlStart start = NvmlStart::secondReading);

// Asks the worker of a source made by makeNvidiaTemperatureSource to read every GPU now and
// waits, up to `limitSeconds` of real time, until it has finished a reading begun after this call
// or has nothing more to read (no usable library). It starts the worker only for a source made
// with NvmlStart::firstReading; for others it is false at once until a reading started it. False
// too when the worker is still busy at the limit, and for other sources. What a report waits
// on; tests settle on it.
bool awaitNvidiaReading(TemperatureSource& source, double limitSeconds) noexcept;

// One entry per GPU NVML reports now, with its temperature (no value where the call failed or
// had not returned after `limitSeconds`); none without the library or GPUs, or when NVML did not
// start in that time. The path is "NVML GPU <index>".
std::vector<SensorReportEntry> reportNvidiaSensors(std::string library = nvidiaManagementLibrary,
                                                   double limitSeconds = 5.0);

}  // namespace tessly::hwmon
