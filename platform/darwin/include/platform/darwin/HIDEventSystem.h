#pragma once
// The IOKit HID event-system functions that list the temperature services and read them. IOKit
// exports them, but the SDK's public headers do not declare them all, so they are declared here
// with the argument types the temperature services are read with. The type names are IOKit's own,
// so these declarations agree with any SDK header that declares the same types.
//
// Ownership follows CoreFoundation's rule: what a Create or Copy function returns belongs to the
// caller, who releases it with CFRelease. All of these objects are CoreFoundation objects.

#include <CoreFoundation/CoreFoundation.h>

#include <stdint.h>

extern "C" {

typedef struct __IOHIDEventSystemClient* IOHIDEventSystemClientRef;
typedef struct __IOHIDServiceClient* IOHIDServiceClientRef;
typedef struct __IOHIDEvent* IOHIDEventRef;

// A client of the HID event system, or NULL.
IOHIDEventSystemClientRef IOHIDEventSystemClientCreate(CFAllocatorRef allocator);
// Restricts the services the client lists to those matching `matching` (usage page, usage, ...).
void IOHIDEventSystemClientSetMatching(IOHIDEventSystemClientRef client, CFDictionaryRef matching);
// An array of IOHIDServiceClientRef, or NULL.
CFArrayRef IOHIDEventSystemClientCopyServices(IOHIDEventSystemClientRef client);
// The service's property under `key`, of whatever type it has, or NULL.
CFTypeRef IOHIDServiceClientCopyProperty(IOHIDServiceClientRef service, CFStringRef key);
// The service's current event of type `type`, or NULL.
IOHIDEventRef IOHIDServiceClientCopyEvent(IOHIDServiceClientRef service, int64_t type,
                                          int32_t options, int64_t timestamp);
// One field of an event as a floating-point value; the field is (event type << 16) | index.
double IOHIDEventGetFloatValue(IOHIDEventRef event, uint32_t field);

}  // extern "C"
