// fieldpeek's whole run: the trust check, the polls until the deadline, and the closing line.
#include "fieldpeek/poll_loop.h"

#include <string>

#include "common/note.h"
#include "common/output.h"
#include "fieldpeek/poll_line.h"
#include "fieldpeek/read_candidates.h"

namespace {

using Clock = std::chrono::steady_clock;

// now + ms, held at the clock's end instead of overflowing for a run of billions of years.
Clock::time_point deadlineAfter(Clock::time_point now, int64_t ms) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::time_point::max() - now);
  if (ms >= left.count()) return Clock::time_point::max();
  return now + std::chrono::milliseconds(ms);
}

Reading safeReading(Accessibility& ax, RunState& state) {
  try {
    return readCandidates(ax, state);
  } catch (...) {
    // A platform layer that throws is treated like one that answers nothing.
    return Reading{std::string(ROLE_UNKNOWN), {}};
  }
}

}  // namespace

RunState runFieldpeek(const Settings& settings, PollEnvironment& env) {
  RunState state;
  if (!env.ax.isTrusted()) {
    note(NOT_TRUSTED_LINE, env.errFd);
    return state;
  }
  state.deadline = deadlineAfter(env.now(), settings.durationMs);

  while (env.now() < state.deadline) {
    env.ax.beginStep();
    ++state.polls;
    Reading reading = safeReading(env.ax, state);
    if (!reading.texts.empty()) ++state.withText;
    if (auto line = pollLine(reading)) {
      if (!writeRecord(*line, env.outFd)) break;
    }
    env.pause(std::chrono::milliseconds(settings.pollMs));
  }

  note(std::string(DONE_PREFIX) + std::to_string(state.polls) + std::string(DONE_WITH_TEXT) +
           std::to_string(state.withText),
       env.errFd);
  return state;
}
