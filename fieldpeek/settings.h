// fieldpeek's two settings, read from its positional arguments: the pause and the run length.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

inline constexpr int64_t DEFAULT_POLL_MS = 600;
inline constexpr int64_t MIN_POLL_MS = 120;
inline constexpr int64_t DEFAULT_DURATION_MS = 30000;

struct Settings {
  int64_t pollMs = DEFAULT_POLL_MS;
  int64_t durationMs = DEFAULT_DURATION_MS;
};

// The whole argument must be an optional single "+" or "-" and one or more ASCII digits whose value
// fits a signed 64-bit integer; anything else (blanks, units, exponents, hex) is no number.
std::optional<int64_t> parseNumber(std::string_view argument);

// `arguments` excludes the program name. A bad or missing argument silently takes its default;
// the pause is at least MIN_POLL_MS and the run at least one pause long. Extra arguments are
// ignored.
Settings settingsFromArgs(const std::vector<std::string_view>& arguments);
