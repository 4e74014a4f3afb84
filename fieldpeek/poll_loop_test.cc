// Whole runs against the in-memory tree and a fake clock: trust, the deadline, the closing line.
#include "fieldpeek/poll_loop.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "fieldpeek/poll_line.h"
#include "testing/capture.h"
#include "testing/fake_ax.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A run whose clock only the pauses move, from `start`; from the clock's last hour the third pause
// moves it to its end.
TEST(PollLoop, PollsUntilTheDeadlineOnlyWhenTrusted) {
  struct Row {
    std::vector<std::string_view> args;
    bool trusted;
    Clock::time_point start;
    int64_t polls;
  } rows[] = {
      {{}, true, Clock::time_point(1h), 50},
      {{"250", "100"}, true, Clock::time_point(1h), 1},
      {{"300", "1000"}, true, Clock::time_point(1h), 4},
      // A duration past the clock's end holds the deadline there instead of wrapping around.
      {{"120", "9223372036854775807"}, true, Clock::time_point::max() - 1h, 3},
      {{}, false, Clock::time_point(1h), 0},
  };
  for (const auto& row : rows) {
    FakeAccessibility ax;
    ax.trusted = row.trusted;
    CapturedFd out, err;
    Clock::time_point now = row.start;
    int pauses = 0;
    PollEnvironment env{ax, [&] { return now; },
                        [&](std::chrono::milliseconds ms) {
                          const bool last = ++pauses == 3 && row.start > Clock::time_point(1h);
                          now = last ? Clock::time_point::max() : now + ms;
                        },
                        out.fd(), err.fd()};
    const Settings settings = settingsFromArgs(row.args);
    RunState state = runFieldpeek(settings, env);
    EXPECT_EQ(state.polls, row.polls) << settings.durationMs;
    EXPECT_EQ(ax.steps, row.polls) << settings.durationMs;
    EXPECT_EQ(pauses, row.polls) << settings.durationMs;
    const std::string lines = out.contents();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), row.polls) << settings.durationMs;
    EXPECT_EQ(err.contents(),
              row.trusted ? "fieldpeek: done polls=" + std::to_string(row.polls) + " withText=0\n"
                          : "fieldpeek: not trusted for Accessibility \xE2\x80\x94 nothing to do\n")
        << settings.durationMs;
    EXPECT_EQ(ax.frontmostQueries, row.polls) << "not trusted: nothing asked";
  }
  // A line that cannot be serialised is dropped, never thrown across the loop.
  EXPECT_EQ(pollLine(Reading{"AXTextArea", {"bad \xFF byte"}}), std::nullopt);
}

}  // namespace
