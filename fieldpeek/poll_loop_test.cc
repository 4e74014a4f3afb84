// Whole runs against the in-memory tree and a fake clock: lines, counters, deadline, trust.
#include "fieldpeek/poll_loop.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "fieldpeek/poll_line.h"
#include "testing/capture.h"
#include "testing/fake_ax.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Counts the poll starts the platform is told about.
class CountingAccessibility : public FakeAccessibility {
 public:
  int steps = 0;
  void beginStep() override { ++steps; }
};

// A fake clock that only the pause (and a test's own hook) moves.
struct Harness {
  CountingAccessibility ax;
  CapturedFd out;
  CapturedFd err;
  Clock::time_point now{1h};
  std::vector<std::chrono::milliseconds> pauses;

  RunState run(Settings settings, int outFd = -1) {
    PollEnvironment env{ax, [this] { return now; },
                        [this](std::chrono::milliseconds ms) {
                          pauses.push_back(ms);
                          now += ms;
                        },
                        outFd < 0 ? out.fd() : outFd, err.fd()};
    return runFieldpeek(settings, env);
  }

  std::vector<nlohmann::json> lines() const {
    std::vector<nlohmann::json> parsed;
    std::istringstream stream(out.contents());
    for (std::string line; std::getline(stream, line);)
      parsed.push_back(nlohmann::json::parse(line));
    return parsed;
  }
};

FakeNodePtr appFocusing(const FakeNodePtr& element) {
  auto app = fakeNode("AXApplication");
  app->set("AXFocusedUIElement", AttrValue{Element(element)});
  return app;
}

TEST(PollLoop, NotTrustedWritesOnlyItsLine) {
  Harness h;
  h.ax.trusted = false;
  RunState state = h.run(Settings{});
  EXPECT_EQ(h.out.contents(), "");
  EXPECT_EQ(h.err.contents(),
            "fieldpeek: not trusted for Accessibility \xE2\x80\x94 nothing to do\n");
  EXPECT_EQ(h.ax.frontmostQueries, 0);
  EXPECT_EQ(h.ax.trustRequests, 0);
  EXPECT_EQ(state.polls, 0);
}

TEST(PollLoop, PollCountIsBoundedByTheDeadline) {
  struct Row {
    std::vector<std::string_view> args;
    int64_t polls;
  } rows[] = {
      {{}, 50},
      {{"250", "100"}, 1},
      {{"300", "1000"}, 4},
  };
  for (const auto& row : rows) {
    Harness h;
    Settings settings = settingsFromArgs(row.args);
    RunState state = h.run(settings);
    EXPECT_EQ(state.polls, row.polls) << settings.pollMs << "/" << settings.durationMs;
    EXPECT_EQ(h.lines().size(), static_cast<size_t>(row.polls));
    EXPECT_EQ(h.ax.steps, row.polls);
    EXPECT_EQ(h.pauses, std::vector<std::chrono::milliseconds>(
                            row.polls, std::chrono::milliseconds(settings.pollMs)));
  }
}

TEST(PollLoop, SlowPollStillMakesTheFirstPollAndEnds) {
  Harness h;
  auto field = fakeNode("AXTextField", u"typed");
  h.ax.setFrontmost(5, appFocusing(field), "org.example.editor");
  // Each read takes ten seconds of the fake clock: the first poll alone passes the deadline.
  h.ax.beforeRead = [&](const FakeNode&, std::string_view) { h.now += 10s; };
  RunState state = h.run(Settings{120, 120});
  EXPECT_EQ(state.polls, 1);
  EXPECT_EQ(h.err.contents(), "fieldpeek: done polls=1 withText=1\n");
}

TEST(PollLoop, HugeDurationDoesNotOverflowTheDeadline) {
  Harness h;
  h.now = Clock::time_point::max() - 1000h;
  int polls = 0;
  // Stop after a few polls by moving the clock to its end.
  PollEnvironment env{h.ax, [&] { return h.now; },
                      [&](std::chrono::milliseconds) {
                        if (++polls == 3) h.now = Clock::time_point::max();
                      },
                      h.out.fd(), h.err.fd()};
  RunState state = runFieldpeek(Settings{120, INT64_MAX}, env);
  EXPECT_EQ(state.polls, 3);
  EXPECT_EQ(state.deadline, Clock::time_point::max());
}

TEST(PollLoop, CountersAgreeWithTheLines) {
  Harness h;
  // The lone surrogate at the end goes out as U+FFFD in raw UTF-8, never as an escape.
  auto withText = appFocusing(fakeNode("AXTextArea", u"line one\nline two\xDC00"));
  auto withoutText = appFocusing(fakeNode("AXButton"));
  int reading = 0;
  // The frontmost application changes before each poll: text, none, no frontmost, text, ...
  h.ax.applications = {{1, withText}, {2, withoutText}};
  PollEnvironment env{h.ax, [&] { return h.now; },
                      [&](std::chrono::milliseconds ms) {
                        h.now += ms;
                        ++reading;
                        if (reading % 3 == 0) h.ax.frontmost = FrontmostApplication{{}, 1};
                        if (reading % 3 == 1) h.ax.frontmost = FrontmostApplication{{}, 2};
                        if (reading % 3 == 2) h.ax.frontmost.reset();
                      },
                      h.out.fd(), h.err.fd()};
  h.ax.frontmost = FrontmostApplication{{}, 1};
  RunState state = runFieldpeek(Settings{200, 1000}, env);

  auto lines = h.lines();
  ASSERT_EQ(lines.size(), 5u);
  int nonEmpty = 0;
  for (const auto& line : lines) {
    ASSERT_EQ(line.size(), 2u);
    ASSERT_TRUE(line["role"].is_string());
    ASSERT_TRUE(line["texts"].is_array());
    nonEmpty += line["texts"].empty() ? 0 : 1;
  }
  EXPECT_EQ(lines[0]["role"], "AXTextArea");
  EXPECT_EQ(lines[0]["texts"], nlohmann::json({"line one\nline two\xEF\xBF\xBD"}));
  EXPECT_EQ(lines[1]["role"], "AXButton");
  EXPECT_EQ(lines[2]["role"], "no-frontmost");
  EXPECT_EQ(state.withText, nonEmpty);
  EXPECT_EQ(h.err.contents(), "fieldpeek: done polls=5 withText=2\n");
  // One object per line: the line feed inside the text is escaped.
  EXPECT_NE(h.out.contents().find("line one\\nline two\xEF\xBF\xBD\""), std::string::npos);
}

TEST(PollLine, SerialisationFailureIsAValueNotAnException) {
  // Invalid UTF-8 cannot come from the platform (texts pass through utf8FromUtf16), but a line
  // that cannot be written must be dropped, never thrown across the loop.
  EXPECT_EQ(pollLine(Reading{"AXTextArea", {"bad \xFF byte"}}), std::nullopt);
  EXPECT_EQ(pollLine(Reading{"?", {}}), "{\"role\":\"?\",\"texts\":[]}\n");
}

}  // namespace
