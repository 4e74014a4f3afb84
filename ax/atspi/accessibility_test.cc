// The pure pieces of the AT-SPI layer: the role table and toolkit offsets to UTF-16 offsets.
#include <gtest/gtest.h>

#include <string>

#include "ax/atspi/offsets.h"
#include "ax/atspi/roles.h"

namespace {

constexpr StateSet bit(int n) {
  return StateSet{1} << n;
}

TEST(AtspiRoles, MapsRolesAndLineStatesToPlatformNames) {
  using namespace atspi_role;
  using namespace atspi_state;
  struct Row {
    const char* name;
    uint32_t role;
    StateSet states;
    std::string_view expected;
  } rows[] = {
      {"gtk text view", TEXT, bit(MULTI_LINE) | bit(EDITABLE), "AXTextArea"},
      {"gtk entry", TEXT, bit(SINGLE_LINE) | bit(EDITABLE), "AXTextField"},
      {"gtk 4 entry: no line state", TEXT, bit(EDITABLE), "AXTextField"},
      {"text claiming both lines", TEXT, bit(SINGLE_LINE) | bit(MULTI_LINE), "AXTextArea"},
      {"chromium textarea", ENTRY, bit(MULTI_LINE) | bit(EDITABLE), "AXTextArea"},
      {"plain paragraph", PARAGRAPH, 0, "AXStaticText"},
      {"editable paragraph", PARAGRAPH, bit(EDITABLE), "AXTextArea"},
      {"contenteditable section", SECTION, bit(EDITABLE) | bit(FOCUSED), "AXTextArea"},
      {"frame", FRAME, bit(ACTIVE), "AXWindow"},
      {"separator", 50, 0, "AXUnknown"},
      {"beyond the table", 100000, 0, "AXUnknown"},
  };
  for (const Row& row : rows)
    EXPECT_EQ(platformRoleName(row.role, row.states), row.expected) << row.name;
}

// Offsets count code points (GTK), unless the count is the text's UTF-16 length (Qt 5).
TEST(AtspiOffsets, ToolkitOffsetsBecomeUtf16Units) {
  const std::u16string text = u"a\U0001F600b\u00E9e\u0301\r\n";  // a 😀 b é e+◌́ CR LF: 8 code points
  const std::u16string emoji = u"a\U0001F600b";                  // 3 code points, 4 units
  struct Row {
    const char* name;
    std::u16string_view text;
    int64_t characterCount, offset, expected;
  } rows[] = {
      {"after the emoji counts two units", text, 8, 2, 3},
      {"between e and its combining mark", text, 8, 5, 6},
      {"past the end keeps its distance", text, 8, 10, 11},
      {"negative is the start", text, 8, -1, 0},
      {"empty text", u"", 0, 3, 3},
      {"lone high surrogate counts alone", u"\xD83Dx", 2, 1, 1},
      {"lone low surrogate counts alone", u"\xDE00x", 2, 2, 2},
      {"pair at the very end", u"\U0001F600", 1, 1, 2},
      {"qt 5 counts the pair as two", emoji, 4, 3, 3},
      {"a count matching neither reads as code points", emoji, 7, 2, 3},
      {"qt 5 negative is the start", emoji, 4, -2, 0},
  };
  for (const Row& row : rows) {
    const OffsetUnit unit = offsetUnitOf(row.text, row.characterCount);
    EXPECT_EQ(utf16Offset(row.text, row.offset, unit), row.expected) << row.name;
  }
}

TEST(AtspiOffsets, OnlyTheFeffAfterACharacterBeyondTheBmpIsPadding) {
  struct Row {
    const char* name;
    std::string text;
    std::string expected;
  } rows[] = {
      {"after each emoji", "a\U0001F600\uFEFFb\U0001F600\uFEFF", "a\U0001F600b\U0001F600"},
      {"one per character", "\U0001F600\uFEFF\uFEFF", "\U0001F600\uFEFF"},
      {"not after a bmp character", "\uFEFFa\u00E9\uFEFF\u4E2D\uFEFF",
       "\uFEFFa\u00E9\uFEFF\u4E2D\uFEFF"},
      {"none to drop", "x\U0001F600", "x\U0001F600"},
  };
  for (const Row& row : rows) EXPECT_EQ(withoutAstralPadding(row.text), row.expected) << row.name;
}

}  // namespace
