// The ranking: combined text first, then the longest single texts, stable, no refill.
#include "fieldpeek/candidates.h"

#include <gtest/gtest.h>

#include "common/text.h"
#include "fieldpeek/collect_text.h"

namespace {

using Texts = std::vector<std::string>;

TEST(Candidates, Examples) {
  struct Row {
    const char* name;
    Texts gathered;
    Texts expected;
  } rows[] = {
      {"empty", {}, {}},
      {"longest first", {"abcd", "efghijk"}, {"abcd\nefghijk", "efghijk", "abcd"}},
      {"duplicates stay", {"same", "same"}, {"same\nsame", "same", "same"}},
      {"counted in characters",
       {"\xF0\x9F\x91\x8D\xF0\x9F\x91\x8D\xF0\x9F\x91\x8D", "abcd"},
       {"\xF0\x9F\x91\x8D\xF0\x9F\x91\x8D\xF0\x9F\x91\x8D\nabcd", "abcd",
        "\xF0\x9F\x91\x8D\xF0\x9F\x91\x8D\xF0\x9F\x91\x8D"}},
  };
  for (const auto& row : rows) EXPECT_EQ(candidates(row.gathered), row.expected) << row.name;
}

TEST(Candidates, SkipIsByCanonicalEquivalence) {
  std::string decomposed, precomposed;
  for (int i = 0; i < MAX_CHARS; ++i) {
    decomposed += "e\xCC\x81";
    precomposed += "\xC3\xA9";
  }
  // The combined text is the decomposed one cut to 20000 characters; the precomposed text differs
  // in bytes but is canonically equal, so it is skipped as well.
  Texts result = candidates({decomposed, precomposed});
  ASSERT_EQ(result.size(), 1u);
  EXPECT_EQ(result[0], decomposed);
}

TEST(Candidates, TopTenStayInOrderAndASkippedOneIsNotRefilled) {
  // The first text, cut to MAX_CHARS, is the combined text itself, so it is skipped; ten are
  // considered, so no eleventh takes its place. Enough equal lengths that an unstable sort would
  // move them (small arrays often stay in order).
  Texts gathered{std::string(MAX_CHARS, 'x')};
  for (int i = 0; i < 64; ++i)
    gathered.push_back((i % 2 ? "long!" : "tiny") + std::to_string(10 + i));
  Texts result = candidates(gathered);
  ASSERT_EQ(result.size(), 10u);
  EXPECT_EQ(result[0], gathered[0]);
  for (size_t i = 1; i < result.size(); ++i)
    EXPECT_EQ(result[i], "long!" + std::to_string(9 + 2 * i)) << "entry " << i;
}

}  // namespace
