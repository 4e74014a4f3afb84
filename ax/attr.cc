// The single attribute read every reader makes: a value or nothing, never a report.
#include "ax/attr.h"

#include "common/text.h"

std::optional<AttrValue> attr(Accessibility& ax, const Element& element, std::string_view name) {
  if (!element) return std::nullopt;
  try {
    return ax.copyAttribute(element, name);
  } catch (...) {
    // A platform layer that throws (allocation failure, a library bug) is one more failed read.
    return std::nullopt;
  }
}

std::optional<std::string> textAttr(Accessibility& ax, const Element& element,
                                    std::string_view name) {
  auto value = attr(ax, element, name);
  if (!value || !value->text()) return std::nullopt;
  return utf8FromUtf16(*value->text());
}

Element elementAttr(Accessibility& ax, const Element& element, std::string_view name) {
  auto value = attr(ax, element, name);
  if (!value || !value->element()) return nullptr;
  return *value->element();
}
