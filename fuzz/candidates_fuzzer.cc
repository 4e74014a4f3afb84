// Fuzzes fieldpeek's ranking and poll line over random texts: the combined text first and cut, then
// at most MAX_CANDIDATES of the longest in stable order, and a line that parses back to them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "common/text.h"
#include "fieldpeek/candidates.h"
#include "fieldpeek/collect_text.h"
#include "fieldpeek/poll_line.h"
#include "fuzz/checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  std::vector<std::string> texts;
  const size_t count = in.ConsumeIntegralInRange<size_t>(0, 14);
  for (size_t i = 0; i < count; ++i) {
    // Texts as the walk gathers them: valid UTF-8, at most MAX_CHARS characters; now and then a
    // copy of an earlier one, so that duplicates and canonical twins meet.
    if (!texts.empty() && in.ConsumeIntegralInRange<int>(0, 5) == 0) {
      texts.push_back(texts[in.ConsumeIntegralInRange<size_t>(0, texts.size() - 1)]);
    } else {
      texts.emplace_back(firstChars(utf8FromUtf16(hostileUnits(in)), MAX_CHARS));
    }
  }

  const std::vector<std::string> result = candidates(texts);
  if (texts.empty()) {
    check(result.empty());
  } else {
    check(!result.empty() && result.size() <= static_cast<size_t>(MAX_CANDIDATES) + 1);
    check(result.front() == combinedText(texts));
    for (const auto& text : result) check(validUtf8(text) && charCount(text) <= MAX_CHARS);

    // The expected list: ranks by character count, ties in gathered order, the first
    // MAX_CANDIDATES of them, less those canonically equal to the combined text.
    std::vector<size_t> order(texts.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::vector<int64_t> chars;
    for (const auto& text : texts) chars.push_back(charCount(text));
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
      return chars[a] != chars[b] ? chars[a] > chars[b] : a < b;
    });
    std::vector<std::string> want{result.front()};
    for (size_t i = 0; i < order.size() && i < static_cast<size_t>(MAX_CANDIDATES); ++i) {
      if (!canonicallyEqual(texts[order[i]], result.front())) want.push_back(texts[order[i]]);
    }
    check(result == want);
  }

  const Reading reading{utf8FromUtf16(hostileUnits(in, 6)), result};
  const auto line = pollLine(reading);
  check(line.has_value());
  check(!line->empty() && line->back() == '\n' && line->find('\n') == line->size() - 1);
  check(validUtf8(*line));
  const auto back = nlohmann::json::parse(*line);
  check(back.size() == 2 && back["role"] == reading.role);
  check(back["texts"].get<std::vector<std::string>>() == result);
  return 0;
}
