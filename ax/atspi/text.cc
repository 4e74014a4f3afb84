// Text reads of AT-SPI objects: the whole text, and the selection as UTF-16 offsets into it.
#include <algorithm>
#include <chrono>
#include <thread>
#include <tuple>
#include <utility>

#include "ax/atspi/accessibility.h"
#include "ax/atspi/offsets.h"
#include "common/text.h"

namespace {

// How long a text that is not ready yet gets to be filled in (waitOnce): Gecko fills it in within
// one round trip to its content process, tens of milliseconds on a loaded machine.
constexpr std::chrono::milliseconds TEXT_WAIT{100};

}  // namespace

bool AtspiAccessibility::waitOnce(const AtspiElement& e) {
  if (!waitedFor_.emplace(e.app->busName, e.path).second) return false;
  std::this_thread::sleep_for(TEXT_WAIT);
  return true;
}

std::optional<std::string> AtspiAccessibility::text(const AtspiElement& e) {
  // A password field shows bullets: never hand them out as its text.
  auto r = role(e);
  if (!r || *r == atspi_role::PASSWORD_TEXT) return std::nullopt;
  AtspiElement::Cache& cache = e.cacheIn(link_.step());
  // Kept for the step: the selected range reads the text again to convert its offsets.
  if (cache.text || cache.unready) return cache.text;
  // A document around its focused paragraph was made only once it proved to have no Text.
  if (e.part) return cache.text = documentText(e);
  auto read = readText(e);
  // Counted characters but no text: not ready yet. Still so after the wait, it is no text at all
  // rather than an empty one.
  auto notReady = [&] { return read && read->empty() && cache.characterCount.value_or(0) > 0; };
  if (notReady() && waitOnce(e)) {
    cache.forgetCount();
    read = readText(e);
  }
  if (notReady()) {
    cache.unready = true;
    return std::nullopt;
  }
  if (read) cache.text = withoutAstralPadding(std::move(*read));
  return cache.text;
}

std::optional<int32_t> AtspiAccessibility::characterCount(const AtspiElement& e, bool* timedOut) {
  AtspiElement::Cache& cache = e.cacheIn(link_.step());
  if (cache.countAsked) return cache.characterCount;
  CallResult count = link_.property(e.app, e.path, TEXT, "CharacterCount");
  cache.characterCount = readInt32(count);
  cache.countAsked = count.error != CallError::TimedOut;
  if (timedOut) *timedOut = !cache.countAsked;
  return cache.characterCount;
}

std::optional<std::string> AtspiAccessibility::readText(const AtspiElement& e) {
  AtspiElement::Cache& cache = e.cacheIn(link_.step());
  bool timedOut = false;
  if (!characterCount(e, &timedOut)) {
    if (timedOut) return std::nullopt;
    // No Text interface: a document of paragraph objects holds their texts, and a Qt label's
    // words are its name.
    if (auto joined = documentText(e)) return joined;
    if (platformRoleName(*cache.role, 0) == "AXStaticText") return name(e);
  }
  if (cache.characterCount && *cache.characterCount <= 0) return std::string();
  // The whole text up to the character count: GTK 4 answers the usual "up to the end" (-1) with
  // "", and Qt answers an end past the text (INT_MAX) with "". -1 only where there is no count.
  int32_t end = cache.characterCount.value_or(-1);
  return readString(link_.call(e.app, e.path, TEXT, "GetText", intArgs(0, end), "s"));
}

std::optional<std::pair<int32_t, int32_t>> AtspiAccessibility::selectionOffsets(
    const AtspiElement& e) {
  // A selection fetched ahead answers once: a read after a wait for the text asks again.
  AtspiElement::Cache& cache = e.cacheIn(link_.step());
  auto sel = cache.selectionFetched
                 ? std::exchange(cache.selection, std::nullopt)
                 : readIntPair(link_.call(e.app, e.path, TEXT, "GetSelection", intArgs(0), "ii"));
  cache.selectionFetched = false;
  if (sel && sel->first != sel->second)
    return std::pair{std::min(sel->first, sel->second), std::max(sel->first, sel->second)};
  auto caret = readInt32(link_.property(e.app, e.path, TEXT, "CaretOffset"));
  // -1 is AT-SPI's "no caret": there is no range to report.
  if (!caret || *caret < 0) return std::nullopt;
  return std::pair{*caret, *caret};
}

std::optional<AttrValue> AtspiAccessibility::selectedRange(const AtspiElement& e) {
  auto whole = text(e);
  if (!whole) return std::nullopt;
  AtspiElement::Cache& cache = e.cacheIn(link_.step());
  int32_t start = 0;
  int32_t end = 0;
  auto readRange = [&] {
    auto selection = selectionOffsets(e);
    if (selection) std::tie(start, end) = *selection;
    return selection.has_value();
  };
  bool hasRange = readRange();
  // No caret in an empty text: what Firefox answers too before it has filled in either.
  if (!hasRange && whole->empty() && waitOnce(e)) {
    cache.text.reset();
    cache.forgetCount();
    whole = text(e);
    hasRange = whole && readRange();
  }
  if (!hasRange) return std::nullopt;
  std::u16string units;
  OffsetUnit unit = OffsetUnit::CodePoints;
  auto measure = [&] {
    units = utf16FromUtf8(*whole);
    unit =
        cache.characterCount ? offsetUnitOf(units, *cache.characterCount) : OffsetUnit::CodePoints;
    return utf16Offset(units, end, unit) > static_cast<int64_t>(units.size());
  };
  // A range the text cannot hold: the text is not ready yet (the selection is). Read again here,
  // it is the value of the element's next read (selprobe reads it again for such a range).
  if (measure() && waitOnce(e)) {
    cache.text.reset();
    cache.forgetCount();
    whole = text(e).value_or(std::string());
    measure();
  }
  // Still nothing to hold it: no text, rather than an empty one around a made-up range. A text
  // that is there keeps the range, cut to it by the reader.
  if (whole->empty() && end > 0) {
    cache.unready = true;
    cache.text.reset();
  }
  int64_t from = utf16Offset(units, start, unit);
  int64_t to = utf16Offset(units, end, unit);
  return AttrValue{TextRange{from, to - from}};
}
