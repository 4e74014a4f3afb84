// Foundation as macOS offers it: GNUstep's Foundation plus the declarations GNUstep lacks.
#pragma once

// GNUstep's Foundation.h ends by including <CoreFoundation/CoreFoundation.h> and
// <dispatch/dispatch.h> when they exist, as Apple's does: the declaration headers beside this one.
#include_next <Foundation/Foundation.h>

// Apple defines both inline in NSObject.h; GNUstep has neither.
static inline CF_RETURNS_RETAINED CFTypeRef CFBridgingRetain(id X) {
  return (__bridge_retained CFTypeRef)X;
}
static inline id CFBridgingRelease(CFTypeRef CF_CONSUMED X) {
  return (__bridge_transfer id)X;
}
