#include "platform/darwin/LoginItemResult.h"

namespace tessly::darwin {

LoginItemOutcome loginItemResult(LoginItemRequest request, bool callSucceeded, long errorCode,
                                 ServiceStatus statusAfter, std::string errorDescription) {
    if (!callSucceeded) {
        const long holds = request == LoginItemRequest::unregistration ? smErrorJobNotFound
                                                                       : smErrorAlreadyRegistered;
        if (errorCode == holds) return LoginItemOutcome::success();
    }
    if (statusAfter == ServiceStatus::notFound) {
        std::string why = "the login-item service cannot find this application (status notFound)";
        if (!callSucceeded && !errorDescription.empty()) why += ": " + errorDescription;
        return LoginItemOutcome::failure(std::move(why));
    }
    if (callSucceeded) return LoginItemOutcome::success();
    if (errorDescription.empty()) errorDescription = "error " + std::to_string(errorCode);
    return LoginItemOutcome::failure(std::move(errorDescription));
}

}  // namespace tessly::darwin
