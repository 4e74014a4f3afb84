// Differential: the characters read through parts of a text (selprobe's pieces, fieldpeek's first
// characters, and the growing reads under them) against the same cut of the whole text, over long
// texts of combining marks, emoji and ZWJ sequences, flags, CR LF, Hangul, Indic conjuncts and
// lone surrogates, with selections and part reads that fail at random.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

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
  const RangeReader read = [&](TextRange r) -> std::optional<std::u16string> {
    check(r.location >= 0 && r.length >= 0);
    if (fail >= 0 && reads++ >= fail) return std::nullopt;
    if (r.location > n) return std::nullopt;
    return units.substr(static_cast<size_t>(r.location), static_cast<size_t>(r.length));
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
  return 0;
}
