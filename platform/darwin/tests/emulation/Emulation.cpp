// TEST-ONLY: the emulated IOKit and CoreFoundation subset (see Emulation.h).

#include "Emulation.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <unordered_map>
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
    std::u16string text;                               // string
    MatchingNumber number{kCFNumberSInt64Type, 0};     // number
    std::vector<std::pair<Object*, Object*>> entries;  // dictionary
    bool retainsEntries = false;
    std::string providerClass;   // dictionary made by IOServiceMatching
    std::vector<Object*> items;  // array items, a client's services
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
    std::unordered_map<const void*, Object*> byAddress;
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
    auto& m = machine();
    m.objects.push_back(std::make_unique<Object>(kind));
    Object* object = m.objects.back().get();
    m.byAddress[object] = object;
    return object;
}

// The object made at `address`, live or not; null for any other address.
Object* find(const void* address) {
    const auto found = machine().byAddress.find(address);
    return found == machine().byAddress.end() ? nullptr : found->second;
}

// The live object at `address` of `kind`, or null after recording why it cannot be used.
Object* use(const void* address, Object::Kind kind, std::string_view function) {
    Object* object = find(address);
    if (object == nullptr) {
        problem(std::string(function) + ": not an object");
        return nullptr;
    }
    if (!object->constant && object->refs <= 0) {
        problem(std::string(function) + ": object used after its last release");
        return nullptr;
    }
    if (object->kind != kind) {
        problem(std::string(function) + ": object of the wrong type");
        return nullptr;
    }
    return object;
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
    for (auto& [key, value] : object->entries) {
        if (object->retainsEntries) {
            release(key, "dictionary deallocation");
            release(value, "dictionary deallocation");
        }
    }
    for (Object* item : object->items) {
        release(item, "container deallocation");
    }
    object->entries = {};
    object->items = {};
    object->text = std::u16string();
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

Object* makeString(std::u16string text) {
    Object* object = make(Object::Kind::string);
    object->text = std::move(text);
    return object;
}

// Well-formed UTF-8 to UTF-16, as CoreFoundation stores it.
std::u16string toUTF16(std::string_view utf8) {
    std::u16string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        char32_t c = static_cast<char32_t>(length == 1 ? lead : lead & (0x7F >> length));
        for (std::size_t k = 1; k < length && i + k < utf8.size(); ++k) {
            c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3Fu);
        }
        i += length;
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
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
    if (!matching) return true;
    for (const auto& [key, number] : *matching) {
        if (key == "PrimaryUsagePage" && number.value == service.usagePage) continue;
        if (key == "PrimaryUsage" && number.value == service.usage) continue;
        return false;
    }
    return true;
}

}  // namespace

void reset() {
    machine() = Machine();
}

void setSMCKey(std::string_view key, std::string_view type, std::vector<std::uint8_t> bytes) {
    machine().smcKeys[packFourCC(key)] = SMCKey{packFourCC(type), std::move(bytes)};
}

std::size_t addHIDService(HIDService service) {
    machine().hidServices.push_back(std::move(service));
    return machine().hidServices.size() - 1;
}

Failures& failures() {
    return machine().failures;
}

const Record& record() {
    return machine().record;
}

std::size_t callCount(std::string_view function) {
    const auto& all = machine().record.calls;
    return static_cast<std::size_t>(std::count(all.begin(), all.end(), function));
}

std::size_t eventReads(std::size_t service) {
    const auto found = machine().record.eventReads.find(service);
    return found == machine().record.eventReads.end() ? 0 : found->second;
}

std::size_t liveCFObjects() {
    const auto& all = machine().objects;
    return static_cast<std::size_t>(std::count_if(
        all.begin(), all.end(), [](const auto& o) { return !o->constant && o->refs > 0; }));
}

std::size_t liveIOObjects() {
    const auto& io = machine().io;
    return static_cast<std::size_t>(
        std::count_if(io.begin(), io.end(), [](const auto& e) { return e.second.refs > 0; }));
}

std::size_t openConnections() {
    const auto& io = machine().io;
    return static_cast<std::size_t>(std::count_if(io.begin(), io.end(), [](const auto& e) {
        return e.second.connection && e.second.refs > 0;
    }));
}

}  // namespace tessly::emulation

// ---------------------------------------------------------------------------------------------
// The emulated C interfaces.

using tessly::emulation::HIDService;
using tessly::emulation::MatchingNumber;
namespace emu = tessly::emulation;

namespace {

using Kind = emu::Object::Kind;

template <class Ref>
Ref as(emu::Object* object) {
    return reinterpret_cast<Ref>(object);
}

}  // namespace

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
    if (cf == nullptr) {
        emu::problem("CFRelease(NULL)");
        return;
    }
    emu::Object* object = emu::find(cf);
    if (object == nullptr) {
        emu::problem("CFRelease: not an object");
        return;
    }
    emu::release(object, "CFRelease");
}

CFTypeID CFGetTypeID(CFTypeRef cf) {
    const emu::Object* object = emu::find(cf);
    if (object == nullptr || (!object->constant && object->refs <= 0)) {
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
    return s == nullptr ? 0 : static_cast<CFIndex>(s->text.size());
}

CFIndex CFStringGetBytes(CFStringRef theString, CFRange range, CFStringEncoding encoding,
                         UInt8 /*lossByte*/, Boolean isExternalRepresentation, UInt8* buffer,
                         CFIndex maxBufLen, CFIndex* usedBufLen) {
    const emu::Object* s = emu::use(theString, Kind::string, "CFStringGetBytes");
    if (s == nullptr) return 0;
    const auto size = static_cast<CFIndex>(s->text.size());
    if (encoding != kCFStringEncodingUTF8 || isExternalRepresentation || range.location < 0 ||
        range.length < 0 || range.location > size || range.length > size - range.location) {
        emu::problem("CFStringGetBytes: unsupported encoding or range out of bounds");
        return 0;
    }
    CFIndex converted = 0;
    CFIndex used = 0;
    const auto end = range.location + range.length;
    for (CFIndex i = range.location; i < end;) {
        // Scripted names are UTF-8, so every surrogate comes in a pair: lossByte is never needed.
        char32_t c = s->text[static_cast<std::size_t>(i)];
        CFIndex units = 1;
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < end) {
            c = 0x10000 + ((c - 0xD800) << 10) +
                (s->text[static_cast<std::size_t>(i + 1)] - 0xDC00);
            units = 2;
        }
        // UTF-8: a lead byte marking the length, then six bits a byte.
        std::array<UInt8, 4> bytes{};
        std::size_t n = 0;
        const std::size_t length = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
        bytes[n++] = static_cast<UInt8>(
            length == 1 ? c : ((0xFF00u >> length) & 0xFFu) | (c >> (6 * (length - 1))));
        for (std::size_t k = length - 1; k-- > 0;)
            bytes[n++] = static_cast<UInt8>(0x80u | ((c >> (6 * k)) & 0x3Fu));
        if (buffer != nullptr) {
            if (used + static_cast<CFIndex>(n) > maxBufLen) break;  // whole characters only
            std::copy_n(bytes.begin(), n, buffer + used);
        }
        used += static_cast<CFIndex>(n);
        converted += units;
        i += units;
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
    return as<CFNumberRef>(number);
}

CFDictionaryRef CFDictionaryCreate(CFAllocatorRef, const void** keys, const void** values,
                                   CFIndex numValues, const CFDictionaryKeyCallBacks* keyCallBacks,
                                   const CFDictionaryValueCallBacks* valueCallBacks) {
    emu::called("CFDictionaryCreate");
    emu::Object* dictionary = emu::make(Kind::dictionary);
    dictionary->retainsEntries = keyCallBacks == &kCFTypeDictionaryKeyCallBacks &&
                                 valueCallBacks == &kCFTypeDictionaryValueCallBacks;
    for (CFIndex i = 0; i < numValues; ++i) {
        emu::Object* key = emu::find(keys[i]);
        emu::Object* value = emu::find(values[i]);
        if (key == nullptr || value == nullptr) {
            emu::problem("CFDictionaryCreate: not an object");
            continue;
        }
        if (dictionary->retainsEntries) {
            emu::retain(key);
            emu::retain(value);
        }
        dictionary->entries.emplace_back(key, value);
    }
    return as<CFDictionaryRef>(dictionary);
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
    if (found != constants.end()) return as<CFStringRef>(found->second);
    emu::Object* string = emu::makeString(emu::toUTF16(cStr));
    string->constant = true;
    constants.emplace(cStr, string);
    return as<CFStringRef>(string);
}

// --- IOKit

CFMutableDictionaryRef IOServiceMatching(const char* name) {
    emu::called(std::string("IOServiceMatching(") + name + ")");
    emu::Object* dictionary = emu::make(Kind::dictionary);
    dictionary->providerClass = name;
    return as<CFMutableDictionaryRef>(dictionary);
}

io_service_t IOServiceGetMatchingService(mach_port_t /*mainPort*/, CFDictionaryRef matching) {
    emu::called("IOServiceGetMatchingService");
    emu::Object* dictionary = emu::use(matching, Kind::dictionary, "IOServiceGetMatchingService");
    if (dictionary == nullptr) return 0;
    const bool smc = dictionary->providerClass == "AppleSMC";
    emu::release(dictionary, "IOServiceGetMatchingService");  // consumed, found or not
    if (!smc || emu::failures().noAppleSMC) return 0;
    const io_object_t service = emu::machine().nextHandle;
    emu::machine().nextHandle += 4;
    emu::machine().io[service] = emu::IOEntry{};
    return service;
}

kern_return_t IOServiceOpen(io_service_t service, task_port_t owningTask, uint32_t type,
                            io_connect_t* connect) {
    emu::called("IOServiceOpen");
    if (emu::liveIO(service, false, "IOServiceOpen") == nullptr) return emu::ioReturnBadArgument;
    // The SMC's user client is type 0, for the calling task.
    if (owningTask != mach_task_self_ || type != 0) return emu::ioReturnBadArgument;
    if (emu::failures().openFails) return emu::ioReturnNotPermitted;
    const io_object_t connection = emu::machine().nextHandle;
    emu::machine().nextHandle += 4;
    emu::machine().io[connection] = emu::IOEntry{true, 1};
    *connect = connection;
    return KERN_SUCCESS;
}

kern_return_t IOObjectRelease(io_object_t object) {
    emu::called("IOObjectRelease");
    emu::IOEntry* service = emu::liveIO(object, false, "IOObjectRelease");
    if (service == nullptr) return emu::ioReturnBadArgument;
    --service->refs;
    return KERN_SUCCESS;
}

kern_return_t IOServiceClose(io_connect_t connect) {
    emu::called("IOServiceClose");
    emu::IOEntry* connection = emu::liveIO(connect, true, "IOServiceClose");
    if (connection == nullptr) return emu::ioReturnBadArgument;
    connection->refs = 0;
    return KERN_SUCCESS;
}

kern_return_t IOConnectCallStructMethod(mach_port_t connection, uint32_t selector,
                                        const void* inputStruct, size_t inputStructCnt,
                                        void* outputStruct, size_t* outputStructCnt) {
    emu::called("IOConnectCallStructMethod");
    if (emu::liveIO(connection, true, "IOConnectCallStructMethod") == nullptr) {
        return emu::machSendInvalidDest;
    }
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
    const auto& script = emu::machine().hidServices;
    for (std::size_t i = 0; i < script.size(); ++i) {
        emu::Object* service = emu::make(Kind::service);  // the client's reference
        service->service = i;
        client->items.push_back(service);
    }
    return as<IOHIDEventSystemClientRef>(client);
}

void IOHIDEventSystemClientSetMatching(IOHIDEventSystemClientRef client, CFDictionaryRef matching) {
    emu::called("IOHIDEventSystemClientSetMatching");
    emu::Object* c = emu::use(client, Kind::client, "IOHIDEventSystemClientSetMatching");
    const emu::Object* d =
        emu::use(matching, Kind::dictionary, "IOHIDEventSystemClientSetMatching");
    if (c == nullptr || d == nullptr) return;
    std::map<std::string, MatchingNumber> contents;
    for (const auto& [key, value] : d->entries) {
        if (!key->constant && key->refs <= 0) emu::problem("SetMatching: released key");
        if (!value->constant && value->refs <= 0) emu::problem("SetMatching: released value");
        if (key->kind != Kind::string || value->kind != Kind::number) {
            emu::problem("SetMatching: entry is not a string key with a number value");
            continue;
        }
        std::string name;
        for (char16_t u : key->text)
            name += static_cast<char>(u);
        contents[name] = value->number;
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
    return as<CFArrayRef>(array);
}

CFTypeRef IOHIDServiceClientCopyProperty(IOHIDServiceClientRef service, CFStringRef key) {
    emu::called("IOHIDServiceClientCopyProperty");
    const emu::Object* s = emu::use(service, Kind::service, "IOHIDServiceClientCopyProperty");
    const emu::Object* k = emu::use(key, Kind::string, "IOHIDServiceClientCopyProperty");
    if (s == nullptr || k == nullptr) return nullptr;
    if (k->text != u"Product") return nullptr;
    const HIDService& script = emu::machine().hidServices[s->service];
    switch (script.product) {
        case HIDService::Product::string:
            return emu::makeString(emu::toUTF16(script.name));
        case HIDService::Product::number: {
            emu::Object* number = emu::make(Kind::number);
            number->number = MatchingNumber{kCFNumberSInt32Type, 42};
            return number;
        }
        case HIDService::Product::missing:
            break;
    }
    return nullptr;
}

IOHIDEventRef IOHIDServiceClientCopyEvent(IOHIDServiceClientRef service, int64_t type,
                                          int32_t options, int64_t timestamp) {
    emu::called("IOHIDServiceClientCopyEvent");
    const emu::Object* s = emu::use(service, Kind::service, "IOHIDServiceClientCopyEvent");
    if (s == nullptr) return nullptr;
    ++emu::machine().record.eventReads[s->service];
    const HIDService& script = emu::machine().hidServices[s->service];
    if (type != 15 || options != 0 || timestamp != 0 || !script.celsius) return nullptr;
    emu::Object* event = emu::make(Kind::event);
    event->celsius = *script.celsius;
    return as<IOHIDEventRef>(event);
}

double IOHIDEventGetFloatValue(IOHIDEventRef event, uint32_t field) {
    emu::called("IOHIDEventGetFloatValue");
    const emu::Object* e = emu::use(event, Kind::event, "IOHIDEventGetFloatValue");
    if (e == nullptr) return 0.0;
    return field == 0xF0000 ? e->celsius : 0.0;
}

}  // extern "C"
