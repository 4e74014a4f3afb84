// A broken snippet: an Objective-C dictionary handed to the AX API without a __bridge cast.
// expect-error: requires a bridged cast
#include <ApplicationServices/ApplicationServices.h>
#import <Foundation/Foundation.h>

void prompt() {
  NSDictionary* options = @{(__bridge NSString*)kAXTrustedCheckOptionPrompt : @YES};
  AXIsProcessTrustedWithOptions((CFDictionaryRef)options);
}
