// The keyboard platform on macOS: AppKit global monitors, an NSTimer, a SIGTERM dispatch source.
#include "keyherald/keyboard_platform.h"

#import <AppKit/AppKit.h>
#include <ApplicationServices/ApplicationServices.h>
#import <Foundation/Foundation.h>
#include <dispatch/dispatch.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>

namespace {

NSEventMask maskFor(EventKind kind) {
  switch (kind) {
    case EventKind::FlagsChanged:
      return NSEventMaskFlagsChanged;
    case EventKind::KeyDown:
      return NSEventMaskKeyDown;
    case EventKind::KeyUp:
      return NSEventMaskKeyUp;
  }
  return NSEventMaskFlagsChanged;
}

// Everything here runs on the main thread: AppKit calls the monitors' blocks, the timer and the
// main dispatch queue from the application's run loop.
class MacKeyboard final : public Keyboard {
 public:
  bool isTrusted() override { return AXIsProcessTrusted() != 0; }

  void requestTrust() override {
    @autoreleasepool {
      NSDictionary* options = @{(__bridge NSString*)kAXTrustedCheckOptionPrompt : @YES};
      AXIsProcessTrustedWithOptions((__bridge CFDictionaryRef)options);
    }
  }

  std::optional<MonitorId> addGlobalMonitor(EventKind kind, KeyHandler handler) override {
    // Monitors deliver through the shared application's event loop; make sure it exists.
    [NSApplication sharedApplication];
    id monitor = [NSEvent addGlobalMonitorForEventsMatchingMask:maskFor(kind)
                                                        handler:^(NSEvent* event) {
                                                          handler(keyEventOf(event, kind));
                                                        }];
    if (monitor == nil) return std::nullopt;
    const MonitorId monitorId = nextMonitorId_++;
    monitors_[monitorId] = monitor;
    return monitorId;
  }

  void removeMonitor(MonitorId monitorId) override {
    const auto found = monitors_.find(monitorId);
    if (found == monitors_.end()) return;
    [NSEvent removeMonitor:found->second];
    monitors_.erase(found);
  }

  void addRepeatingTimer(std::chrono::milliseconds interval, std::function<void()> tick) override {
    const NSTimeInterval seconds = std::chrono::duration<double>(interval).count();
    NSTimer* timer = [NSTimer scheduledTimerWithTimeInterval:seconds
                                                     repeats:YES
                                                       block:^(NSTimer* fired) {
                                                         (void)fired;
                                                         tick();
                                                       }];
    // Scheduling covers the default mode only; common modes keep it firing while AppKit tracks.
    [[NSRunLoop mainRunLoop] addTimer:timer forMode:NSRunLoopCommonModes];
  }

  void onTerminate(std::function<void()> handler) override {
    dispatch_source_t source =
        dispatch_source_create(DISPATCH_SOURCE_TYPE_SIGNAL, SIGTERM, 0, dispatch_get_main_queue());
    // Without a source the default action must stay, or SIGTERM could no longer end the process.
    if (source == nil) return;
    signal(SIGTERM, SIG_IGN);
    dispatch_source_set_event_handler(source, ^{
      handler();
    });
    dispatch_resume(source);
    terminationSource_ = source;
  }

  void run() override {
    NSApplication* app = [NSApplication sharedApplication];
    [app setActivationPolicy:NSApplicationActivationPolicyAccessory];
    // A windowless accessory process may be napped: its retry timer would stretch and key lines
    // come late. The activity keeps it awake for the run but lets the idle system sleep.
    activity_ = [[NSProcessInfo processInfo]
        beginActivityWithOptions:NSActivityUserInitiatedAllowingIdleSystemSleep |
                                 NSActivityLatencyCritical
                          reason:@"Reports trigger keys to the dictation host as they happen"];
    [app run];
  }

  void exitProcess(int status) override { exit(status); }

 private:
  static KeyEvent keyEventOf(NSEvent* event, EventKind kind) {
    KeyEvent key;
    key.keyCode = event.keyCode;
    key.modifierFlags = static_cast<uint64_t>(event.modifierFlags);
    // AppKit raises an exception when isARepeat is asked of anything but a key event.
    key.isARepeat = kind == EventKind::KeyDown && event.isARepeat;
    return key;
  }

  std::map<MonitorId, id> monitors_;
  MonitorId nextMonitorId_ = 1;
  dispatch_source_t terminationSource_ = nil;  // kept so ARC never releases the live source
  id<NSObject> activity_ = nil;                // held, never ended: the run ends with the process
};

}  // namespace

std::unique_ptr<Keyboard> makePlatformKeyboard() {
  return std::make_unique<MacKeyboard>();
}
