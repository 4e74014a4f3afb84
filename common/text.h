// The text rules every tool shares: UTF-16/UTF-8 conversion, user-perceived characters, equality.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// UTF-16 code units to UTF-8. Each unpaired surrogate becomes U+FFFD, so the result is always valid
// UTF-8 and any JSON writer accepts it. The run is decoded by itself: a pair split between two runs
// leaves one U+FFFD in each.
std::string utf8FromUtf16(std::u16string_view units);

// UTF-8 bytes (possibly invalid, from another process) to UTF-16. Each maximal invalid sequence
// becomes U+FFFD; NULs are kept as they are.
std::u16string utf16FromUtf8(std::string_view bytes);

// Characters are extended grapheme clusters. An invalid byte counts as one character of its own.
int64_t charCount(std::string_view text);

// The first `n` characters of `text` (all of it when it has n or fewer); n <= 0 gives "".
std::string_view firstChars(std::string_view text, int64_t n);

// The last `n` characters of `text` (all of it when it has n or fewer); n <= 0 gives "".
std::string_view lastChars(std::string_view text, int64_t n);

// Where a part of a longer text can be cut into characters as the whole would be: a character
// boundary between two code points that join with nothing on either side (letters, digits,
// spaces, ideographs), where no rule looks further back (regional indicator pairs, emoji ZWJ
// sequences, CR LF). npos where `text` has none.
// The first such boundary after `text`'s second code point: the characters from there on are
// those of any text that ends with `text`, whatever precedes it and whatever its first code point
// really was (half of a surrogate pair cut apart).
size_t firstSteadyBreak(std::string_view text);
// The last such boundary before `text`'s last code point: the characters before it are those of
// any text that starts with `text`, whatever follows it.
size_t lastSteadyBreak(std::string_view text);

// Canonical equivalence: equal NFC forms ("é" precomposed equals "e" + U+0301).
bool canonicallyEqual(std::string_view a, std::string_view b);
