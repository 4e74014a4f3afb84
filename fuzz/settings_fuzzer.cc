// Fuzzes fieldpeek's argument rule: any bytes give settings within bounds, and a number is taken
// exactly when the whole argument is a signed decimal that fits 64 bits.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fieldpeek/settings.h"
#include "fuzz/checks.h"

namespace {

// An independent reading of the rule, with 128-bit arithmetic instead of from_chars.
std::optional<int64_t> referenceNumber(std::string_view s) {
  bool negative = false;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) return std::nullopt;
  __int128 value = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > (static_cast<__int128>(1) << 64)) return std::nullopt;  // stays above the limit
  }
  if (negative) value = -value;
  if (value > INT64_MAX || value < INT64_MIN) return std::nullopt;
  return static_cast<int64_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Arguments are NUL-separated, as the kernel hands them over; a fourth and later are extra.
  std::vector<std::string> owned;
  std::string current;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      owned.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  owned.push_back(current);
  std::vector<std::string_view> arguments(owned.begin(), owned.end());

  for (const auto& argument : arguments) check(parseNumber(argument) == referenceNumber(argument));

  const Settings settings = settingsFromArgs(arguments);
  check(settings.pollMs >= MIN_POLL_MS);
  check(settings.durationMs >= settings.pollMs);

  const auto poll = referenceNumber(arguments[0]);
  const int64_t wantPoll =
      poll && *poll > MIN_POLL_MS ? *poll : (poll ? MIN_POLL_MS : DEFAULT_POLL_MS);
  check(settings.pollMs == wantPoll);
  const auto duration = arguments.size() > 1 ? referenceNumber(arguments[1]) : std::nullopt;
  const int64_t wantDuration = duration.value_or(DEFAULT_DURATION_MS);
  check(settings.durationMs == (wantDuration > wantPoll ? wantDuration : wantPoll));

  // Extra arguments change nothing.
  if (arguments.size() > 2) {
    const Settings two = settingsFromArgs({arguments[0], arguments[1]});
    check(two.pollMs == settings.pollMs && two.durationMs == settings.durationMs);
  }
  return 0;
}
