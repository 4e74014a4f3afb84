// Characters at either end of a part of an element's text, read without the rest of the text.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "ax/ax.h"

// Reads the offsets `range` of one text (UTF-16 units, or the platform's own), fewer where the
// text ends first; nothing when the read fails. Ranges, counts and results below are in offsets.
using RangeReader = std::function<std::optional<TextPart>(TextRange)>;

// The ranges of `element`'s text through `ax`: an answer longer than asked is a failed read.
RangeReader rangesOf(Accessibility& ax, const Element& element);

// How many offsets the element's text has, where the platform reads parts of it: nothing
// where it does not (or answers with anything but a count).
std::optional<int64_t> textLength(Accessibility& ax, const Element& element);

// The first `n` characters of the offsets [from, to), as UTF-8: exactly
// firstChars(utf8FromUtf16(text[from, to)), n), read in parts that grow until they hold n whole
// characters. `to` may lie past the end of the text (a part read short ends it). Nothing when a
// read fails.
std::optional<std::string> readFirstChars(const RangeReader& read, int64_t from, int64_t to,
                                          int64_t n);

// The last `n` characters of the offsets [0, to), and whether any were left out: exactly
// lastChars(utf8FromUtf16(text[0, to)), n) and whether it is shorter than the whole. Nothing
// when a read fails or the text ends before `to`.
struct LastChars {
  std::string text;
  bool cut = false;
};
std::optional<LastChars> readLastChars(const RangeReader& read, int64_t to, int64_t n);
