#pragma once
// What a register or unregister call of SMAppService came to, decided from the call's own result
// and the errors Apple documents, never from whether the status afterwards happens to look like
// the wish (which would hide real failures). A pure function, tested on every platform.

#include <string>

#include "agent/LoginItems.h"

namespace tessly::darwin {

// The documented ServiceManagement errors (SMErrors.h) that mean the wish already holds.
inline constexpr long smErrorJobNotFound = 6;         // kSMErrorJobNotFound: not registered
inline constexpr long smErrorAlreadyRegistered = 12;  // kSMErrorAlreadyRegistered

enum class LoginItemRequest { registration, unregistration };

// SMAppService's status after the call.
enum class ServiceStatus { notRegistered, enabled, requiresApproval, notFound };

// In this order:
//  - unregistering fails with kSMErrorJobNotFound, registering with kSMErrorAlreadyRegistered:
//    the wanted state holds, a success;
//  - status notFound: the framework cannot find the service at all, a failure;
//  - otherwise the call's own result: a registration that then requires approval succeeded (the
//    user approves in System Settings); a failed call fails with the error's description.
LoginItemOutcome loginItemResult(LoginItemRequest request, bool callSucceeded, long errorCode,
                                 ServiceStatus statusAfter, std::string errorDescription);

}  // namespace tessly::darwin
