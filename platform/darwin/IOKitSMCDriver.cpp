// The SMC driver over IOKit: one user client of the "AppleSMC" service, and struct-in,
// struct-out exchanges of the 80-byte parameter block over it.

#include <IOKit/IOKitLib.h>

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

#include "platform/darwin/DarwinServices.h"

namespace tessly::darwin {
namespace {

constexpr char smcServiceClass[] = "AppleSMC";
constexpr std::uint32_t smcUserClientType = 0;

// One reference to an IOKit object, released exactly once.
class IOObjectHandle {
  public:
    explicit IOObjectHandle(io_object_t object) noexcept : object_(object) {}
    IOObjectHandle(const IOObjectHandle&) = delete;
    IOObjectHandle& operator=(const IOObjectHandle&) = delete;
    ~IOObjectHandle() { reset(); }

    io_object_t get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != 0; }

    void reset() noexcept {
        if (object_ != 0) IOObjectRelease(object_);
        object_ = 0;
    }

  private:
    io_object_t object_;
};

// An open user client of the SMC driver; destroying it closes the connection, once.
class IOKitSMCDriver final : public SMCDriver {
  public:
    explicit IOKitSMCDriver(io_connect_t connection) noexcept : connection_(connection) {}
    IOKitSMCDriver(const IOKitSMCDriver&) = delete;
    IOKitSMCDriver& operator=(const IOKitSMCDriver&) = delete;
    // IOServiceClose also destroys the handle, so it is not released separately.
    ~IOKitSMCDriver() override { IOServiceClose(connection_); }

    std::optional<SMCKeyData> call(const SMCKeyData& input) noexcept override {
        SMCKeyData output{};
        std::size_t outputSize = sizeof output;
        const kern_return_t result = IOConnectCallStructMethod(
            connection_, SMCKeyData::smcStructSelector, &input, sizeof input, &output, &outputSize);
        // The size the driver writes back is not examined: the reply block is fixed.
        if (result != KERN_SUCCESS) return std::nullopt;
        return output;
    }

  private:
    io_connect_t connection_;
};

}  // namespace

std::unique_ptr<SMCDriver> openAppleSMC() noexcept {
    const CFMutableDictionaryRef matching = IOServiceMatching(smcServiceClass);
    if (matching == nullptr) return nullptr;
    // The lookup consumes the matching dictionary, found or not.
    IOObjectHandle service(IOServiceGetMatchingService(kIOMainPortDefault, matching));
    if (!service) return nullptr;

    io_connect_t connection = 0;
    // What counts is whether a connection was delivered: an open that fails leaves it at 0, so
    // its return code adds nothing.
    static_cast<void>(
        IOServiceOpen(service.get(), mach_task_self(), smcUserClientType, &connection));
    // The connection does not need the service object; it goes before the first exchange.
    service.reset();
    if (connection == 0) return nullptr;

    auto* driver = new (std::nothrow) IOKitSMCDriver(connection);
    if (driver == nullptr) {
        IOServiceClose(connection);
        return nullptr;
    }
    return std::unique_ptr<SMCDriver>(driver);
}

}  // namespace tessly::darwin
