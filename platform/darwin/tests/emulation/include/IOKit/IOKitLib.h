#pragma once
// TEST-ONLY stand-in for <IOKit/IOKitLib.h> on Linux: exactly the subset the darwin C++ sources
// call, declared with the types of Apple's public headers (IOKitLib.h brings the Mach types and
// mach_task_self() with it, as the real header does through <mach/mach_init.h>).

#include <CoreFoundation/CoreFoundation.h>

#include <stddef.h>
#include <stdint.h>

extern "C" {

typedef unsigned int mach_port_t;
typedef int kern_return_t;
typedef mach_port_t task_port_t;
typedef mach_port_t io_object_t;
typedef io_object_t io_connect_t;
typedef io_object_t io_service_t;

#define KERN_SUCCESS 0

extern mach_port_t mach_task_self_;
#define mach_task_self() mach_task_self_

extern const mach_port_t kIOMainPortDefault;

CFMutableDictionaryRef IOServiceMatching(const char* name);
// Consumes one reference to `matching`.
io_service_t IOServiceGetMatchingService(mach_port_t mainPort, CFDictionaryRef matching);
kern_return_t IOServiceOpen(io_service_t service, task_port_t owningTask, uint32_t type,
                            io_connect_t* connect);
kern_return_t IOObjectRelease(io_object_t object);
// Closes the connection and destroys its handle.
kern_return_t IOServiceClose(io_connect_t connect);
kern_return_t IOConnectCallStructMethod(mach_port_t connection, uint32_t selector,
                                        const void* inputStruct, size_t inputStructCnt,
                                        void* outputStruct, size_t* outputStructCnt);

}  // extern "C"
