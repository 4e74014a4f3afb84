// Sleeping through a pause, for every platform.
#include "fieldpeek/pause.h"

#include <time.h>

#include <cerrno>

void sleepFor(std::chrono::milliseconds pause) {
  timespec left{static_cast<time_t>(pause.count() / 1000),
                static_cast<long>(pause.count() % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}
