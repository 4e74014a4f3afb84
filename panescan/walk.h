// The budgeted depth-first walk of a window's element tree that collects its visible texts.
#pragma once

#include <cstdint>
#include <string>

#include "ax/ax.h"

// Budgets keep one run short on a huge window: each visited element costs two or three reads, each
// a request answered by the target application.
inline constexpr int64_t MAX_CHARS = 16000;
inline constexpr int64_t MAX_NODES = 4000;
inline constexpr int64_t MAX_DEPTH = 45;  // the window is level 0; level 45 is still visited
// Shorter values are mostly button captions and field labels, noise for the host.
inline constexpr int64_t MIN_VALUE_CHARS = 25;

struct WalkState {
  std::string collected;       // each collected value followed by two line feeds
  int64_t collectedChars = 0;  // grapheme count of `collected`, kept as it grows
  int64_t visited = 0;         // elements entered and counted
  int64_t textAreas = 0;       // values collected, whatever their text role
};

// Pre-order walk below `element` at `depth`. The budgets are tested on entry, before any read, so
// a refused element is neither counted nor read; the last value appended may pass MAX_CHARS.
void walk(Accessibility& ax, WalkState& state, const Element& element, int64_t depth);
