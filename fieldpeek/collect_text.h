// The bounded depth-first walk that gathers the visible texts beneath one element.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ax/ax.h"

// Every gathered text, the combined text and a focused element's own value keep at most this many
// characters, so a poll line stays bounded whatever the application holds.
inline constexpr int64_t MAX_CHARS = 20000;
// One walk visits at most this many elements: a window of thousands of labels still answers
// within one poll.
inline constexpr int64_t MAX_NODES = 4000;
// The root is depth 0, so at most 41 levels are visited; this also bounds the recursion.
inline constexpr int64_t MAX_DEPTH = 40;
// Shorter texts (button captions, single letters) rarely help and are not gathered.
inline constexpr int64_t MIN_NODE_CHARS = 4;

// The roles whose elements give text.
inline constexpr std::array<std::string_view, 4> TEXT_ROLES = {"AXTextArea", "AXTextField",
                                                               "AXComboBox", "AXStaticText"};

bool isTextRole(std::string_view role);

// Visits `element` at `depth` and its subtree in pre-order, spending `count` (shared by the whole
// walk) and appending each gathered text, cut to MAX_CHARS characters, to `texts`. An element past
// the budget or the depth limit is neither counted nor read.
void collectText(Accessibility& ax, const Element& element, int64_t depth, int64_t& count,
                 std::vector<std::string>& texts);
