// A broken snippet: a __bridge cast between types that are not toll-free bridged.
// expect-error: 'NSArray' cannot bridge to 'CFStringRef'
#import <Foundation/Foundation.h>

CFStringRef nameOf(NSArray* names) {
  return (__bridge CFStringRef)names;
}
