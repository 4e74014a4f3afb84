// One selection read of the focused element of the frontmost application, as a result object.
#include "selprobe/probe.h"

#include <algorithm>

#include "ax/attr.h"
#include "common/host_bundle.h"
#include "selprobe/result.h"
#include "selprobe/selection.h"

nlohmann::json probeSelection(Accessibility& ax) {
  // The non-prompting query: a probe the host starts in the background must not raise a dialog.
  if (!ax.isTrusted()) return fail(REASON_NOT_TRUSTED);
  const auto app = ax.frontmostApplication();
  if (!app) return fail(REASON_NO_FRONTMOST);
  if (app->bundleId && *app->bundleId == hostBundleID) return fail(REASON_SELF);

  const Element appEl = ax.applicationElement(app->pid);
  const Element el = elementAttr(ax, appEl, "AXFocusedUIElement");
  if (!el) return fail(REASON_NO_FOCUSED_ELEMENT);

  const std::string role = textAttr(ax, el, "AXRole").value_or(std::string(UNKNOWN_ROLE));
  auto value = attr(ax, el, "AXValue");
  if (!value || !value->text()) return fail(REASON_NO_VALUE);
  const auto rangeValue = attr(ax, el, "AXSelectedTextRange");
  if (!rangeValue) return fail(REASON_NO_CARET);
  const TextRange* range = rangeValue->range();
  if (!range) return fail(REASON_BAD_RANGE);
  // A range the value cannot hold: the value may have been read before the application had it
  // ready (Firefox fills a text in only once asked; the Linux layer waits for it while reading the
  // range). Read once more; a value still too short cuts the range to it.
  const auto n = static_cast<int64_t>(value->text()->size());
  if (range->location > n || range->length > n - std::max<int64_t>(range->location, 0)) {
    value = attr(ax, el, "AXValue");
    if (!value || !value->text()) return fail(REASON_NO_VALUE);
  }

  const Pieces pieces = cutPieces(*value->text(), *range);
  return success(role, pieces);
}
