#pragma once
// NVIDIA GPUs on NVIDIA's own driver, which exposes no hwmon chip: each GPU's core temperature
// through NVML, loaded at run time from libnvidia-ml.so.1 (never a build or package dependency).
// Each GPU is a temperature service named "nvidia <index> <product name>" under hwmon naming, so
// the sampler counts it as a GPU temperature like amdgpu's or nouveau's.
//
// A call into NVML can block for seconds (a GPU that fell off the bus), so the services never
// call it: a worker thread of their own loads the library, starts and stops NVML and makes every
// call, reading each GPU about once a second while the services are listed. A listing hands out
// the worker's latest reading of each GPU when it is at most 2 s old on the services' clock, and
// leaves the GPU out otherwise; it never waits for the worker.
//
// No library (looked for once), a library the dynamic loader cannot map (a truncated or corrupt
// file, refused like a missing one), a failed initialisation, no GPU or a lost GPU is no service,
// silently: a listing without GPUs is null (nothing to list), never an error for the services
// beside these. A GPU that is lost, or calls that fail as when the driver is updated under a
// running agent, make NVML start afresh, at most once a minute; until then the GPU gives no value.

#include <memory>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "platform/linux/SensorReport.h"
#include "thermal/TemperatureServices.h"

namespace tessly::hwmon {

// The library dlopen looks for; NVIDIA's driver installs it in the linker's search path.
inline constexpr const char* nvidiaManagementLibrary = "libnvidia-ml.so.1";

enum class NvmlStart {
    // NVML's initialisation can take seconds on a GPU without persistence mode, and the launch
    // payload is wanted at once, so the agent's first listing starts nothing; the second starts
    // the worker, whose readings the listings after it hand out.
    secondListing,
    firstListing,  // for a report someone is waiting for anyway
};

// The GPUs through the NVML library at `library` (a name dlopen searches for, or a path).
// `clock` is read only on the thread that lists the services, for the age of readings and the
// once-a-minute retry; it must outlive the services. Destroying the services never waits long
// for a worker held in a driver call (see NvidiaGPUs.cpp).
std::unique_ptr<TemperatureServices> makeNvidiaTemperatureServices(
    Clock& clock, std::string library = nvidiaManagementLibrary,
    NvmlStart start = NvmlStart::secondListing) noexcept;

// Asks the worker of services made by makeNvidiaTemperatureServices to read every GPU now and
// waits, up to `limitSeconds` of real time, until it has finished a reading begun after this call
// or has nothing more to read (no usable library). It starts the worker only for services made
// with NvmlStart::firstListing; for others it is false at once until a listing started it. False
// too when the worker is still busy at the limit, and for other services. What a report waits
// on; tests settle on it.
bool awaitNvidiaReading(TemperatureServices& services, double limitSeconds) noexcept;

// One entry per GPU NVML reports now, with its temperature (no value where the call failed or
// had not returned after `limitSeconds`); none without the library or GPUs, or when NVML did not
// start in that time. The path is "NVML GPU <index>".
std::vector<SensorReportEntry> reportNvidiaSensors(PayloadFieldOf fieldOf,
                                                   std::string library = nvidiaManagementLibrary,
                                                   double limitSeconds = 5.0) noexcept;

}  // namespace tessly::hwmon
