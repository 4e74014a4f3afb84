// The part of AppKit the accessibility glue uses, as the in-memory service implements it.
#pragma once

#import <Foundation/Foundation.h>

// GCC's runtime takes instance variables only in the interface.
@interface NSRunningApplication : NSObject {
  pid_t pid_;
  CFStringRef bundleId_;
}
@property(readonly) pid_t processIdentifier;
@property(readonly, copy) NSString* bundleIdentifier;
@end

@interface NSWorkspace : NSObject
+ (NSWorkspace*)sharedWorkspace;
@property(readonly, strong) NSRunningApplication* frontmostApplication;
@end
