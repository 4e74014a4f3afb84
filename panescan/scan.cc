// One run of panescan: trust, the focused application's window, the walk and the report.
#include "panescan/scan.h"

#include <string>

#include "ax/attr.h"
#include "common/note.h"
#include "common/output.h"
#include "common/text.h"
#include "panescan/walk.h"

namespace {

std::string summaryLine(std::string_view appName, const WalkState& state) {
  return "panescan: trusted=true app=" + std::string(appName) +
         " nodes=" + std::to_string(state.visited) +
         " textAreas=" + std::to_string(state.textAreas) +
         " chars=" + std::to_string(state.collectedChars);
}

// The focused window, else the first listed one; nothing when neither is usable. A focused window
// that is not an element counts as none.
Element windowOf(Accessibility& ax, const Element& app) {
  if (Element focused = elementAttr(ax, app, "AXFocusedWindow")) return focused;
  const auto windows = attr(ax, app, "AXWindows");
  if (!windows || !windows->list() || windows->list()->empty()) return nullptr;
  const Element* first = windows->list()->front().element();
  return first ? *first : nullptr;
}

}  // namespace

void scanFocusedWindow(Accessibility& ax, int outFd, int errFd) {
  // Raises the system's own request when trust is missing; the tool never waits for the answer.
  ax.requestTrust();
  if (!ax.isTrusted()) {
    note(NOT_TRUSTED_MESSAGE, errFd);
    return;
  }

  const Element sys = ax.systemWideElement();
  std::string appName = "?";
  WalkState state;
  const Element app = elementAttr(ax, sys, "AXFocusedApplication");
  if (!app) {
    note(NO_APPLICATION_MESSAGE, errFd);
  } else {
    if (auto title = textAttr(ax, app, "AXTitle")) appName = std::move(*title);
    if (const Element window = windowOf(ax, app)) walk(ax, state, window, 0);
  }

  note(summaryLine(appName, state), errFd);
  const std::string_view text = firstChars(state.collected, MAX_CHARS);
  if (!text.empty()) writeRecord(text, outFd);
}
