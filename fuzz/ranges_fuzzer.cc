// Differential: the characters read through parts of a text (selprobe's pieces, fieldpeek's first
// characters, and the growing reads under them) against the same cut of the whole text, over long
// texts of combining marks, emoji and ZWJ sequences, flags, CR LF, Hangul, Indic conjuncts and
// lone surrogates, with selections and part reads that fail at random; and the same through the
// parts AT-SPI toolkits answer in their own offsets (GTK's code points, Qt's UTF-16 units, Gecko's
// padded code points).
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "ax/atspi/offsets.h"
#include "ax/text_parts.h"
#include "common/text.h"
#include "fuzz/checks.h"
#include "selprobe/selection.h"

namespace {

// Characters that join with their neighbours or that grapheme rules look past, and plain ones.
const std::u16string TOKENS[] = {
    u"a",      u"b",          u" ",      u"\r",         u"\n",         u"\r\n",       u"\u0301",
    u"\u0308", u"\U0001F600", u"\u200D", u"\U0001F469", u"\U0001F3FB", u"\U0001F1E6", u"\U0001F1E7",
    u"\u1100", u"\u1161",     u"\u11A8", u"\uAC00",     u"\u0600",     u"\u0903",     u"\u0915",
    u"\u094D", u"\u4E2D",     u"\xD800", u"\xDC00",     u"\uFEFF",     u"\uFE0F",     u"\u00A9",
};
constexpr size_t TOKEN_COUNT = sizeof(TOKENS) / sizeof(TOKENS[0]);

// A pattern of tokens repeated to a length that can pass the 600 and 20000 character limits; a
// pattern of joiners makes runs without a safe place to cut.
std::u16string longText(FuzzedDataProvider& in) {
  std::u16string pattern;
  const size_t tokens = in.ConsumeIntegralInRange<size_t>(1, 12);
  for (size_t i = 0; i < tokens; ++i)
    pattern += TOKENS[in.ConsumeIntegralInRange<size_t>(0, TOKEN_COUNT - 1)];
  const size_t units = in.ConsumeIntegralInRange<size_t>(0, 45000);
  std::u16string text;
  while (text.size() < units) {
    text += pattern;
    // A random token now and then breaks the pattern's period.
    if (in.ConsumeBool()) text += TOKENS[in.ConsumeIntegralInRange<size_t>(0, TOKEN_COUNT - 1)];
  }
  return text;
}

// How a toolkit counts a text's offsets, and what its GetText answers for a range of them.
enum class Toolkit { Gtk, Qt, Gecko };

struct ToolkitText {
  std::vector<std::u16string> offsets;  // the units each offset stands for

  ToolkitText(std::u16string_view text, Toolkit kind) {
    // GTK and Gecko texts are valid UTF-8: no lone surrogates.
    const std::u16string valid =
        kind == Toolkit::Qt ? std::u16string(text) : utf16FromUtf8(utf8FromUtf16(text));
    for (size_t i = 0; i < valid.size(); ++i) {
      const bool pair = i + 1 < valid.size() && valid[i] >= 0xD800 && valid[i] <= 0xDBFF &&
                        valid[i + 1] >= 0xDC00 && valid[i + 1] <= 0xDFFF;
      if (pair && kind != Toolkit::Qt) offsets.push_back(valid.substr(i++, 2));
      // Gecko pads a character beyond the BMP: one offset for each of its units.
      if (pair && kind == Toolkit::Gecko) offsets.push_back(u"\uFEFF");
      if (!pair || kind == Toolkit::Qt) offsets.push_back(valid.substr(i, 1));
    }
  }
  // The UTF-8 GetText answers for [from, to): Qt turns a lone surrogate into "?".
  std::string getText(int64_t from, int64_t to) const {
    std::string out;
    for (int64_t i = from; i < to; ++i) {
      const std::u16string& unit = offsets[static_cast<size_t>(i)];
      const bool lone = unit.size() == 1 && unit[0] >= 0xD800 && unit[0] <= 0xDFFF;
      out += lone ? "?" : utf8FromUtf16(unit);
    }
    return out;
  }
};

// selprobe's pieces read in a toolkit's offsets as the AT-SPI layer reads them (one offset more
// at each end, cut off again) against the whole value cut at the selection that layer converts.
void checkToolkitPieces(FuzzedDataProvider& in, std::u16string_view text) {
  const ToolkitText t(text, static_cast<Toolkit>(in.ConsumeIntegralInRange<int>(0, 2)));
  const auto n = static_cast<int64_t>(t.offsets.size());
  const RangeReader read = [&](TextRange r) -> std::optional<TextPart> {
    check(r.location >= 0 && r.length >= 0 && r.location <= n);
    const int64_t end = std::min(n, r.location + std::min(r.length, n));
    const int64_t from = r.location > 0 ? r.location - 1 : 0;
    const int64_t to = end < n ? end + 1 : end;
    auto units = partWithinExtraOffsets(t.getText(from, to), to - from,
                                        static_cast<size_t>(r.location - from),
                                        static_cast<size_t>(to - end));
    check(units.has_value());
    return TextPart{std::move(*units), end - r.location};
  };
  const int64_t start = in.ConsumeIntegralInRange<int64_t>(0, n);
  const int64_t end = in.ConsumeIntegralInRange<int64_t>(start, n);
  auto pieces = readPieces(read, n, {start, end - start});
  const std::u16string whole = utf16FromUtf8(withoutAstralPadding(t.getText(0, n)));
  const OffsetUnit unit = offsetUnitOf(whole, n);
  const int64_t from = utf16Offset(whole, start, unit);
  const Pieces expected = cutPieces(whole, {from, utf16Offset(whole, end, unit) - from});
  check(pieces && pieces->before == expected.before && pieces->selected == expected.selected &&
        pieces->after == expected.after && pieces->truncated == expected.truncated);
}

int64_t offsetIn(FuzzedDataProvider& in, int64_t n) {
  return in.ConsumeBool() ? in.ConsumeIntegralInRange<int64_t>(-2, n + 2)
                          : in.ConsumeIntegral<int64_t>();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const std::u16string units = longText(in);
  const auto n = static_cast<int64_t>(units.size());
  // Reads answer as the platforms do (short at the end, nothing past it); from the fail-th read
  // on, every read fails.
  const int fail = in.ConsumeBool() ? in.ConsumeIntegralInRange<int>(0, 6) : -1;
  int reads = 0;
  const RangeReader read = [&](TextRange r) -> std::optional<TextPart> {
    check(r.location >= 0 && r.length >= 0);
    if (fail >= 0 && reads++ >= fail) return std::nullopt;
    if (r.location > n) return std::nullopt;
    auto part = units.substr(static_cast<size_t>(r.location), static_cast<size_t>(r.length));
    const auto offsets = static_cast<int64_t>(part.size());
    return TextPart{std::move(part), offsets};
  };

  // selprobe: byte for byte the pieces of the whole text, truncation flag included.
  const TextRange selection{offsetIn(in, n), offsetIn(in, n)};
  if (auto pieces = readPieces(read, n, selection)) {
    const Pieces expected = cutPieces(units, selection);
    check(pieces->before == expected.before && pieces->selected == expected.selected &&
          pieces->after == expected.after && pieces->truncated == expected.truncated);
  } else {
    check(fail >= 0);
  }

  // The reads beneath, with small limits, so that cuts fall everywhere in the patterns.
  const int64_t chars = in.ConsumeIntegralInRange<int64_t>(0, 40);
  const int64_t from = in.ConsumeIntegralInRange<int64_t>(0, n);
  const int64_t to = in.ConsumeBool() ? std::numeric_limits<int64_t>::max()
                                      : in.ConsumeIntegralInRange<int64_t>(from, n);
  reads = 0;
  if (auto first = readFirstChars(read, from, to, chars)) {
    const auto end = static_cast<size_t>(std::min(to, n));
    const std::string part = utf8FromUtf16(units.substr(static_cast<size_t>(from), end - from));
    check(*first == firstChars(part, chars));
  } else {
    check(fail >= 0);
  }
  reads = 0;
  if (auto last = readLastChars(read, from, chars)) {
    const std::string part = utf8FromUtf16(units.substr(0, static_cast<size_t>(from)));
    const std::string_view kept = lastChars(part, chars);
    check(last->text == kept && last->cut == (kept.size() < part.size()));
  } else {
    check(fail >= 0);
  }
  checkToolkitPieces(in, units);
  return 0;
}
