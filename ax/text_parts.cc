// Characters at either end of a part of an element's text, read without the rest of the text.
#include "ax/text_parts.h"

#include <algorithm>
#include <cmath>

#include "ax/attr.h"
#include "common/text.h"

namespace {

// The first part read holds this many units per character wanted, and each further one twice as
// many: most texts need one read, and one without a place to cut safely (a long run of emoji or
// flags) costs at most twice what reading it all at once would.
constexpr int64_t UNITS_PER_CHAR = 2;
constexpr int64_t MIN_PART_UNITS = 64;

// Units per part: the first part, then each twice the last; never past what int64_t holds.
int64_t grown(int64_t units) {
  return units > INT64_MAX / 2 ? INT64_MAX : units * 2;
}

int64_t firstPart(int64_t n) {
  return std::max(MIN_PART_UNITS, n > INT64_MAX / UNITS_PER_CHAR ? INT64_MAX : n * UNITS_PER_CHAR);
}

}  // namespace

RangeReader rangesOf(Accessibility& ax, const Element& element) {
  return [&ax, element](TextRange range) -> std::optional<TextPart> {
    std::optional<TextPart> part;
    try {
      part = ax.copyTextRange(element, range);
    } catch (...) {
      // A platform layer that throws is one more failed read.
      return std::nullopt;
    }
    if (!part || part->offsets < 0 || part->offsets > range.length) return std::nullopt;
    return part;
  };
}

std::optional<int64_t> textLength(Accessibility& ax, const Element& element) {
  auto value = attr(ax, element, "AXNumberOfCharacters");
  const double* count = value ? std::get_if<double>(&value->value) : nullptr;
  // A count no text can have (negative, fractional, beyond any memory) is no count.
  if (!count || !(*count >= 0 && *count < 0x1p52) || std::floor(*count) != *count)
    return std::nullopt;
  return static_cast<int64_t>(*count);
}

std::optional<std::string> readFirstChars(const RangeReader& read, int64_t from, int64_t to,
                                          int64_t n) {
  if (from >= to) return std::string();  // a caret selects nothing: nothing to ask
  for (int64_t units = firstPart(n);; units = grown(units)) {
    const int64_t end = to - from > units ? from + units : to;
    auto part = read({from, end - from});
    if (!part) return std::nullopt;
    std::string text = utf8FromUtf16(part->units);
    if (end == to || part->offsets < end - from) return std::string(firstChars(text, n));
    // The characters before a steady break are those of the whole, whatever follows the part.
    const size_t steady = lastSteadyBreak(text);
    if (steady != std::string::npos && charCount(std::string_view(text).substr(0, steady)) >= n)
      return std::string(firstChars(text, n));
  }
}

std::optional<LastChars> readLastChars(const RangeReader& read, int64_t to, int64_t n) {
  if (to <= 0) return LastChars{};
  for (int64_t units = firstPart(n);; units = grown(units)) {
    const int64_t from = to > units ? to - units : 0;
    auto part = read({from, to - from});
    if (!part || part->offsets != to - from) return std::nullopt;
    std::string text = utf8FromUtf16(part->units);
    if (from == 0) {
      const size_t kept = lastChars(text, n).size();
      return LastChars{text.substr(text.size() - kept), kept < text.size()};
    }
    // The characters after a steady break are those of the whole, whatever precedes the part;
    // at least one character stands before the break, so the whole has more than n.
    const size_t steady = firstSteadyBreak(text);
    if (steady != std::string::npos && charCount(std::string_view(text).substr(steady)) >= n)
      return LastChars{std::string(lastChars(text, n)), true};
  }
}
