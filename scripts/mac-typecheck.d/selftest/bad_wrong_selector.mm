// A broken snippet: a misspelt AppKit selector (Event for Events) that macOS would not know.
// expect-error: no known class method for selector 'addGlobalMonitorForEventMatchingMask:handler:'
#import <AppKit/AppKit.h>

id install() {
  return [NSEvent addGlobalMonitorForEventMatchingMask:NSEventMaskKeyDown
                                               handler:^(NSEvent* event) {
                                                 (void)event;
                                               }];
}
