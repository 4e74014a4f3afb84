// One poll's reading: the focused element's role and the texts around the keyboard focus.
#include "fieldpeek/read_candidates.h"

#include "ax/attr.h"
#include "ax/text_parts.h"
#include "common/host_bundle.h"
#include "common/text.h"
#include "fieldpeek/candidates.h"
#include "fieldpeek/collect_text.h"

namespace {

// The focused window, or else the first of the application's windows. A focused window whose walk
// finds nothing is still the answer: the first window is asked only when there is no focused one.
Element windowOf(Accessibility& ax, const Element& application) {
  if (Element focused = elementAttr(ax, application, "AXFocusedWindow")) return focused;
  auto windows = attr(ax, application, "AXWindows");
  if (!windows || !windows->list() || windows->list()->empty()) return nullptr;
  const Element* first = windows->list()->front().element();
  return first ? *first : nullptr;
}

// The field's own value up to MAX_CHARS characters: only its first part where the application
// reads parts of its text (a long document costs what its first page costs), else all of it.
std::optional<std::string> ownValue(Accessibility& ax, const Element& focused) {
  if (auto first = readFirstChars(rangesOf(ax, focused), 0, INT64_MAX, MAX_CHARS)) return first;
  auto value = textAttr(ax, focused, "AXValue");
  if (!value) return std::nullopt;
  return std::string(firstChars(*value, MAX_CHARS));
}

std::vector<std::string> walk(Accessibility& ax, const Element& root) {
  std::vector<std::string> texts;
  int64_t count = 0;
  if (root) collectText(ax, root, 0, count, texts);
  return texts;
}

}  // namespace

void enableAXTree(Accessibility& ax, RunState& state, int32_t pid, const Element& application) {
  if (!state.treeEnabled.insert(pid).second) return;
  try {
    ax.setBoolAttribute(application, "AXManualAccessibility", true);
  } catch (...) {
    // The write's outcome is ignored in every case; a throwing platform is one more failed write.
  }
}

Reading readCandidates(Accessibility& ax, RunState& state) {
  auto frontmost = ax.frontmostApplication();
  if (!frontmost) return {std::string(ROLE_NO_FRONTMOST), {}};
  if (frontmost->bundleId && *frontmost->bundleId == hostBundleID) {
    return {std::string(ROLE_SELF), {}};
  }

  Element application = ax.applicationElement(frontmost->pid);
  enableAXTree(ax, state, frontmost->pid, application);

  Reading reading{std::string(ROLE_UNKNOWN), {}};
  if (Element focused = elementAttr(ax, application, "AXFocusedUIElement")) {
    if (auto role = textAttr(ax, focused, "AXRole")) reading.role = *role;
    // The field's own value is the user's text as it stands: no minimum, no trimming.
    if (auto value = ownValue(ax, focused); value && !value->empty()) {
      reading.texts.push_back(std::move(*value));
      return reading;
    }
    auto texts = walk(ax, focused);
    if (!texts.empty()) {
      reading.texts = candidates(texts);
      return reading;
    }
  }
  // The window walk starts with a fresh budget, whatever the focused element's walk spent.
  reading.texts = candidates(walk(ax, windowOf(ax, application)));
  return reading;
}
