// NSWorkspace and NSRunningApplication answered by the in-memory Accessibility service.
#import <AppKit/AppKit.h>

#include "testing/mac/ax_service.h"

// The trust prompt's option, a dictionary key in Foundation's own dictionary.
extern "C" CFStringRef kAXTrustedCheckOptionPrompt =
    (__bridge CFStringRef) @"AXTrustedCheckOptionPrompt";

@implementation NSRunningApplication

- (instancetype)initWithFrontmost:(FakeFrontmost)frontmost {
  if ((self = [super init])) {
    pid_ = frontmost.pid;
    bundleId_ = static_cast<CFStringRef>(CFRetain(frontmost.bundleId));
  }
  return self;
}

- (void)dealloc {
  CFRelease(bundleId_);
  [super dealloc];
}

- (pid_t)processIdentifier {
  return pid_;
}

// The service's CFString, as macOS hands over the toll-free twin of an NSString.
- (NSString*)bundleIdentifier {
  return CFStringGetLength(bundleId_) > 0 ? (__bridge NSString*)bundleId_ : nil;
}
@end

@implementation NSWorkspace
+ (NSWorkspace*)sharedWorkspace {
  static NSWorkspace* shared = [[NSWorkspace alloc] init];
  return shared;
}

- (NSRunningApplication*)frontmostApplication {
  const std::optional<FakeFrontmost> frontmost = fakeAXFrontmost();
  if (!frontmost) return nil;
  return [[[NSRunningApplication alloc] initWithFrontmost:*frontmost] autorelease];
}
@end
