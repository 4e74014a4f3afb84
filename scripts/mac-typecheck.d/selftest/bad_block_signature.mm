// A broken snippet: a monitor block that takes a key code where AppKit passes the NSEvent.
// expect-error: with an rvalue of type 'void (^)(unsigned short)'
#import <AppKit/AppKit.h>

id install() {
  return [NSEvent addGlobalMonitorForEventsMatchingMask:NSEventMaskKeyDown
                                                handler:^(unsigned short keyCode) {
                                                  (void)keyCode;
                                                }];
}
