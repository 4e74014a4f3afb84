// Text offsets from AT-SPI (code points, or UTF-16 units in Qt 5) as the UTF-16 units tools count.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The UTF-16 offset of the code point offset `codePoints` in `text`. A surrogate pair is one code
// point and two units. Offsets past the end keep their distance from it (one unit per code point),
// so a caller that clamps ranges still sees that they were out of bounds; negatives become 0.
int64_t utf16OffsetFromCodePoints(std::u16string_view text, int64_t codePoints);

// What a toolkit counts its offsets in. Most count code points; Qt 5 counts UTF-16 units, in its
// offsets and in its character count alike.
enum class OffsetUnit { CodePoints, Utf16 };

// Told from the answer, not from the toolkit's name: a character count that equals the text's
// UTF-16 length but not its code point count. Only a text with a character beyond the BMP tells
// the two apart, and where it does not, both readings give the same offsets.
OffsetUnit offsetUnitOf(std::u16string_view text, int64_t characterCount);

// A toolkit's offset in `unit` as a UTF-16 offset in `text` (negatives become 0).
int64_t utf16Offset(std::u16string_view text, int64_t offset, OffsetUnit unit);

// `text` (UTF-8) without the U+FEFF that follows each character beyond the BMP: Gecko pads such
// characters with one, so that its code point offsets and count are the UTF-16 units of the text
// without the padding. A U+FEFF anywhere else is the text's own and stays.
std::string withoutAstralPadding(std::string text);

// The UTF-16 units of a part of a text, from a toolkit's answer `text` (UTF-8) to GetText over
// `taken` offsets that hold `head` and `tail` (0 or 1) offsets more than the part at its ends: the
// part exactly as the whole text holds it, even where its ends split a surrogate pair. Nothing
// where the answer takes its offsets in no way a toolkit counts them (a text that changed).
std::optional<std::u16string> partWithinExtraOffsets(std::string text, int64_t taken, size_t head,
                                                     size_t tail);
