// Code point or UTF-16 offsets from AT-SPI to UTF-16 code unit offsets.
#include "ax/atspi/offsets.h"

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

OffsetUnit offsetUnitOf(std::u16string_view text, int64_t characterCount) {
  if (characterCount != static_cast<int64_t>(text.size())) return OffsetUnit::CodePoints;
  // Read as code points, a count of the text's length in units would reach past its end exactly
  // when the text holds a surrogate pair.
  bool hasPair = utf16OffsetFromCodePoints(text, characterCount) > characterCount;
  return hasPair ? OffsetUnit::Utf16 : OffsetUnit::CodePoints;
}

int64_t utf16Offset(std::u16string_view text, int64_t offset, OffsetUnit unit) {
  if (unit == OffsetUnit::CodePoints) return utf16OffsetFromCodePoints(text, offset);
  return offset < 0 ? 0 : offset;
}

std::string withoutAstralPadding(std::string text) {
  // Byte-wise on valid UTF-8 (D-Bus strings are): a lead byte F0-F4 starts a four-byte character,
  // and EF BB BF is U+FEFF.
  constexpr std::string_view PADDING = "\xEF\xBB\xBF";
  size_t out = 0;
  for (size_t in = 0; in < text.size();) {
    auto lead = static_cast<unsigned char>(text[in]);
    size_t length = lead >= 0xF0 ? 4 : 1;
    for (size_t i = 0; i < length && in < text.size(); ++i) text[out++] = text[in++];
    if (length == 4 && std::string_view(text).substr(in, PADDING.size()) == PADDING)
      in += PADDING.size();
  }
  text.resize(out);
  return text;
}
