// The ranking of gathered texts into a poll line's list: the combined text, then the longest ones.
#include "fieldpeek/candidates.h"

#include <algorithm>

#include "common/text.h"
#include "fieldpeek/collect_text.h"

std::string combinedText(const std::vector<std::string>& texts) {
  std::string joined;
  for (size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) joined.push_back('\n');
    joined.append(texts[i]);
  }
  return std::string(firstChars(joined, MAX_CHARS));
}

std::vector<std::string> candidates(const std::vector<std::string>& texts) {
  if (texts.empty()) return {};
  std::vector<std::string> result{combinedText(texts)};

  struct Ranked {
    int64_t chars;
    const std::string* text;
  };
  std::vector<Ranked> ranked;
  ranked.reserve(texts.size());
  for (const auto& text : texts) ranked.push_back({charCount(text), &text});
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const Ranked& a, const Ranked& b) { return a.chars > b.chars; });

  size_t taken = std::min(ranked.size(), static_cast<size_t>(MAX_CANDIDATES));
  for (size_t i = 0; i < taken; ++i) {
    if (canonicallyEqual(*ranked[i].text, result.front())) continue;
    result.push_back(*ranked[i].text);
  }
  return result;
}
