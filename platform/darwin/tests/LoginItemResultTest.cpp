// The outcome of an SMAppService register or unregister call, as a pure function of the request,
// the call's result, its error code and the status afterwards.

#include <gtest/gtest.h>

#include "platform/darwin/LoginItemResult.h"

namespace tessly::darwin {
namespace {

TEST(LoginItemResultTest, TheCallAndTheDocumentedErrorsDecide) {
    using enum LoginItemRequest;
    using enum ServiceStatus;
    const struct {
        LoginItemRequest request;
        bool callSucceeded;
        long code;
        ServiceStatus status;
        bool succeeded;
    } cases[] = {
        {registration, true, 0, enabled, true},
        {registration, true, 0, requiresApproval, true},  // the user approves in System Settings
        {registration, false, smErrorAlreadyRegistered, enabled, true},
        {registration, false, 11, notRegistered, false},  // kSMErrorLaunchDeniedByUser
        {registration, false, 3, enabled, false},         // the status looks right; the call failed
        {registration, true, 0, notFound, false},
        {unregistration, true, 0, notRegistered, true},
        {unregistration, false, smErrorJobNotFound, notRegistered, true},  // not registered
        {unregistration, false, smErrorJobNotFound, notFound, true},
        {unregistration, false, 2, notRegistered, false},  // kSMErrorInternalFailure
        {unregistration, false, 2, notFound, false},
        {unregistration, true, 0, notFound, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);  // the case's index
        const auto outcome = loginItemResult(c.request, c.callSucceeded, c.code, c.status, "boom");
        EXPECT_EQ(outcome.succeeded, c.succeeded);
        EXPECT_EQ(outcome.errorDescription.empty(), c.succeeded);
    }
    EXPECT_EQ(loginItemResult(unregistration, false, 2, notRegistered, "").errorDescription,
              "error 2");
    EXPECT_EQ(loginItemResult(registration, true, 0, notFound, "x").errorDescription,
              "the login-item service cannot find this application (status notFound)");
}

}  // namespace
}  // namespace tessly::darwin
