// Code point or UTF-16 offsets from AT-SPI to UTF-16 code unit offsets.
#include "ax/atspi/offsets.h"

#include <algorithm>

#include "common/text.h"

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

std::optional<std::u16string> partWithinExtraOffsets(std::string text, int64_t taken, size_t head,
                                                     size_t tail) {
  // Code points of valid UTF-8 (D-Bus strings are): the bytes that start one.
  const auto codePoints = std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  });
  std::u16string units = utf16FromUtf8(withoutAstralPadding(std::move(text)));
  // The offsets are UTF-16 units (Qt 5; Gecko's, of the text without its padding) or code points
  // (GTK), of which the extra ones may take two units.
  if (static_cast<int64_t>(units.size()) != taken) {
    if (codePoints != taken) return std::nullopt;
    auto pairAt = [&](size_t i) {
      return i + 1 < units.size() && isHighSurrogate(units[i]) && isLowSurrogate(units[i + 1]);
    };
    if (head && pairAt(0)) head = 2;
    if (tail && units.size() >= 2 && pairAt(units.size() - 2)) tail = 2;
  }
  if (head + tail > units.size()) return std::nullopt;
  return units.substr(head, units.size() - head - tail);
}
