// NSWorkspace and NSRunningApplication answered by the in-memory Accessibility service.
#import <AppKit/AppKit.h>

#include "testing/mac/ax_service.h"

// The Objective-C runtime and GNUstep keep class tables from their start-up until the process
// ends; the amount stays the same however often the tests repeat, so none of the glue's is hidden.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libobjc.so\nleak:libgnustep-base.so\n";
}

// The trust prompt's option, a dictionary key in Foundation's own dictionary.
extern "C" CFStringRef kAXTrustedCheckOptionPrompt =
    (__bridge CFStringRef) @"AXTrustedCheckOptionPrompt";

@implementation NSRunningApplication

- (instancetype)initWithFrontmost:(const FakeFrontmost&)frontmost {
  if ((self = [super init])) {
    pid_ = frontmost.pid;
    bundleId_ = fakeCFText(frontmost.bundleId);
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

// A CFString of the in-memory service, as macOS hands over the toll-free twin of an NSString.
- (NSString*)bundleIdentifier {
  return (__bridge NSString*)bundleId_;
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
