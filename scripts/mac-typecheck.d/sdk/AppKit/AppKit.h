// AppKit as macOS offers it: GNUstep's AppKit plus the declarations GNUstep lacks.
#pragma once

#include_next <AppKit/AppKit.h>

// GNUstep already declares the NSEventMask and NSEventModifierFlags types, only under old names.
enum : NSEventMask {
  NSEventMaskKeyDown = 1ULL << 10,
  NSEventMaskKeyUp = 1ULL << 11,
  NSEventMaskFlagsChanged = 1ULL << 12,
};

enum : NSEventModifierFlags {
  NSEventModifierFlagCapsLock = 1 << 16,
  NSEventModifierFlagShift = 1 << 17,
  NSEventModifierFlagControl = 1 << 18,
  NSEventModifierFlagOption = 1 << 19,
  NSEventModifierFlagCommand = 1 << 20,
  NSEventModifierFlagNumericPad = 1 << 21,
  NSEventModifierFlagHelp = 1 << 22,
  NSEventModifierFlagFunction = 1 << 23,
  NSEventModifierFlagDeviceIndependentFlagsMask = 0xffff0000UL,
};

@interface NSEvent (MacMonitors)
+ (id)addGlobalMonitorForEventsMatchingMask:(NSEventMask)mask
                                    handler:(void (^)(NSEvent* event))block;
+ (id)addLocalMonitorForEventsMatchingMask:(NSEventMask)mask
                                   handler:(NSEvent* (^)(NSEvent* event))block;
+ (void)removeMonitor:(id)eventMonitor;
@end

@interface NSApplication (MacActivationPolicy)
- (NSApplicationActivationPolicy)activationPolicy;
- (BOOL)setActivationPolicy:(NSApplicationActivationPolicy)activationPolicy;
@end
