// Parts of an element's text over AT-SPI, read from the text's start up to the part's end only.
#include <algorithm>

#include "ax/atspi/accessibility.h"
#include "ax/atspi/offsets.h"
#include "common/text.h"

std::optional<std::u16string> AtspiAccessibility::copyTextRange(const Element& element,
                                                                TextRange range) {
  auto* e = dynamic_cast<const AtspiElement*>(element.get());
  if (!e || !e->app || range.location < 0 || range.length < 0) return std::nullopt;
  // What has no value has no parts: a password field, a document of paragraph objects.
  auto r = role(*e);
  if (!r || *r == atspi_role::PASSWORD_TEXT || e->part) return std::nullopt;
  AtspiElement::Cache& cache = e->cacheIn(link_.step());
  std::u16string units;
  if (cache.text) {
    units = utf16FromUtf8(*cache.text);  // read whole in this step already: no call
  } else {
    if (cache.unready) return std::nullopt;
    if (!cache.characterCount) {
      cache.characterCount = readInt32(link_.property(e->app, e->path, TEXT, "CharacterCount"));
    }
    // No Text interface: a Qt label's words are its name, and those are read whole.
    if (!cache.characterCount) return std::nullopt;
    // Offsets count code points (GTK) or UTF-16 units (Qt 5; Gecko, whose padding makes them so):
    // the text up to offset k holds at least k units either way, so it holds the part whatever
    // the unit, and the units from the start need no conversion. The end never passes the count:
    // Qt answers an end past the text with "".
    const int64_t end =
        range.length > INT32_MAX - range.location
            ? *cache.characterCount
            : std::min<int64_t>(range.location + range.length, *cache.characterCount);
    if (end > 0) {
      auto s = readString(
          link_.call(e->app, e->path, TEXT, "GetText", intArgs(0, static_cast<int32_t>(end)), "s"));
      // Counted characters but no text: not ready yet (Gecko); the whole value waits for it.
      if (!s || s->empty()) return std::nullopt;
      units = utf16FromUtf8(withoutAstralPadding(std::move(*s)));
    }
  }
  if (range.location > static_cast<int64_t>(units.size())) return std::nullopt;
  return units.substr(static_cast<size_t>(range.location), static_cast<size_t>(range.length));
}
