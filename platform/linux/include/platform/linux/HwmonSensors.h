#pragma once
// The Linux machine's real sensors behind the platform seams: the hwmon-backed SMC driver (fans
// and memory temperatures as SMC keys) and the hwmon / power_supply temperature services.
//
// `sysfsRoot` is the root of the sysfs tree ("/sys"; a temporary tree in tests). Reads go through
// `reader` and discovery is timed on `clock`'s monotonic time; both must outlive the object.
// Each object runs its own discovery, lazily on first use; see DiscoverySchedule for when it runs
// again, and DeviceEvents.h for `changes` (null: discovery walks once a minute), which must
// outlive the object. Objects given the same `scan` (of the same root, reader and changes) share
// the walks they make at the same moment; without one, an object walks on its own. A factory
// yields null only when the object's memory cannot be had.

#include <memory>
#include <string>

#include "base/Clock.h"
#include "platform/linux/DeviceEvents.h"
#include "platform/linux/FileReader.h"
#include "platform/linux/SysfsScan.h"
#include "smc/SMCDriver.h"
#include "thermal/TemperatureServices.h"

namespace tessly::hwmon {

// The keys the driver answers, over the exact SMC protocol (key information from discovery, then
// the value read from its sysfs file with one pread; result 0x84 for any other key):
//   "FNum" ("ui8 ")                    the number of fans, at most 110;
//   "F<i>Ac", "F<i>Mn", "F<i>Mx" ("flt ")  fanN_input, fanN_min, fanN_max of fan i, the fans of
//                                      all chips ordered by hwmon number and then N;
//   "TRD0".."TRD9", "TRDX", "TRDa".."TRDj" ("flt ")  the memory chips' temperatures (jc42,
//                                      spd5118, ddr_thermal) in degrees Celsius, in discovery
//                                      order.
// The keys are assigned by the first discovery that succeeds and kept for the driver's life, as
// readers cache them; later discoveries only reopen the files behind them, and a key whose input
// is gone fails its read. Until a discovery succeeds every read fails, "FNum" included.
std::unique_ptr<SMCDriver> openHwmonSMCDriver(std::string sysfsRoot = "/sys",
                                              FileReader& reader = FileReader::Default(),
                                              Clock& clock = Clock::Default(),
                                              const DeviceChanges* changes = nullptr,
                                              std::shared_ptr<SharedScan> scan = nullptr) noexcept;

// Services named "<chip> <label>" (hwmon temperature inputs) and "power_supply <name>" (battery
// temperatures), read in degrees Celsius; naming() is SensorNaming::hwmon. A missing
// /sys/class/hwmon gives an empty list; a list is unavailable only while /sys/class/hwmon exists
// but cannot be read and no earlier discovery succeeded. Lists stay valid across discoveries.
std::unique_ptr<TemperatureServices> makeHwmonTemperatureServices(
    std::string sysfsRoot = "/sys", FileReader& reader = FileReader::Default(),
    Clock& clock = Clock::Default(), const DeviceChanges* changes = nullptr,
    std::shared_ptr<SharedScan> scan = nullptr) noexcept;

}  // namespace tessly::hwmon
