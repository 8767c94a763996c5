#pragma once
// TEST-ONLY: the machine behind the emulated IOKit and CoreFoundation headers in include/, and the
// controls tests steer it with. One machine per process, single-threaded; reset() starts afresh.
//
// It follows Apple's documented ownership rules: whatever a Create or Copy call returns carries
// one reference that the caller releases; IOServiceGetMatchingService consumes its dictionary;
// IOServiceClose destroys the connection handle; dictionaries made with the CFType callbacks and
// arrays retain what they hold; constant strings (CFSTR) live for ever. Misuse that a Mac punishes
// with a crash or a leak (releasing NULL, releasing too often, using a released object or a closed
// connection, an object never released) is not fatal here: it shows in record().problems and in the
// live-object counts, where tests assert on it.
//
// The SMC driver opens only for this task as user client type 0, and answers from a key table over
// the 80-byte block at its fixed offsets: key information (command 9) or value bytes (command 5),
// result 0x84 for a key it does not hold. HID services are scripted: a product name, a non-string
// product or none, a temperature or no event, and the usage page and usage that matching selects
// on; an event comes only for the temperature type with options and timestamp 0, and its level
// only from field 0xF0000.

#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/IOKitLib.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessly::emulation {

struct HIDService {
    enum class Product { string, number, missing };
    Product product = Product::string;
    std::string name;               // UTF-8; the "Product" string when product is a string
    std::optional<double> celsius;  // the temperature event's level; nothing: no event
    std::int64_t usagePage = 0xFF00;
    std::int64_t usage = 5;
};

// Switches for the failures the platform can produce.
struct Failures {
    bool noAppleSMC = false;         // IOServiceGetMatchingService finds nothing
    bool openFails = false;          // IOServiceOpen returns an error and delivers no connection
    bool structCallsFail = false;    // IOConnectCallStructMethod returns an error
    bool clientCreateFails = false;  // IOHIDEventSystemClientCreate returns NULL
    bool copyServicesFails = false;  // IOHIDEventSystemClientCopyServices returns NULL
};

// One entry of a matching dictionary: a number's declared type and its value.
struct MatchingNumber {
    CFNumberType type;
    std::int64_t value;
    friend bool operator==(const MatchingNumber&, const MatchingNumber&) = default;
};

// A fresh machine: an "AppleSMC" service without keys, no HID services, no failures, no objects
// and an empty record.
void reset();

// --- The machine. HID services must be added before the client is created.
void setSMCKey(std::string_view key, std::string_view type, std::vector<std::uint8_t> bytes);
void addHIDService(HIDService service);  // listed in the order added
Failures& failures();

// --- What was done since reset(), and the misuse a real Mac would punish.
struct Record {
    std::vector<std::string> calls;  // function names, in call order
    // The contents of the last dictionary passed to IOHIDEventSystemClientSetMatching.
    std::optional<std::map<std::string, MatchingNumber>> lastMatching;
    std::vector<std::string> problems;
};
const Record& record();
std::size_t callCount(std::string_view function);

// --- Balance.
std::size_t liveCFObjects();  // created or copied, not yet released (constants excluded)
std::size_t liveIOObjects();  // service objects not released, connections not closed

}  // namespace tessly::emulation
