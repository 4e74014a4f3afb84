// A good snippet: every platform call of the glue, written as on macOS, must pass the check.
// expect: pass
#import <AppKit/AppKit.h>
#include <ApplicationServices/ApplicationServices.h>
#import <Foundation/Foundation.h>
#include <dispatch/dispatch.h>

#include <csignal>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "ax/platform.h"
#include "keyherald/keyboard_platform.h"

bool trustedAfterPrompt() {
  NSDictionary* options = @{(__bridge NSString*)kAXTrustedCheckOptionPrompt : @YES};
  AXIsProcessTrustedWithOptions((__bridge CFDictionaryRef)options);
  return AXIsProcessTrusted() != 0;
}

std::u16string focusedText(pid_t pid) {
  AXUIElementRef app = AXUIElementCreateApplication(pid);
  CFStringRef name = (__bridge_retained CFStringRef) @"AXValue";
  CFTypeRef value = nullptr;
  std::u16string text;
  if (AXUIElementCopyAttributeValue(app, name, &value) == kAXErrorSuccess && value != nullptr) {
    if (CFGetTypeID(value) == CFStringGetTypeID()) {
      const auto string = static_cast<CFStringRef>(value);
      text.resize(static_cast<size_t>(CFStringGetLength(string)));
      CFStringGetCharacters(string, CFRangeMake(0, CFStringGetLength(string)),
                            reinterpret_cast<UniChar*>(text.data()));
    } else if (CFGetTypeID(value) == AXValueGetTypeID()) {
      CFRange range = CFRangeMake(0, 0);
      AXValueGetValue(static_cast<AXValueRef>(value), kAXValueTypeCFRange, &range);
    }
  }
  if (value != nullptr) CFRelease(value);
  AXUIElementSetAttributeValue(app, name, kCFBooleanTrue);
  CFRelease(name);
  CFRelease(app);
  return text;
}

int32_t frontmostPid() {
  NSRunningApplication* app = [[NSWorkspace sharedWorkspace] frontmostApplication];
  NSString* bundle = CFBridgingRelease(CFBridgingRetain(app.bundleIdentifier));
  return bundle != nil ? app.processIdentifier : 0;
}

void runKeyboard(std::function<void(uint16_t, uint64_t, bool)> onKey,
                 std::function<void()> onTerm) {
  std::map<int, id> monitors;
  monitors[1] = [NSEvent
      addGlobalMonitorForEventsMatchingMask:NSEventMaskKeyDown
                                    handler:^(NSEvent* event) {
                                      onKey(event.keyCode, event.modifierFlags, event.isARepeat);
                                    }];
  NSTimer* timer = [NSTimer scheduledTimerWithTimeInterval:1.0
                                                   repeats:YES
                                                     block:^(NSTimer* fired) {
                                                       [fired fire];
                                                     }];
  [[NSRunLoop mainRunLoop] addTimer:timer forMode:NSRunLoopCommonModes];
  dispatch_source_t source =
      dispatch_source_create(DISPATCH_SOURCE_TYPE_SIGNAL, SIGTERM, 0, dispatch_get_main_queue());
  signal(SIGTERM, SIG_IGN);
  dispatch_source_set_event_handler(source, ^{
    [NSEvent removeMonitor:monitors.at(1)];
    onTerm();
  });
  dispatch_resume(source);
  NSApplication* app = [NSApplication sharedApplication];
  [app setActivationPolicy:NSApplicationActivationPolicyAccessory];
  [app run];
}
