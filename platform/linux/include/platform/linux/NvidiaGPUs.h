#pragma once
// NVIDIA GPUs on NVIDIA's own driver, which exposes no hwmon chip: each GPU's core temperature
// through NVML, loaded at run time from libnvidia-ml.so.1 (never a build or package dependency).
// Each GPU is a temperature service named "nvidia <index> <product name>" under hwmon naming, so
// the sampler counts it as a GPU temperature like amdgpu's or nouveau's.
//
// No library (looked for once), a failed initialisation, no GPU or a lost GPU is no service,
// silently: a listing without GPUs is null (nothing to list), never an error for the services
// beside these. A GPU that is lost, or calls that fail as when the driver is updated under a
// running agent, make the next listing start NVML afresh, at most once a minute; until then the
// GPU gives no value.

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
    // NVML's initialisation can take seconds on a GPU without persistence mode, so the agent's
    // first listing (the launch payload's) goes without it; the second starts it.
    secondListing,
    firstListing,  // for a report someone is waiting for anyway
};

// The GPUs through the NVML library at `library` (a name dlopen searches for, or a path), with
// retries timed on `clock`'s monotonic time; `clock` must outlive the services.
std::unique_ptr<TemperatureServices> makeNvidiaTemperatureServices(
    Clock& clock, std::string library = nvidiaManagementLibrary,
    NvmlStart start = NvmlStart::secondListing) noexcept;

// One entry per GPU NVML reports now, with its temperature (no value where the call failed);
// none without the library or GPUs. The path is "NVML GPU <index>".
std::vector<SensorReportEntry> reportNvidiaSensors(
    PayloadFieldOf fieldOf, std::string library = nvidiaManagementLibrary) noexcept;

}  // namespace tessly::hwmon
