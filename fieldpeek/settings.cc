// fieldpeek's two settings, read from its positional arguments: the pause and the run length.
#include "fieldpeek/settings.h"

#include <algorithm>
#include <charconv>

std::optional<int64_t> parseNumber(std::string_view argument) {
  std::string_view digits = argument;
  if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) digits.remove_prefix(1);
  if (digits.empty()) return std::nullopt;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  // from_chars knows "-" but not "+"; the digits alone were checked above.
  std::string_view parsed = argument.front() == '+' ? digits : argument;
  int64_t value = 0;
  auto [end, error] = std::from_chars(parsed.data(), parsed.data() + parsed.size(), value);
  if (error != std::errc{} || end != parsed.data() + parsed.size()) return std::nullopt;
  return value;
}

Settings settingsFromArgs(const std::vector<std::string_view>& arguments) {
  auto numberAt = [&](size_t i) -> std::optional<int64_t> {
    if (i >= arguments.size()) return std::nullopt;
    return parseNumber(arguments[i]);
  };
  Settings settings;
  settings.pollMs = std::max(MIN_POLL_MS, numberAt(0).value_or(DEFAULT_POLL_MS));
  settings.durationMs = std::max(settings.pollMs, numberAt(1).value_or(DEFAULT_DURATION_MS));
  return settings;
}
