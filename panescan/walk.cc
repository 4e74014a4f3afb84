// The budgeted depth-first walk of a window's element tree that collects its visible texts.
#include "panescan/walk.h"

#include <algorithm>
#include <string_view>

#include "ax/attr.h"
#include "common/text.h"

namespace {

bool isTextRole(std::string_view role) {
  return role == "AXTextArea" || role == "AXTextField" || role == "AXStaticText";
}

// Tells the platform which children the walk may still enter, so that it can fetch their roles
// and children ahead; never more than the node budget leaves, so no refused element is asked.
void hintChildren(Accessibility& ax, const WalkState& state, const AttrValue::List& children,
                  int64_t childDepth) {
  if (childDepth > MAX_DEPTH || state.collectedChars >= MAX_CHARS) return;
  const auto room = static_cast<size_t>(MAX_NODES - state.visited);
  PrefetchHint hint;
  hint.attributes = {"AXRole", "AXValue", "AXChildren"};
  for (const auto& child : children) {
    if (hint.elements.size() >= room) break;
    if (const Element* el = child.element()) hint.elements.push_back(*el);
  }
  if (!hint.elements.empty()) ax.prefetch(hint);
}

}  // namespace

void walk(Accessibility& ax, WalkState& state, const Element& element, int64_t depth) {
  if (state.collectedChars >= MAX_CHARS) return;
  if (state.visited >= MAX_NODES || depth > MAX_DEPTH) return;
  ++state.visited;

  const auto role = textAttr(ax, element, "AXRole");
  if (role && isTextRole(*role)) {
    if (const auto value = textAttr(ax, element, "AXValue")) {
      if (charCount(*value) >= MIN_VALUE_CHARS) {
        ++state.textAreas;
        const std::string entry = *value + "\n\n";
        // Counted as a whole: a value ending in CR joins the first line feed into one character,
        // and nothing joins across the line feed that ends the text before it.
        state.collectedChars += charCount(entry);
        state.collected += entry;
      }
    }
  }

  const auto children = attr(ax, element, "AXChildren");
  if (!children || !children->list()) return;
  hintChildren(ax, state, *children->list(), depth + 1);
  for (const auto& child : *children->list()) {
    // The platform yields only elements here; anything else is skipped and not counted.
    if (const Element* el = child.element()) walk(ax, state, *el, depth + 1);
  }
}
