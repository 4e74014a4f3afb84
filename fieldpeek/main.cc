// fieldpeek: wires the real accessibility service, the monotonic clock and the platform's pause to
// the polling logic. Usage: fieldpeek [POLL_MS [DURATION_MS]]; always exits 0.
#include <unistd.h>

#include <chrono>
#include <string_view>
#include <vector>

#include "ax/platform.h"
#include "common/output.h"
#include "fieldpeek/pause.h"
#include "fieldpeek/poll_loop.h"
#include "fieldpeek/settings.h"

int main(int argc, char** argv) {
  std::vector<std::string_view> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  Settings settings = settingsFromArgs(arguments);
  guardStandardStreams();
  // A host that closes its end early gets EPIPE, which ends the run with the done line.
  ignoreBrokenPipe();
  auto ax = makePlatformAccessibility();
  PollEnvironment env{*ax, [] { return std::chrono::steady_clock::now(); }, pauseFor, STDOUT_FILENO,
                      STDERR_FILENO};
  runFieldpeek(settings, env);
  return 0;
}
