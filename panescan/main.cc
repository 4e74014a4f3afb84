// panescan: prints the texts of the focused window and a summary of the walk on standard error.
#include <unistd.h>

#include "ax/platform.h"
#include "common/note.h"
#include "common/output.h"
#include "panescan/scan.h"

int main() try {
  guardStandardStreams();
  ignoreBrokenPipe();
  auto ax = makePlatformAccessibility();
  if (ax)
    scanFocusedWindow(*ax, STDOUT_FILENO, STDERR_FILENO);
  else
    note(NOT_TRUSTED_MESSAGE);
  return 0;
} catch (...) {
  // Out of memory or a library fault: the status still never carries the outcome.
  return 0;
}
