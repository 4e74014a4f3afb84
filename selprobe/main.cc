// selprobe: prints one JSON line describing the selection of the focused text element.
#include <unistd.h>

#include "ax/platform.h"
#include "common/output.h"
#include "selprobe/probe.h"
#include "selprobe/result.h"

int main() try {
  guardStandardStreams();
  ignoreBrokenPipe();
  auto ax = makePlatformAccessibility();
  emit(ax ? probeSelection(*ax) : fail(REASON_NOT_TRUSTED), STDOUT_FILENO);
  return 0;
} catch (...) {
  // Out of memory or a library fault: the status still never carries the outcome.
  return 0;
}
