// TEST-ONLY: the emulated IOKit and CoreFoundation subset (see Emulation.h).

#include "Emulation.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <utility>

#include "platform/darwin/HIDEventSystem.h"

namespace tessly::emulation {
namespace {

constexpr CFTypeID stringTypeID = 7;
constexpr std::uint8_t unknownKeyResult = 0x84;
constexpr std::size_t blockSize = 80;

// IOKit's return codes, as the kernel's unsigned values.
constexpr auto ioReturnError = static_cast<kern_return_t>(0xE00002BCu);
constexpr auto ioReturnBadArgument = static_cast<kern_return_t>(0xE00002C2u);
constexpr auto ioReturnNotPermitted = static_cast<kern_return_t>(0xE00002E2u);
constexpr auto machSendInvalidDest = static_cast<kern_return_t>(0x10000003u);

struct Object {
    enum class Kind { string, number, dictionary, array, client, service, event };

    explicit Object(Kind k) : kind(k) {}

    Kind kind;
    long refs = 1;
    bool constant = false;
    std::string text;                               // string, as UTF-8
    MatchingNumber number{kCFNumberSInt64Type, 0};  // number
    // Array items, a client's services, or a dictionary's keys and values in turn; released at
    // deallocation unless a dictionary was made without the CFType callbacks.
    std::vector<Object*> items;
    bool ownsItems = true;
    std::string providerClass;  // dictionary made by IOServiceMatching
    std::optional<std::map<std::string, MatchingNumber>> matching;  // client
    std::size_t service = 0;                                        // service: its script index
    double celsius = 0.0;                                           // event
};

struct IOEntry {
    bool connection = false;
    long refs = 1;  // a service's references; a connection is open while 1
};

struct SMCKey {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> bytes;
};

struct Machine {
    std::vector<std::unique_ptr<Object>> objects;  // every object made since reset, for lookups
    std::map<std::string, Object*, std::less<>> constants;
    std::map<io_object_t, IOEntry> io;
    io_object_t nextHandle = 0x1003;

    std::map<std::uint32_t, SMCKey> smcKeys;
    std::vector<HIDService> hidServices;
    Failures failures;

    Record record;
};

Machine& machine() {
    static Machine m;
    return m;
}

void problem(std::string text) {
    machine().record.problems.push_back(std::move(text));
}

void called(std::string_view function) {
    machine().record.calls.emplace_back(function);
}

Object* make(Object::Kind kind) {
    return machine().objects.emplace_back(std::make_unique<Object>(kind)).get();
}

// The object made at `address`, live or not; null for any other address.
Object* find(const void* address) {
    const auto& all = machine().objects;
    const auto found = std::ranges::find(all, address, [](const auto& o) { return o.get(); });
    return found == all.end() ? nullptr : found->get();
}

bool released(const Object* object) {
    return !object->constant && object->refs <= 0;
}

// The live object at `address` of `kind`, or null after recording why it cannot be used.
Object* use(const void* address, Object::Kind kind, std::string_view function) {
    Object* object = find(address);
    const char* why = object == nullptr      ? ": not an object"
                      : released(object)     ? ": object used after its last release"
                      : object->kind != kind ? ": object of the wrong type"
                                             : nullptr;
    if (why == nullptr) return object;
    problem(std::string(function) + why);
    return nullptr;
}

void retain(Object* object) {
    if (!object->constant) ++object->refs;
}

void release(Object* object, std::string_view function) {
    if (object->constant) return;
    if (object->refs <= 0) {
        problem(std::string(function) + ": object released more often than owned");
        return;
    }
    if (--object->refs > 0) return;
    // Deallocated: what it held goes too, and its storage is really freed, so a pointer kept
    // into it trips the address sanitizer.
    if (object->ownsItems)
        for (Object* item : object->items)
            release(item, "container deallocation");
    object->items = {};
    object->text = std::string();
}

// The open connection or live service `object`, or null after recording that it is not one.
IOEntry* liveIO(io_object_t object, bool connection, std::string_view function) {
    const auto found = machine().io.find(object);
    if (found == machine().io.end() || found->second.connection != connection ||
        found->second.refs <= 0) {
        problem(std::string(function) +
                (connection ? ": not an open connection" : ": not a live service"));
        return nullptr;
    }
    return &found->second;
}

// A new handle for a service object with one reference, or for an open connection.
io_object_t newIO(bool connection) {
    const io_object_t handle = machine().nextHandle;
    machine().nextHandle += 4;
    machine().io[handle] = IOEntry{connection, 1};
    return handle;
}

Object* makeString(std::string utf8) {
    Object* object = make(Object::Kind::string);
    object->text = std::move(utf8);
    return object;
}

// The bytes of the well-formed UTF-8 character that starts with `lead`; the UTF-16 units that
// CoreFoundation counts it as are two for four bytes, else one.
std::size_t utf8Length(char lead) {
    const auto c = static_cast<unsigned char>(lead);
    return c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
}

std::uint32_t packFourCC(std::string_view text) {
    std::uint32_t code = 0;
    for (char c : text)
        code = (code << 8) | static_cast<unsigned char>(c);
    return code;
}

std::uint32_t load32(const unsigned char* p) {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void store32(unsigned char* p, std::uint32_t v) {
    std::memcpy(p, &v, sizeof v);
}

// The SMC driver's answer to one request block, at the block's fixed offsets: key 0, dataSize
// 28, dataType 32, result 40, command 42, value bytes 48.
std::array<unsigned char, blockSize> answerSMC(const unsigned char* in) {
    std::array<unsigned char, blockSize> out{};
    const std::uint32_t key = load32(in);
    store32(out.data(), key);
    const auto found = machine().smcKeys.find(key);
    if (found == machine().smcKeys.end()) {
        out[40] = unknownKeyResult;
        return out;
    }
    const SMCKey& value = found->second;
    switch (in[42]) {
        case 9:
            store32(out.data() + 28, static_cast<std::uint32_t>(value.bytes.size()));
            store32(out.data() + 32, value.type);
            break;
        case 5: {
            const std::size_t n = std::min<std::size_t>({load32(in + 28), value.bytes.size(), 32});
            std::copy_n(value.bytes.begin(), n, out.begin() + 48);
            break;
        }
        default:
            problem("IOConnectCallStructMethod: unexpected SMC command");
            out[40] = unknownKeyResult;
    }
    return out;
}

bool matches(const HIDService& service,
             const std::optional<std::map<std::string, MatchingNumber>>& matching) {
    return !matching || std::ranges::all_of(*matching, [&](const auto& entry) {
        return (entry.first == "PrimaryUsagePage" && entry.second.value == service.usagePage) ||
               (entry.first == "PrimaryUsage" && entry.second.value == service.usage);
    });
}

}  // namespace

void reset() {
    machine() = Machine();
}

void setSMCKey(std::string_view key, std::string_view type, std::vector<std::uint8_t> bytes) {
    machine().smcKeys[packFourCC(key)] = SMCKey{packFourCC(type), std::move(bytes)};
}

void addHIDService(HIDService service) {
    machine().hidServices.push_back(std::move(service));
}

Failures& failures() {
    return machine().failures;
}

const Record& record() {
    return machine().record;
}

std::size_t callCount(std::string_view function) {
    return static_cast<std::size_t>(std::ranges::count(machine().record.calls, function));
}

std::size_t liveCFObjects() {
    return static_cast<std::size_t>(std::ranges::count_if(
        machine().objects, [](const auto& o) { return !o->constant && o->refs > 0; }));
}

std::size_t liveIOObjects() {
    return static_cast<std::size_t>(
        std::ranges::count_if(machine().io, [](const auto& e) { return e.second.refs > 0; }));
}

}  // namespace tessly::emulation

// ---------------------------------------------------------------------------------------------
// The emulated C interfaces.

using tessly::emulation::HIDService;
using tessly::emulation::MatchingNumber;
namespace emu = tessly::emulation;
using Kind = emu::Object::Kind;

extern "C" {

const CFAllocatorRef kCFAllocatorDefault = nullptr;
struct CFDictionaryKeyCallBacks {};
struct CFDictionaryValueCallBacks {};
const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks = {};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks = {};
mach_port_t mach_task_self_ = 0x203;
const mach_port_t kIOMainPortDefault = 0;

void CFRelease(CFTypeRef cf) {
    emu::called("CFRelease");
    if (cf == nullptr)
        emu::problem("CFRelease(NULL)");
    else if (emu::Object* object = emu::find(cf))
        emu::release(object, "CFRelease");
    else
        emu::problem("CFRelease: not an object");
}

CFTypeID CFGetTypeID(CFTypeRef cf) {
    const emu::Object* object = emu::find(cf);
    if (object == nullptr || emu::released(object)) {
        emu::problem("CFGetTypeID: not a live object");
        return 0;
    }
    return emu::stringTypeID + static_cast<CFTypeID>(object->kind) * 11;
}

CFTypeID CFStringGetTypeID(void) {
    return emu::stringTypeID;
}

CFIndex CFStringGetLength(CFStringRef theString) {
    const emu::Object* s = emu::use(theString, Kind::string, "CFStringGetLength");
    CFIndex units = 0;
    for (std::size_t i = 0; s != nullptr && i < s->text.size(); i += emu::utf8Length(s->text[i]))
        units += emu::utf8Length(s->text[i]) == 4 ? 2 : 1;
    return units;
}

CFIndex CFStringGetBytes(CFStringRef theString, CFRange range, CFStringEncoding encoding,
                         UInt8 /*lossByte*/, Boolean isExternalRepresentation, UInt8* buffer,
                         CFIndex maxBufLen, CFIndex* usedBufLen) {
    const emu::Object* s = emu::use(theString, Kind::string, "CFStringGetBytes");
    if (s == nullptr) return 0;
    // The sources convert whole strings to UTF-8; nothing else is emulated.
    if (encoding != kCFStringEncodingUTF8 || isExternalRepresentation || range.location != 0 ||
        range.length != CFStringGetLength(theString)) {
        emu::problem("CFStringGetBytes: encoding or range not emulated");
        return 0;
    }
    // Whole characters only. Scripted names are well-formed UTF-8, so none needs lossByte.
    CFIndex converted = 0;
    CFIndex used = 0;
    for (std::size_t i = 0, n = 0; i < s->text.size(); i += n) {
        n = emu::utf8Length(s->text[i]);
        if (buffer != nullptr) {
            if (used + static_cast<CFIndex>(n) > maxBufLen) break;
            std::copy_n(s->text.begin() + static_cast<std::ptrdiff_t>(i), n, buffer + used);
        }
        used += static_cast<CFIndex>(n);
        converted += n == 4 ? 2 : 1;
    }
    if (usedBufLen != nullptr) *usedBufLen = used;
    return converted;
}

CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType theType, const void* valuePtr) {
    emu::called("CFNumberCreate");
    std::int64_t value = 0;
    if (theType == kCFNumberSInt64Type)
        std::memcpy(&value, valuePtr, sizeof value);
    else
        emu::problem("CFNumberCreate: number type not emulated");
    emu::Object* number = emu::make(Kind::number);
    number->number = MatchingNumber{theType, value};
    return reinterpret_cast<CFNumberRef>(number);
}

CFDictionaryRef CFDictionaryCreate(CFAllocatorRef, const void** keys, const void** values,
                                   CFIndex numValues, const CFDictionaryKeyCallBacks* keyCallBacks,
                                   const CFDictionaryValueCallBacks* valueCallBacks) {
    emu::called("CFDictionaryCreate");
    emu::Object* dictionary = emu::make(Kind::dictionary);
    dictionary->ownsItems = keyCallBacks == &kCFTypeDictionaryKeyCallBacks &&
                            valueCallBacks == &kCFTypeDictionaryValueCallBacks;
    for (CFIndex i = 0; i < numValues; ++i) {
        emu::Object* key = emu::find(keys[i]);
        emu::Object* value = emu::find(values[i]);
        if (key == nullptr || value == nullptr) {
            emu::problem("CFDictionaryCreate: not an object");
            continue;
        }
        if (dictionary->ownsItems) {
            emu::retain(key);
            emu::retain(value);
        }
        dictionary->items.insert(dictionary->items.end(), {key, value});
    }
    return reinterpret_cast<CFDictionaryRef>(dictionary);
}

CFIndex CFArrayGetCount(CFArrayRef theArray) {
    const emu::Object* array = emu::use(theArray, Kind::array, "CFArrayGetCount");
    return array == nullptr ? 0 : static_cast<CFIndex>(array->items.size());
}

const void* CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx) {
    const emu::Object* array = emu::use(theArray, Kind::array, "CFArrayGetValueAtIndex");
    if (array == nullptr) return nullptr;
    if (idx < 0 || static_cast<std::size_t>(idx) >= array->items.size()) {
        emu::problem("CFArrayGetValueAtIndex: index out of bounds");
        return nullptr;
    }
    return array->items[static_cast<std::size_t>(idx)];
}

CFStringRef EmulatedCFStringMakeConstantString(const char* cStr) {
    auto& constants = emu::machine().constants;
    const auto found = constants.find(std::string_view(cStr));
    if (found != constants.end()) return reinterpret_cast<CFStringRef>(found->second);
    emu::Object* string = emu::makeString(cStr);
    string->constant = true;
    constants.emplace(cStr, string);
    return reinterpret_cast<CFStringRef>(string);
}

// --- IOKit

CFMutableDictionaryRef IOServiceMatching(const char* name) {
    emu::called(std::string("IOServiceMatching(") + name + ")");
    emu::Object* dictionary = emu::make(Kind::dictionary);
    dictionary->providerClass = name;
    return reinterpret_cast<CFMutableDictionaryRef>(dictionary);
}

io_service_t IOServiceGetMatchingService(mach_port_t /*mainPort*/, CFDictionaryRef matching) {
    emu::called("IOServiceGetMatchingService");
    emu::Object* dictionary = emu::use(matching, Kind::dictionary, "IOServiceGetMatchingService");
    if (dictionary == nullptr) return 0;
    const bool smc = dictionary->providerClass == "AppleSMC";
    emu::release(dictionary, "IOServiceGetMatchingService");  // consumed, found or not
    if (!smc || emu::failures().noAppleSMC) return 0;
    return emu::newIO(false);
}

kern_return_t IOServiceOpen(io_service_t service, task_port_t owningTask, uint32_t type,
                            io_connect_t* connect) {
    emu::called("IOServiceOpen");
    if (emu::liveIO(service, false, "IOServiceOpen") == nullptr) return emu::ioReturnBadArgument;
    // The SMC's user client is type 0, for the calling task.
    if (owningTask != mach_task_self_ || type != 0) return emu::ioReturnBadArgument;
    if (emu::failures().openFails) return emu::ioReturnNotPermitted;
    *connect = emu::newIO(true);
    return KERN_SUCCESS;
}

kern_return_t IOObjectRelease(io_object_t object) {
    emu::called("IOObjectRelease");
    emu::IOEntry* service = emu::liveIO(object, false, "IOObjectRelease");
    if (service != nullptr) --service->refs;
    return service == nullptr ? emu::ioReturnBadArgument : KERN_SUCCESS;
}

kern_return_t IOServiceClose(io_connect_t connect) {
    emu::called("IOServiceClose");
    emu::IOEntry* connection = emu::liveIO(connect, true, "IOServiceClose");
    if (connection != nullptr) connection->refs = 0;
    return connection == nullptr ? emu::ioReturnBadArgument : KERN_SUCCESS;
}

kern_return_t IOConnectCallStructMethod(mach_port_t connection, uint32_t selector,
                                        const void* inputStruct, size_t inputStructCnt,
                                        void* outputStruct, size_t* outputStructCnt) {
    emu::called("IOConnectCallStructMethod");
    if (emu::liveIO(connection, true, "IOConnectCallStructMethod") == nullptr)
        return emu::machSendInvalidDest;
    if (emu::failures().structCallsFail) return emu::ioReturnError;
    if (selector != 2 || inputStruct == nullptr || inputStructCnt != emu::blockSize ||
        outputStruct == nullptr || outputStructCnt == nullptr ||
        *outputStructCnt < emu::blockSize) {
        emu::problem("IOConnectCallStructMethod: not an SMC struct call");
        return emu::ioReturnBadArgument;
    }
    const auto reply = emu::answerSMC(static_cast<const unsigned char*>(inputStruct));
    std::memcpy(outputStruct, reply.data(), reply.size());
    *outputStructCnt = reply.size();
    return KERN_SUCCESS;
}

// --- HID event system

IOHIDEventSystemClientRef IOHIDEventSystemClientCreate(CFAllocatorRef) {
    emu::called("IOHIDEventSystemClientCreate");
    if (emu::failures().clientCreateFails) return nullptr;
    emu::Object* client = emu::make(Kind::client);
    for (std::size_t i = 0; i < emu::machine().hidServices.size(); ++i) {
        client->items.push_back(emu::make(Kind::service));  // the client's reference
        client->items.back()->service = i;
    }
    return reinterpret_cast<IOHIDEventSystemClientRef>(client);
}

void IOHIDEventSystemClientSetMatching(IOHIDEventSystemClientRef client, CFDictionaryRef matching) {
    emu::called("IOHIDEventSystemClientSetMatching");
    emu::Object* c = emu::use(client, Kind::client, "IOHIDEventSystemClientSetMatching");
    const emu::Object* d =
        emu::use(matching, Kind::dictionary, "IOHIDEventSystemClientSetMatching");
    if (c == nullptr || d == nullptr) return;
    std::map<std::string, MatchingNumber> contents;
    for (std::size_t i = 0; i + 1 < d->items.size(); i += 2) {
        const emu::Object* key = d->items[i];
        const emu::Object* value = d->items[i + 1];
        if (emu::released(key) || emu::released(value)) emu::problem("SetMatching: released entry");
        if (key->kind != Kind::string || value->kind != Kind::number) {
            emu::problem("SetMatching: entry is not a string key with a number value");
            continue;
        }
        contents[key->text] = value->number;
    }
    c->matching = contents;
    emu::machine().record.lastMatching = std::move(contents);
}

CFArrayRef IOHIDEventSystemClientCopyServices(IOHIDEventSystemClientRef client) {
    emu::called("IOHIDEventSystemClientCopyServices");
    const emu::Object* c = emu::use(client, Kind::client, "IOHIDEventSystemClientCopyServices");
    if (c == nullptr || emu::failures().copyServicesFails) return nullptr;
    emu::Object* array = emu::make(Kind::array);
    for (emu::Object* service : c->items) {
        if (!emu::matches(emu::machine().hidServices[service->service], c->matching)) continue;
        emu::retain(service);
        array->items.push_back(service);
    }
    return reinterpret_cast<CFArrayRef>(array);
}

CFTypeRef IOHIDServiceClientCopyProperty(IOHIDServiceClientRef service, CFStringRef key) {
    emu::called("IOHIDServiceClientCopyProperty");
    const emu::Object* s = emu::use(service, Kind::service, "IOHIDServiceClientCopyProperty");
    const emu::Object* k = emu::use(key, Kind::string, "IOHIDServiceClientCopyProperty");
    if (s == nullptr || k == nullptr || k->text != "Product") return nullptr;
    const HIDService& script = emu::machine().hidServices[s->service];
    if (script.product == HIDService::Product::string) return emu::makeString(script.name);
    if (script.product == HIDService::Product::missing) return nullptr;
    emu::Object* number = emu::make(Kind::number);
    number->number = MatchingNumber{kCFNumberSInt32Type, 42};
    return number;
}

IOHIDEventRef IOHIDServiceClientCopyEvent(IOHIDServiceClientRef service, int64_t type,
                                          int32_t options, int64_t timestamp) {
    emu::called("IOHIDServiceClientCopyEvent");
    const emu::Object* s = emu::use(service, Kind::service, "IOHIDServiceClientCopyEvent");
    if (s == nullptr) return nullptr;
    const HIDService& script = emu::machine().hidServices[s->service];
    if (type != 15 || options != 0 || timestamp != 0 || !script.celsius) return nullptr;
    emu::Object* event = emu::make(Kind::event);
    event->celsius = *script.celsius;
    return reinterpret_cast<IOHIDEventRef>(event);
}

double IOHIDEventGetFloatValue(IOHIDEventRef event, uint32_t field) {
    emu::called("IOHIDEventGetFloatValue");
    const emu::Object* e = emu::use(event, Kind::event, "IOHIDEventGetFloatValue");
    if (e == nullptr) return 0.0;
    return field == 0xF0000 ? e->celsius : 0.0;
}

}  // extern "C"
