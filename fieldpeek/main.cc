// fieldpeek: wires the real accessibility service, the monotonic clock and a sleeping pause to the
// polling logic. Usage: fieldpeek [POLL_MS [DURATION_MS]]; always exits 0.
#include <time.h>

#include <cerrno>
#include <chrono>
#include <string_view>
#include <vector>

#include "common/ax_platform.h"
#include "common/output.h"
#include "fieldpeek/poll_loop.h"
#include "fieldpeek/settings.h"

namespace {

// Sleeps the whole pause even when a signal interrupts it.
void sleepFor(std::chrono::milliseconds pause) {
  timespec left{static_cast<time_t>(pause.count() / 1000),
                static_cast<long>(pause.count() % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string_view> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  Settings settings = settingsFromArgs(arguments);
  guardStandardStreams();
  // A host that closes its end early gets EPIPE, which ends the run with the done line.
  ignoreBrokenPipe();
  auto ax = makePlatformAccessibility();
  PollEnvironment env{*ax, [] { return std::chrono::steady_clock::now(); }, sleepFor, STDOUT_FILENO,
                      STDERR_FILENO};
  runFieldpeek(settings, env);
  return 0;
}
