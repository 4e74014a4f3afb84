// The bounded depth-first walk that gathers the visible texts beneath one element.
#include "fieldpeek/collect_text.h"

#include <algorithm>

#include "ax/attr.h"
#include "common/text.h"

namespace {

constexpr std::string_view WALK_ATTRIBUTES[] = {"AXRole", "AXValue", "AXChildren"};

// The entries of an "AXChildren" value that are elements; anything else in the list is skipped.
std::vector<Element> childrenOf(Accessibility& ax, const Element& element) {
  std::vector<Element> children;
  auto value = attr(ax, element, "AXChildren");
  if (!value || !value->list()) return children;
  children.reserve(value->list()->size());
  for (const auto& entry : *value->list()) {
    if (const Element* child = entry.element(); child && *child) children.push_back(*child);
  }
  return children;
}

}  // namespace

bool isTextRole(std::string_view role) {
  return std::any_of(TEXT_ROLES.begin(), TEXT_ROLES.end(),
                     [&](std::string_view known) { return canonicallyEqual(role, known); });
}

void collectText(Accessibility& ax, const Element& element, int64_t depth, int64_t& count,
                 std::vector<std::string>& texts) {
  if (count >= MAX_NODES || depth > MAX_DEPTH) return;
  ++count;

  auto role = textAttr(ax, element, "AXRole");
  if (role && isTextRole(*role)) {
    auto value = textAttr(ax, element, "AXValue");
    if (value && charCount(*value) >= MIN_NODE_CHARS) {
      texts.emplace_back(firstChars(*value, MAX_CHARS));
    }
  }

  std::vector<Element> children = childrenOf(ax, element);
  if (children.empty() || depth + 1 > MAX_DEPTH || count >= MAX_NODES) return;
  // Tell the platform which elements come next so it can fetch them together; children beyond
  // what is left of the budget are never visited, so they are not named.
  size_t reachable = std::min(children.size(), static_cast<size_t>(MAX_NODES - count));
  try {
    ax.prefetch(PrefetchHint{
        std::vector<Element>(children.begin(),
                             children.begin() + static_cast<ptrdiff_t>(reachable)),
        std::vector<std::string_view>(std::begin(WALK_ATTRIBUTES), std::end(WALK_ATTRIBUTES))});
  } catch (...) {
    // A hint that fails costs nothing but speed: the reads below still ask one by one.
  }
  for (const auto& child : children) {
    if (count >= MAX_NODES) break;  // the rest would return at once without reading anything
    collectText(ax, child, depth + 1, count, texts);
  }
}
