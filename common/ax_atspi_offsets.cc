// Code point offsets to UTF-16 code unit offsets.
#include "common/ax_atspi_offsets.h"

namespace {

bool isHighSurrogate(char16_t u) {
  return u >= 0xD800 && u <= 0xDBFF;
}
bool isLowSurrogate(char16_t u) {
  return u >= 0xDC00 && u <= 0xDFFF;
}

}  // namespace

int64_t utf16OffsetFromCodePoints(std::u16string_view text, int64_t codePoints) {
  if (codePoints <= 0) return 0;
  size_t unit = 0;
  int64_t seen = 0;
  while (unit < text.size() && seen < codePoints) {
    bool pair =
        isHighSurrogate(text[unit]) && unit + 1 < text.size() && isLowSurrogate(text[unit + 1]);
    unit += pair ? 2 : 1;
    ++seen;
  }
  return static_cast<int64_t>(unit) + (codePoints - seen);
}
