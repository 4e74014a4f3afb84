// fieldpeek's whole run: the trust check, the polls until the deadline, and the closing line.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string_view>

#include "ax/ax.h"
#include "fieldpeek/run_state.h"
#include "fieldpeek/settings.h"

inline constexpr std::string_view NOT_TRUSTED_LINE =
    "fieldpeek: not trusted for Accessibility \xE2\x80\x94 nothing to do";
inline constexpr std::string_view DONE_PREFIX = "fieldpeek: done polls=";
inline constexpr std::string_view DONE_WITH_TEXT = " withText=";

// What a run needs from the outside world; tests pass a fake tree, a fake clock and a pause that
// only moves that clock.
struct PollEnvironment {
  Accessibility& ax;
  std::function<std::chrono::steady_clock::time_point()> now;
  std::function<void(std::chrono::milliseconds)> pause;
  int outFd;
  int errFd;
};

// Not trusted: the not-trusted line and nothing else. Trusted: one poll line per poll, each written
// as its poll ends, a pause of pollMs after each, until the deadline; then the done line. When
// standard output is gone (a write fails) further polls could reach no one, so the run ends early
// with the done line, which counts the poll whose line was lost.
RunState runFieldpeek(const Settings& settings, PollEnvironment& env);
