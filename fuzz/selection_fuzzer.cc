// Fuzzes selprobe's clamping, its three cuts and its result line over hostile UTF-16 and ranges:
// bounds in order, pieces valid UTF-8 within their limits, the truncation flag exact, nothing lost
// when nothing is cut, and the JSON line read back to exactly the pieces.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>

#include "common/text.h"
#include "fuzz/checks.h"
#include "selprobe/result.h"
#include "selprobe/selection.h"

namespace {

constexpr int64_t MIN64 = std::numeric_limits<int64_t>::min();
constexpr int64_t MAX64 = std::numeric_limits<int64_t>::max();

// Ranges near the text and near the ends of the 64-bit range, where clamping can go wrong.
int64_t rangeNumber(FuzzedDataProvider& in, int64_t n) {
  switch (in.ConsumeIntegralInRange<int>(0, 5)) {
    case 0:
      return in.ConsumeIntegralInRange<int64_t>(-2, n + 2);
    case 1:
      return MAX64 - in.ConsumeIntegralInRange<int64_t>(0, 3);
    case 2:
      return MIN64 + in.ConsumeIntegralInRange<int64_t>(0, 3);
    case 3:
      return in.ConsumeIntegral<int64_t>();
    default:
      return in.ConsumeIntegralInRange<int64_t>(0, n);
  }
}

// A boundary between the halves of a surrogate pair turns each half into U+FFFD.
bool splitsPair(const std::u16string& u, size_t at) {
  return at > 0 && at < u.size() && u[at - 1] >= 0xD800 && u[at - 1] <= 0xDBFF && u[at] >= 0xDC00 &&
         u[at] <= 0xDFFF;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const std::u16string units = hostileUnits(in);
  const auto n = static_cast<int64_t>(units.size());
  const TextRange range{rangeNumber(in, n), rangeNumber(in, n)};

  const Bounds b = clampRange(range, n);
  check(0 <= b.start && b.start <= b.end && b.end <= n);
  check(b.start == std::max<int64_t>(0, std::min(range.location, n)));
  const __int128 sum = static_cast<__int128>(range.location) + range.length;
  const __int128 stop = sum < n ? sum : n;
  check(b.end == (stop > b.start ? static_cast<int64_t>(stop) : b.start));

  const Pieces p = cutPieces(units, range);
  for (const auto* piece : {&p.before, &p.selected, &p.after}) check(validUtf8(*piece));
  const std::string beforeAll = utf8FromUtf16(units.substr(0, b.start));
  const std::string selectedAll = utf8FromUtf16(units.substr(b.start, b.end - b.start));
  const std::string afterAll = utf8FromUtf16(units.substr(b.end));
  const int64_t beforeChars = charCount(beforeAll);
  const int64_t selectedChars = charCount(selectedAll);
  const int64_t afterChars = charCount(afterAll);
  check(charCount(p.before) == std::min(beforeChars, MAX_SIDE));
  check(charCount(p.selected) == std::min(selectedChars, MAX_SELECTION));
  check(charCount(p.after) == std::min(afterChars, MAX_SIDE));
  check(p.truncated == (beforeChars > MAX_SIDE));
  // Each piece is the right end of its whole: the last characters before, the first ones after.
  check(beforeAll.size() >= p.before.size() &&
        beforeAll.compare(beforeAll.size() - p.before.size(), p.before.size(), p.before) == 0);
  check(selectedAll.compare(0, p.selected.size(), p.selected) == 0);
  check(afterAll.compare(0, p.after.size(), p.after) == 0);
  if (beforeChars <= MAX_SIDE && selectedChars <= MAX_SELECTION && afterChars <= MAX_SIDE) {
    check(p.before + p.selected + p.after == beforeAll + selectedAll + afterAll);
    if (!splitsPair(units, b.start) && !splitsPair(units, b.end)) {
      check(p.before + p.selected + p.after == utf8FromUtf16(units));
    }
  }

  const std::string role = utf8FromUtf16(hostileUnits(in, 8));
  const std::string line = resultLine(success(role, p));
  check(!line.empty() && line.back() == '\n' && line.find('\n') == line.size() - 1);
  check(validUtf8(line));
  const auto back = nlohmann::json::parse(line);
  check(back.size() == 6 && back["ok"] == true && back["role"] == role);
  check(back["before"] == p.before && back["selected"] == p.selected && back["after"] == p.after);
  check(back["truncated"].is_boolean() && back["truncated"] == p.truncated);
  return 0;
}
