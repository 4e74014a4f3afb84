// The pure part of a selection read: clamping the platform's range and cutting the three pieces.
#include "selprobe/selection.h"

#include <algorithm>
#include <limits>

#include "common/text.h"

Bounds clampRange(TextRange range, int64_t n) {
  Bounds b;
  b.start = std::max<int64_t>(0, std::min(range.location, n));
  int64_t sum = 0;
  int64_t stop = 0;
  if (__builtin_add_overflow(range.location, range.length, &sum)) {
    // Only a positive length can overflow upwards, a negative one downwards.
    stop = range.length > 0 ? n : std::numeric_limits<int64_t>::min();
  } else {
    stop = std::min(sum, n);
  }
  b.end = std::max(b.start, stop);
  return b;
}

Pieces cutPieces(std::u16string_view units, TextRange range) {
  const auto n = static_cast<int64_t>(units.size());
  const Bounds b = clampRange(range, n);
  const auto start = static_cast<size_t>(b.start);
  const auto end = static_cast<size_t>(b.end);

  Pieces p;
  const std::string beforeAll = utf8FromUtf16(units.substr(0, start));
  p.before = std::string(lastChars(beforeAll, MAX_SIDE));
  // lastChars returns a suffix, so fewer characters means fewer bytes.
  p.truncated = p.before.size() < beforeAll.size();
  p.selected =
      std::string(firstChars(utf8FromUtf16(units.substr(start, end - start)), MAX_SELECTION));
  p.after = std::string(firstChars(utf8FromUtf16(units.substr(end)), MAX_SIDE));
  return p;
}

std::optional<Pieces> readPieces(const RangeReader& read, int64_t n, TextRange range) {
  const Bounds b = clampRange(range, n);
  auto before = readLastChars(read, b.start, MAX_SIDE);
  if (!before) return std::nullopt;
  auto selected = readFirstChars(read, b.start, b.end, MAX_SELECTION);
  if (!selected) return std::nullopt;
  auto after = readFirstChars(read, b.end, n, MAX_SIDE);
  if (!after) return std::nullopt;
  return Pieces{std::move(before->text), std::move(*selected), std::move(*after), before->cut};
}
