// Parts of an element's text over AT-SPI, in the toolkit's own offsets: a part costs what it
// holds, wherever it stands in the text.
#include <algorithm>

#include "ax/atspi/accessibility.h"
#include "ax/atspi/offsets.h"
#include "common/text.h"

std::optional<int32_t> AtspiAccessibility::partCount(const AtspiElement& e) {
  // What has no value has no parts: a password field, a document of paragraph objects.
  auto r = role(e);
  if (!r || *r == atspi_role::PASSWORD_TEXT || e.part) return std::nullopt;
  AtspiElement::Cache& cache = e.cacheIn(link_.step());
  if (cache.unready) return std::nullopt;
  // No Text interface: a Qt label's words are its name, and those are read whole.
  auto count = characterCount(e);
  if (!count || *count < 0) return std::nullopt;
  return count;
}

std::optional<TextPart> AtspiAccessibility::copyTextRange(const Element& element, TextRange range) {
  auto* e = dynamic_cast<const AtspiElement*>(element.get());
  if (!e || !e->app || range.location < 0 || range.length < 0) return std::nullopt;
  const auto count = partCount(*e);
  if (!count || range.location > *count) return std::nullopt;
  // The end never passes the count: Qt answers an end past the text with "".
  const int64_t end =
      std::min<int64_t>(*count, range.location + std::min<int64_t>(range.length, *count));
  const int64_t offsets = end - range.location;
  AtspiElement::Cache& cache = e->cacheIn(link_.step());
  if (cache.text) {
    // Read whole in this step already: no call, only its offsets to convert.
    const std::u16string units = utf16FromUtf8(*cache.text);
    const OffsetUnit unit = offsetUnitOf(units, *count);
    const int64_t from = utf16Offset(units, range.location, unit);
    const int64_t to = utf16Offset(units, end, unit);
    if (to > static_cast<int64_t>(units.size())) return std::nullopt;
    return TextPart{units.substr(static_cast<size_t>(from), static_cast<size_t>(to - from)),
                    offsets};
  }
  if (offsets == 0) return TextPart{};
  // One offset more on each side, cut off again: the part's ends then fall where they fall in the
  // whole text, even inside a surrogate pair of a toolkit that counts UTF-16 units (Qt answers a
  // part that starts inside one with a "?").
  const int64_t from = range.location > 0 ? range.location - 1 : 0;
  const int64_t to = end < *count ? end + 1 : end;
  auto s =
      readString(link_.call(e->app, e->path, TEXT, "GetText",
                            intArgs(static_cast<int32_t>(from), static_cast<int32_t>(to)), "s"));
  // Counted characters but no text: not ready yet (Gecko); the whole value waits for it.
  if (!s || s->empty()) return std::nullopt;
  auto units =
      partWithinExtraOffsets(std::move(*s), to - from, static_cast<size_t>(range.location - from),
                             static_cast<size_t>(to - end));
  if (!units) return std::nullopt;
  return TextPart{std::move(*units), offsets};
}

std::optional<TextRange> AtspiAccessibility::copySelectedTextOffsets(const Element& element) {
  auto* e = dynamic_cast<const AtspiElement*>(element.get());
  if (!e || !e->app) return std::nullopt;
  const auto count = partCount(*e);
  if (!count) return std::nullopt;
  auto selection = selectionOffsets(*e);
  // A range the text cannot hold: the text is not filled in yet, and the whole read waits for it.
  if (!selection || selection->second > *count) return std::nullopt;
  return TextRange{selection->first, selection->second - selection->first};
}
