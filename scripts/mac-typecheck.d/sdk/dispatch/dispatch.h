// The libdispatch declarations the macOS glue uses, as Apple's headers present them to ARC code.
#pragma once

#include <stdint.h>

// Under ARC, Apple's dispatch objects are Objective-C objects that ARC retains and releases, so
// the glue must hold them in strong variables and never call dispatch_release.
#import <Foundation/NSObject.h>

@protocol OS_dispatch_object <NSObject>
@end
@protocol OS_dispatch_queue <OS_dispatch_object>
@end
@protocol OS_dispatch_queue_serial <OS_dispatch_queue>
@end
@protocol OS_dispatch_queue_main <OS_dispatch_queue_serial>
@end
@protocol OS_dispatch_source <OS_dispatch_object>
@end
typedef NSObject<OS_dispatch_object>* dispatch_object_t;
typedef NSObject<OS_dispatch_queue>* dispatch_queue_t;
typedef NSObject<OS_dispatch_queue_serial>* dispatch_queue_serial_t;
typedef NSObject<OS_dispatch_queue_main>* dispatch_queue_main_t;
typedef NSObject<OS_dispatch_source>* dispatch_source_t;

#ifdef __cplusplus
extern "C" {
#endif

typedef void (^dispatch_block_t)(void);
typedef const struct dispatch_source_type_s* dispatch_source_type_t;

extern const struct dispatch_source_type_s _dispatch_source_type_signal;
#define DISPATCH_SOURCE_TYPE_SIGNAL (&_dispatch_source_type_signal)

// Apple defines it inline over a global object; a declaration has the same type.
dispatch_queue_main_t dispatch_get_main_queue(void);

__attribute__((ns_returns_retained)) dispatch_source_t dispatch_source_create(
    dispatch_source_type_t type, uintptr_t handle, uintptr_t mask, dispatch_queue_t queue);
void dispatch_source_set_event_handler(dispatch_source_t source, dispatch_block_t handler);
void dispatch_source_cancel(dispatch_source_t source);
void dispatch_resume(dispatch_object_t object);
void dispatch_suspend(dispatch_object_t object);
void dispatch_async(dispatch_queue_t queue, dispatch_block_t block);

#ifdef __cplusplus
}
#endif
