// The pure part of a selection read: clamping the platform's range and cutting the three pieces.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ax/ax.h"
#include "ax/text_parts.h"

// The host shows a little context on each side of the selection and the selection itself; these
// bound the line whatever the size of the document.
inline constexpr int64_t MAX_SIDE = 600;
inline constexpr int64_t MAX_SELECTION = 20000;

// Start and end (one past the last unit) of the selection, in UTF-16 code units.
struct Bounds {
  int64_t start = 0;
  int64_t end = 0;
  bool operator==(const Bounds&) const = default;
};

// Clamps `range` into [0, n] so that 0 <= start <= end <= n. A location + length beyond the
// 64-bit range ends at n; one below it ends at start.
Bounds clampRange(TextRange range, int64_t n);

struct Pieces {
  std::string before;      // the last MAX_SIDE characters before the selection
  std::string selected;    // the first MAX_SELECTION characters of the selection
  std::string after;       // the first MAX_SIDE characters after it
  bool truncated = false;  // the before side lost characters; the other two are never reported
};

// Cuts `units` at the clamped `range`. The boundaries are used as the platform gives them: a split
// surrogate pair leaves a U+FFFD in each piece, a split cluster leaves its parts on both sides.
Pieces cutPieces(std::u16string_view units, TextRange range);

// The pieces cutPieces cuts from a text of `n` offsets, read through `read` around the selection
// only: the cost stays that of the pieces, whatever the length of the text. Nothing when a read
// fails.
std::optional<Pieces> readPieces(const RangeReader& read, int64_t n, TextRange range);
