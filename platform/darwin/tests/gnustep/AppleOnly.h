#pragma once
// Test-only, included before each file checked: the Apple APIs the agent calls that GNUstep lacks,
// declared as Apple documents them, and nothing more.
#import <AppKit/AppKit.h>
#import <Foundation/Foundation.h>

// GNUstep defines it empty; Apple's marks the declaration unavailable.
#undef NS_UNAVAILABLE
#define NS_UNAVAILABLE __attribute__((unavailable))

NS_ASSUME_NONNULL_BEGIN

@interface NSApplication (AppleOnly)
- (BOOL)setActivationPolicy:(NSApplicationActivationPolicy)activationPolicy;
@end

@interface NSFileManager (AppleOnly)
- (nullable NSURL*)containerURLForSecurityApplicationGroupIdentifier:(NSString*)groupIdentifier;
@property(readonly, copy) NSURL* homeDirectoryForCurrentUser;
@end

@interface NSURL (AppleOnly)
- (BOOL)getFileSystemRepresentation:(char*)buffer maxLength:(NSUInteger)maxBufferLength;
@end

NS_ASSUME_NONNULL_END
