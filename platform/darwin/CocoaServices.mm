// The platform services that macOS offers only in Objective-C: the AppKit application with its
// run loop and timers, the login item (ServiceManagement), the system log and the bundle's
// version. Everything else on macOS is C++ over the C frameworks. Built with ARC.

#import <AppKit/AppKit.h>
#import <Foundation/Foundation.h>
#import <ServiceManagement/ServiceManagement.h>

#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "agent/AppHost.h"
#include "agent/LoginItems.h"
#include "agent/SystemLog.h"
#include "agent/VersionSource.h"
#include "platform/darwin/LoginItemResult.h"

namespace {

// C++ callbacks run below AppKit's frames, which an exception must not unwind through: one that
// escapes ends the process here, as an uncaught exception does on every platform. The launch is
// where allocation failure ends: an agent that could not set itself up (its tick timer, say)
// would stay silent, so it says so and ends with a failure instead. The tick catches its own.
void notifyLaunched(tessly::AppDelegate* delegate) noexcept {
    try {
        delegate->applicationDidFinishLaunching();
    } catch (const std::bad_alloc&) {
        constexpr std::string_view line = "Tessly Helper: out of memory while launching\n";
        (void)!::write(STDERR_FILENO, line.data(), line.size());
        std::exit(EXIT_FAILURE);
    }
}

void runTimerAction(const std::function<void()>& action) noexcept {
    action();
}

// The text as an NSString: UTF-8, or byte for byte as Latin-1 when it is not valid UTF-8, so no
// line is ever lost to its encoding.
NSString* makeString(std::string_view text) {
    NSString* string = [[NSString alloc] initWithBytes:text.data()
                                                length:text.size()
                                              encoding:NSUTF8StringEncoding];
    if (string != nil) return string;
    string = [[NSString alloc] initWithBytes:text.data()
                                      length:text.size()
                                    encoding:NSISOLatin1StringEncoding];
    return string != nil ? string : @"";
}

// The string as UTF-8; characters UTF-8 cannot carry are replaced. Empty for nil.
std::string utf8(NSString* string) {
    if (string == nil) return {};
    NSData* data = [string dataUsingEncoding:NSUTF8StringEncoding allowLossyConversion:YES];
    if (data == nil) return {};
    return std::string(static_cast<const char*>(data.bytes), data.length);
}

}  // namespace

// The application's delegate object: forwards the launch to the agent, which it does not own.
@interface TesslyApplicationDelegate : NSObject <NSApplicationDelegate>
- (instancetype)initWithDelegate:(tessly::AppDelegate*)delegate NS_DESIGNATED_INITIALIZER;
- (instancetype)init NS_UNAVAILABLE;
@end

@implementation TesslyApplicationDelegate {
    tessly::AppDelegate* _delegate;
}

- (instancetype)initWithDelegate:(tessly::AppDelegate*)delegate {
    self = [super init];
    if (self != nil) _delegate = delegate;
    return self;
}

- (void)applicationDidFinishLaunching:(NSNotification*)notification {
    static_cast<void>(notification);
    notifyLaunched(_delegate);
}

@end

namespace tessly {
namespace {

// A scheduled NSTimer. The main run loop keeps it too, so dropping this handle does not stop it;
// nothing invalidates it.
class CocoaTimer final : public RepeatingTimer {
  public:
    explicit CocoaTimer(NSTimer* timer) noexcept : timer_(timer) {}

  private:
    [[maybe_unused]] NSTimer* timer_;  // held for its ownership alone
};

class AppKitHost final : public AppHost {
  public:
    // The shared application comes first: it creates NSApp, which everything here talks to.
    // Made inside the entry point's autorelease pool (agent/darwin/main.mm).
    AppKitHost() : application_([NSApplication sharedApplication]) {}

    void setDelegate(AppDelegate* delegate) noexcept override {
        @autoreleasepool {
            // NSApplication holds its delegate weakly; the host keeps the forwarding object.
            delegate_ = delegate == nullptr
                            ? nil
                            : [[TesslyApplicationDelegate alloc] initWithDelegate:delegate];
            application_.delegate = delegate_;
        }
    }

    void setActivationPolicyAccessory() noexcept override {
        @autoreleasepool {
            [application_ setActivationPolicy:NSApplicationActivationPolicyAccessory];
        }
    }

    // NSApplication's run returns only after stop:, which nothing here sends.
    std::optional<std::string> run() override {
        [application_ run];
        return std::nullopt;
    }

    // An NSTimer on the main run loop in the common modes, so it fires in every standard mode.
    // It repeats on a fixed schedule from now, and a fire the busy loop missed is skipped, not
    // made up. The handle is allocated before the timer is scheduled: should that fail
    // (std::bad_alloc), no timer runs.
    std::shared_ptr<RepeatingTimer> scheduleRepeatingTimer(double interval,
                                                           std::function<void()> action) override {
        @autoreleasepool {
            NSTimer* timer = [NSTimer timerWithTimeInterval:interval
                                                    repeats:YES
                                                      block:^(NSTimer* fired) {
                                                        static_cast<void>(fired);
                                                        runTimerAction(action);
                                                      }];
            auto handle = std::make_shared<CocoaTimer>(timer);
            keepTimersPunctual();
            [[NSRunLoop mainRunLoop] addTimer:timer forMode:NSRunLoopCommonModes];
            return handle;
        }
    }

    // Ends the process (status 0) inside the call; there are no termination hooks to delay it.
    void terminate() noexcept override { [application_ terminate:nil]; }
    void terminateWithFailure() noexcept override { std::exit(EXIT_FAILURE); }

  private:
    // A windowless application that is not frontmost is what App Nap looks for, and a napping
    // application's timers fire rarely: far past the 6 s after which readers drop the published
    // sample as stale. A user-initiated activity exempts the process from App Nap while still
    // letting the Mac sleep when idle; it is held for the life of the process.
    void keepTimersPunctual() {
        if (activity_ != nil) return;
        activity_ = [[NSProcessInfo processInfo]
            beginActivityWithOptions:NSActivityUserInitiatedAllowingIdleSystemSleep
                              reason:@"Publishing sensor readings every second"];
    }

    NSApplication* application_;
    TesslyApplicationDelegate* delegate_ = nil;
    id<NSObject> activity_ = nil;
};

// The agent's own bundle as the user's login item (SMAppService.mainAppService).
class ServiceManagementLoginItems final : public LoginItems {
  public:
    LoginItemOutcome registerMainApp() override { return update(true); }
    LoginItemOutcome unregisterMainApp() override { return update(false); }

  private:
    static LoginItemOutcome update(bool registering) {
        @autoreleasepool {
            // Fetched anew on every call, never kept.
            SMAppService* service = SMAppService.mainAppService;
            NSError* error = nil;
            const BOOL done = registering ? [service registerAndReturnError:&error]
                                          : [service unregisterAndReturnError:&error];
            return darwin::loginItemResult(registering ? darwin::LoginItemRequest::registration
                                                       : darwin::LoginItemRequest::unregistration,
                                           done, done ? 0 : static_cast<long>(error.code),
                                           statusOf(service.status),
                                           done ? std::string() : utf8(error.description));
        }
    }

    static darwin::ServiceStatus statusOf(SMAppServiceStatus status) {
        switch (status) {
            case SMAppServiceStatusNotRegistered:
                return darwin::ServiceStatus::notRegistered;
            case SMAppServiceStatusEnabled:
                return darwin::ServiceStatus::enabled;
            case SMAppServiceStatusRequiresApproval:
                return darwin::ServiceStatus::requiresApproval;
            case SMAppServiceStatusNotFound:
                return darwin::ServiceStatus::notFound;
        }
        return darwin::ServiceStatus::notFound;
    }
};

// The main bundle's "CFBundleShortVersionString", when it is a string.
class BundleVersion final : public VersionSource {
  public:
    std::optional<std::string> versionText() override {
        @autoreleasepool {
            NSDictionary* info = NSBundle.mainBundle.infoDictionary;
            id version = info[@"CFBundleShortVersionString"];
            if (![version isKindOfClass:[NSString class]]) return std::nullopt;
            return utf8(version);
        }
    }
};

class UnifiedSystemLog final : public SystemLog {
  public:
    void writeLine(std::string_view line) override {
        @autoreleasepool {
            // The line is an argument, never the format.
            NSLog(@"%@", makeString(line));
        }
    }
};

}  // namespace

AppHost& AppHost::Default() {
    static AppKitHost host;
    return host;
}

LoginItems& LoginItems::Default() {
    static ServiceManagementLoginItems loginItems;
    return loginItems;
}

SystemLog& SystemLog::Default() {
    static UnifiedSystemLog log;
    return log;
}

VersionSource& VersionSource::Default() {
    static BundleVersion version;
    return version;
}

}  // namespace tessly
