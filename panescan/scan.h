// One run of panescan: trust, the focused application's window, the walk and the report.
#pragma once

#include <string_view>

#include "ax/ax.h"

inline constexpr std::string_view NOT_TRUSTED_MESSAGE =
    "panescan: NOT trusted for Accessibility \u2014 grant it in System Settings";
inline constexpr std::string_view NO_APPLICATION_MESSAGE = "panescan: no focused application";

// Writes the diagnostics and the summary line to `errFd` and the collected text (at most MAX_CHARS
// characters, nothing when empty) to `outFd`, the summary first.
void scanFocusedWindow(Accessibility& ax, int outFd, int errFd);
