// AT-SPI counts text offsets in code points; the tools count UTF-16 code units.
#pragma once

#include <cstdint>
#include <string_view>

// The UTF-16 offset of the code point offset `codePoints` in `text`. A surrogate pair is one code
// point and two units. Offsets past the end keep their distance from it (one unit per code point),
// so a caller that clamps ranges still sees that they were out of bounds; negatives become 0.
int64_t utf16OffsetFromCodePoints(std::u16string_view text, int64_t codePoints);
