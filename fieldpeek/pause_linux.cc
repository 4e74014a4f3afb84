// The pause between polls on Linux: nothing needs to run meanwhile, so the tool sleeps.
#include "fieldpeek/pause.h"

void pauseFor(std::chrono::milliseconds pause) {
  sleepFor(pause);
}
