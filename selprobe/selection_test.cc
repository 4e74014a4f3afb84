// Clamping of out-of-range selections and the character-limited cuts on the hard cases.
#include "selprobe/selection.h"

#include <gtest/gtest.h>

#include <limits>

#include "common/text.h"

namespace {

constexpr int64_t MAX64 = std::numeric_limits<int64_t>::max();
constexpr int64_t MIN64 = std::numeric_limits<int64_t>::min();
const std::string FFFD = "\xEF\xBF\xBD";
const std::u16string EMOJI = u"\U0001F600";  // two code units

std::u16string repeat(const std::u16string& unit, int times) {
  std::u16string out;
  for (int i = 0; i < times; ++i) out += unit;
  return out;
}

TEST(Selection, ClampKeepsBoundsInsideTheText) {
  struct Row {
    const char* name;
    TextRange range;
    Bounds expected;
  } rows[] = {
      {"length past the end", {8, 5}, {8, 10}},
      {"location past the end", {11, 2}, {10, 10}},
      {"negative location", {-3, 5}, {0, 2}},
      {"negative location ending before 0", {-5, 2}, {0, 0}},
      {"location near the largest value", {MAX64 - 1, 5}, {10, 10}},
      {"sum overflows upwards", {3, MAX64}, {3, 10}},
      {"sum overflows downwards", {-1, MIN64}, {0, 0}},
      {"smallest location", {MIN64, MAX64}, {0, 0}},
  };
  for (const auto& row : rows) EXPECT_EQ(clampRange(row.range, 10), row.expected) << row.name;
}

TEST(Selection, CaretInsideASurrogatePairLeavesAReplacementOnEachSide) {
  const Pieces p = cutPieces(u"a" + EMOJI + u"b", {2, 0});
  EXPECT_EQ((std::vector<std::string>{p.before, p.selected, p.after}),
            (std::vector<std::string>{"a" + FFFD, "", FFFD + "b"}));
}

TEST(Selection, LimitsCountCharactersNotCodeUnits) {
  struct Row {
    const char* name;
    std::u16string before, selected, after;
    int64_t beforeChars, selectedChars, afterChars;
    bool truncated;
  } rows[] = {
      {"601 before", repeat(u"x", 601), u"", u"", 600, 0, 0, true},
      {"600 emoji before", repeat(EMOJI, 600), u"", u"", 600, 0, 0, false},
      {"selection one over", u"ab", repeat(u"y", 20001), u"", 2, 20000, 0, false},
      {"700 after", u"", u"sel", repeat(u"z", 700), 0, 3, 600, false},
  };
  for (const auto& row : rows) {
    const auto units = row.before + row.selected + row.after;
    Pieces p = cutPieces(units, {static_cast<int64_t>(row.before.size()),
                                 static_cast<int64_t>(row.selected.size())});
    EXPECT_EQ(charCount(p.before), row.beforeChars) << row.name;
    EXPECT_EQ(charCount(p.selected), row.selectedChars) << row.name;
    EXPECT_EQ(charCount(p.after), row.afterChars) << row.name;
    EXPECT_EQ(p.truncated, row.truncated) << row.name;
    // Kept pieces are the ends next to the selection, never the far ends.
    EXPECT_TRUE(utf8FromUtf16(row.before).ends_with(p.before)) << row.name;
    EXPECT_TRUE(utf8FromUtf16(row.selected).starts_with(p.selected)) << row.name;
    EXPECT_TRUE(utf8FromUtf16(row.after).starts_with(p.after)) << row.name;
  }
}

}  // namespace
