// The temperature services of the IOKit HID event system: one client, restricted at creation to
// the temperature sensors, listed afresh on every copyServices().

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/darwin/CFHandle.h"
#include "platform/darwin/DarwinServices.h"
#include "platform/darwin/HIDEventSystem.h"

namespace tessly::darwin {
namespace {

// Temperature sensors are usage 5 on the vendor-defined usage page 0xFF00.
constexpr std::int64_t vendorUsagePage = 0xFF00;
constexpr std::int64_t temperatureSensorUsage = 5;
// The temperature event type, and its field 0 (the level in degrees Celsius).
constexpr std::int64_t temperatureEventType = 15;
constexpr std::uint32_t temperatureLevelField = std::uint32_t{15} << 16;

// {"PrimaryUsagePage": 65280, "PrimaryUsage": 5}, both signed 64-bit numbers; empty when
// CoreFoundation cannot make it.
CFHandle<CFDictionaryRef> temperatureSensorMatching() noexcept {
    const CFHandle<CFNumberRef> page(
        CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &vendorUsagePage));
    const CFHandle<CFNumberRef> usage(
        CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &temperatureSensorUsage));
    if (!page || !usage) return {};
    const void* keys[] = {CFSTR("PrimaryUsagePage"), CFSTR("PrimaryUsage")};
    const void* values[] = {page.get(), usage.get()};
    // The dictionary retains keys and values, so the numbers go when it goes.
    return CFHandle<CFDictionaryRef>(
        CFDictionaryCreate(kCFAllocatorDefault, keys, values, static_cast<CFIndex>(std::size(keys)),
                           &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
}

// `string` as UTF-8 in `buffer`; a character UTF-8 cannot carry (an unpaired surrogate) becomes
// '?'. Nothing when the conversion fails. Throws nothing but std::bad_alloc.
std::optional<std::string_view> convertToUTF8(CFStringRef string, std::string& buffer) {
    constexpr auto substitute = static_cast<UInt8>('?');
    const CFIndex length = CFStringGetLength(string);
    const CFRange whole = CFRangeMake(0, length);
    // Measure first: UTF-8 may need up to three bytes per UTF-16 unit of the length.
    CFIndex size = 0;
    if (CFStringGetBytes(string, whole, kCFStringEncodingUTF8, substitute, false, nullptr, 0,
                         &size) != length ||
        size < 0) {
        return std::nullopt;
    }
    buffer.resize(static_cast<std::size_t>(size));
    CFIndex written = 0;
    if (CFStringGetBytes(string, whole, kCFStringEncodingUTF8, substitute, false,
                         reinterpret_cast<UInt8*>(buffer.data()), size, &written) != length ||
        written != size) {
        return std::nullopt;
    }
    return std::string_view(buffer);
}

// One listing: owns the services array and releases it when destroyed. Every property and event
// copied from a service is released before the call that copied it returns.
class HIDServiceList final : public TemperatureServiceList {
  public:
    explicit HIDServiceList(CFHandle<CFArrayRef> services) noexcept
        : services_(std::move(services)) {}

    std::size_t count() const noexcept override {
        const CFIndex n = CFArrayGetCount(services_.get());
        return n > 0 ? static_cast<std::size_t>(n) : 0;
    }

    std::optional<std::string_view> productName(std::size_t index) override {
        const IOHIDServiceClientRef service = at(index);
        if (service == nullptr) return std::nullopt;
        const CFHandle<CFTypeRef> product(
            IOHIDServiceClientCopyProperty(service, CFSTR("Product")));
        if (!product || CFGetTypeID(product.get()) != CFStringGetTypeID()) return std::nullopt;
        // Converted into the list's own buffer, so the view outlives the property.
        return convertToUTF8(static_cast<CFStringRef>(product.get()), name_);
    }

    std::optional<double> temperature(std::size_t index) noexcept override {
        const IOHIDServiceClientRef service = at(index);
        if (service == nullptr) return std::nullopt;
        const CFHandle<IOHIDEventRef> event(
            IOHIDServiceClientCopyEvent(service, temperatureEventType, 0, 0));
        if (!event) return std::nullopt;
        return IOHIDEventGetFloatValue(event.get(), temperatureLevelField);
    }

  private:
    // The service at `index`, owned by the array; NULL past the end.
    IOHIDServiceClientRef at(std::size_t index) const noexcept {
        if (index >= count()) return nullptr;
        const void* service = CFArrayGetValueAtIndex(services_.get(), static_cast<CFIndex>(index));
        return static_cast<IOHIDServiceClientRef>(const_cast<void*>(service));
    }

    CFHandle<CFArrayRef> services_;
    std::string name_;
};

class HIDTemperatureServices final : public TemperatureServices {
  public:
    explicit HIDTemperatureServices(CFHandle<IOHIDEventSystemClientRef> client) noexcept
        : client_(std::move(client)) {}

    std::unique_ptr<TemperatureServiceList> copyServices() override {
        CFHandle<CFArrayRef> services(IOHIDEventSystemClientCopyServices(client_.get()));
        if (!services) return nullptr;
        // Should the allocation throw, `services` is never moved from and releases the array.
        return std::make_unique<HIDServiceList>(std::move(services));
    }

  private:
    CFHandle<IOHIDEventSystemClientRef> client_;
};

}  // namespace

std::unique_ptr<TemperatureServices> makeHIDTemperatureServices() noexcept {
    CFHandle<IOHIDEventSystemClientRef> client(IOHIDEventSystemClientCreate(kCFAllocatorDefault));
    if (!client) return nullptr;
    {
        const CFHandle<CFDictionaryRef> matching = temperatureSensorMatching();
        // Unrestricted, the client would list every HID service (keyboards, trackpads, ...),
        // whose names and events are not temperatures; no services beat wrong ones.
        if (!matching) return nullptr;
        IOHIDEventSystemClientSetMatching(client.get(), matching.get());
    }
    return std::unique_ptr<TemperatureServices>(new (std::nothrow)
                                                    HIDTemperatureServices(std::move(client)));
}

}  // namespace tessly::darwin
