// One selection read of the focused element of the frontmost application, as a result object.
#pragma once

#include <string_view>

#include <nlohmann/json.hpp>

#include "ax/ax.h"

// Reasons, in the order the checks are made; the first failing check decides.
inline constexpr std::string_view REASON_NOT_TRUSTED = "not-trusted";
inline constexpr std::string_view REASON_NO_FRONTMOST = "no-frontmost";
inline constexpr std::string_view REASON_SELF = "self";
inline constexpr std::string_view REASON_NO_FOCUSED_ELEMENT = "no-focused-element";
inline constexpr std::string_view REASON_NO_VALUE = "no-value";
inline constexpr std::string_view REASON_NO_CARET = "no-caret";
inline constexpr std::string_view REASON_BAD_RANGE = "bad-range";

// The role reported for an element without a textual "AXRole".
inline constexpr std::string_view UNKNOWN_ROLE = "?";

// Makes the checks in order, reading each attribute at most once, and returns the success object
// ("ok", "role", "before", "selected", "after", "truncated") or the failure object ("ok",
// "reason"). Never waits or retries: it reports the state it finds.
nlohmann::json probeSelection(Accessibility& ax);
