// The single attribute read every reader makes: a value or nothing, never a report.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "ax/ax.h"

std::optional<AttrValue> attr(Accessibility& ax, const Element& element, std::string_view name);

// The attribute's text as UTF-8, or nothing when it is missing or not a text.
std::optional<std::string> textAttr(Accessibility& ax, const Element& element,
                                    std::string_view name);

// The attribute's element, or nothing when it is missing or of another kind.
Element elementAttr(Accessibility& ax, const Element& element, std::string_view name);
