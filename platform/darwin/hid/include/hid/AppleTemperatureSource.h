#pragma once
// The temperatures of a Mac: CPU, GPU, battery and storage from the HID event system's
// temperature services, sorted by their product names (AppleNaming.h), and memory from the SMC's
// memory keys over a connection of the source's own. Not thread-safe: one source, one thread.

#include <memory>

#include "hid/TemperatureServices.h"
#include "smc/MemoryTemperature.h"
#include "smc/SMCBridge.h"
#include "thermal/TemperatureSource.h"

namespace tessly {

class AppleTemperatureSource final : public TemperatureSource {
  public:
    // Owns `services` (null: the client could not be created, and the source never lists) and
    // `smc`, the connection for the memory keys.
    AppleTemperatureSource(std::unique_ptr<TemperatureServices> services, SMCBridge smc) noexcept;

    // Lists the services once. Each service's name is read first and its temperature only when
    // the name falls in a category, so a service outside the categories costs one name read.
    // Then, and only when the services could be listed, memory temperature is read
    // (MemoryTemperature::readMemoryTemperature). False, with nothing added and no memory key
    // read, when the services cannot be listed. Throws nothing but std::bad_alloc.
    bool readTemperatures(TemperatureSink& sink) override;

  private:
    std::unique_ptr<TemperatureServices> services_;
    MemoryTemperature memory_;
};

}  // namespace tessly
