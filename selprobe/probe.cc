// One selection read of the focused element of the frontmost application, as a result object.
#include "selprobe/probe.h"

#include <algorithm>
#include <functional>
#include <optional>

#include "ax/attr.h"
#include "ax/text_parts.h"
#include "common/host_bundle.h"
#include "selprobe/result.h"
#include "selprobe/selection.h"

namespace {

// A text this short is read whole, in one read: its parts around a selection would take about as
// many offsets, in one read for each piece.
constexpr int64_t READ_WHOLE_UP_TO = 4 * MAX_SIDE;

bool holds(const TextRange& range, int64_t n) {
  return range.location <= n && range.length <= n - std::max<int64_t>(range.location, 0);
}

// The selection in the offsets of the element's text: "AXSelectedTextRange" itself where those
// are its UTF-16 units.
std::optional<TextRange> selectionOffsets(
    Accessibility& ax, const Element& el,
    const std::function<const std::optional<AttrValue>&()>& selectedRange) {
  if (!ax.countsTextInUtf16()) return ax.copySelectedTextOffsets(el);
  const auto& value = selectedRange();
  if (!value || !value->range()) return std::nullopt;
  return *value->range();
}

// The pieces read from the text around the selection alone, where the application reads parts of
// its text; they are those the whole value gives. Nothing where it does not, where the text is
// short, or where a read fails.
std::optional<Pieces> piecesAround(
    Accessibility& ax, const Element& el,
    const std::function<const std::optional<AttrValue>&()>& selectedRange) {
  auto n = textLength(ax, el);
  if (!n || *n <= READ_WHOLE_UP_TO) return std::nullopt;
  const auto selected = selectionOffsets(ax, el, selectedRange);
  if (!selected) return std::nullopt;
  // A range the text cannot hold: counted once more, as the whole value is read once more.
  if (!holds(*selected, *n) && !(n = textLength(ax, el))) return std::nullopt;
  return readPieces(rangesOf(ax, el), *n, *selected);
}

}  // namespace

nlohmann::json probeSelection(Accessibility& ax) {
  // The non-prompting query: a probe the host starts in the background must not raise a dialog.
  if (!ax.isTrusted()) return fail(REASON_NOT_TRUSTED);
  const auto app = ax.frontmostApplication();
  if (!app) return fail(REASON_NO_FRONTMOST);
  if (app->bundleId && *app->bundleId == hostBundleID) return fail(REASON_SELF);

  const Element appEl = ax.applicationElement(app->pid);
  const Element el = elementAttr(ax, appEl, "AXFocusedUIElement");
  if (!el) return fail(REASON_NO_FOCUSED_ELEMENT);

  // Read together where the platform can: one request on macOS, one round trip after the role's
  // on Linux.
  ax.prefetch(PrefetchHint{{el}, {"AXRole", "AXNumberOfCharacters", "AXSelectedTextRange"}});
  const std::string role = textAttr(ax, el, "AXRole").value_or(std::string(UNKNOWN_ROLE));
  // Read once, by whichever of the two ways below asks first.
  std::optional<std::optional<AttrValue>> selection;
  auto selectedRange = [&]() -> const std::optional<AttrValue>& {
    if (!selection) selection = attr(ax, el, "AXSelectedTextRange");
    return *selection;
  };
  if (auto pieces = piecesAround(ax, el, selectedRange)) return success(role, *pieces);
  // The whole value: where the application reads no parts of its text, a part read failed, or
  // the selection is missing (whose reason is given after the value's, as always).
  auto value = attr(ax, el, "AXValue");
  if (!value || !value->text()) return fail(REASON_NO_VALUE);
  const auto& rangeValue = selectedRange();
  if (!rangeValue) return fail(REASON_NO_CARET);
  const TextRange* range = rangeValue->range();
  if (!range) return fail(REASON_BAD_RANGE);
  // A range the value cannot hold: the value may have been read before the application had it
  // ready (Firefox fills a text in only once asked; the Linux layer waits for it while reading the
  // range). Read once more; a value still too short cuts the range to it.
  if (!holds(*range, static_cast<int64_t>(value->text()->size()))) {
    value = attr(ax, el, "AXValue");
    if (!value || !value->text()) return fail(REASON_NO_VALUE);
  }
  const Pieces pieces = cutPieces(*value->text(), *range);
  return success(role, pieces);
}
