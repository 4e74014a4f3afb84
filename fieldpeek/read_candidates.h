// One poll's reading: the focused element's role and the texts around the keyboard focus.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ax/ax.h"
#include "fieldpeek/run_state.h"

inline constexpr std::string_view ROLE_NO_FRONTMOST = "no-frontmost";
inline constexpr std::string_view ROLE_SELF = "self";
inline constexpr std::string_view ROLE_UNKNOWN = "?";

struct Reading {
  std::string role;
  std::vector<std::string> texts;
};

// Asks the application `pid` once per run to expose its accessibility tree; the pid is remembered
// before the write, so a write that fails is not repeated.
void enableAXTree(Accessibility& ax, RunState& state, int32_t pid, const Element& application);

// The focused element's own text value; else the texts beneath it; else those of the focused
// window (or, with no focused window, the first window). The role always speaks of the focused
// element, even when the texts come from its window.
Reading readCandidates(Accessibility& ax, RunState& state);
