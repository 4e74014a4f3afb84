// The pause between polls on macOS: the main run loop runs until the pause is over.
#include "fieldpeek/pause.h"

#include <CoreFoundation/CoreFoundation.h>

void pauseFor(std::chrono::milliseconds pause) {
  // NSWorkspace changes its frontmost application only while the main run loop runs; this is the
  // main thread, so running the current loop runs the main one.
  const CFTimeInterval seconds = std::chrono::duration<double>(pause).count();
  // With no source to wait on, the loop returns at once: the pause is then slept instead.
  if (CFRunLoopRunInMode(kCFRunLoopDefaultMode, seconds, false) == kCFRunLoopRunFinished) {
    sleepFor(pause);
  }
}
