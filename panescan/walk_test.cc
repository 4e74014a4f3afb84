// The walk's collection rule and its three budgets, against the in-memory accessibility tree.
#include "panescan/walk.h"

#include <gtest/gtest.h>

#include "common/text.h"
#include "testing/fake_ax.h"

namespace {

std::u16string repeat(std::u16string_view unit, int times) {
  std::u16string out;
  for (int i = 0; i < times; ++i) out += unit;
  return out;
}

TEST(Walk, CollectsTextRolesOfAtLeast25Characters) {
  struct Row {
    const char* name;
    std::string role;
    std::u16string value;
    int64_t textAreas;
    int64_t chars;  // the value and its two line feeds
  } rows[] = {
      {"25 characters", "AXStaticText", repeat(u"a", 25), 1, 27},
      {"24 characters", "AXStaticText", repeat(u"a", 24), 0, 0},
      {"ending in CR joins the first line feed", "AXStaticText", repeat(u"d", 24) + u"\r", 1, 26},
      {"24 letters with combining marks", "AXStaticText", repeat(u"e\u0301", 24), 0, 0},
      {"other role", "AXButton", repeat(u"f", 40), 0, 0},
  };
  for (const auto& row : rows) {
    FakeAccessibility ax;
    auto window = fakeNode("AXWindow");
    window->add(fakeNode(row.role, row.value));
    WalkState state;
    walk(ax, state, window, 0);
    EXPECT_EQ(state.textAreas, row.textAreas) << row.name;
    EXPECT_EQ(state.collectedChars, row.chars) << row.name;
    EXPECT_EQ(charCount(state.collected), state.collectedChars) << row.name;
    EXPECT_EQ(state.visited, 2) << row.name;
  }
}

// Each budget ends the walk before what it refuses is read: the 4001st element, level 46, and
// whatever follows the value that spends the 16000 characters (the value's own children are
// walked).
TEST(Walk, StopsAtEachBudgetBeforeReadingWhatItRefuses) {
  FakeAccessibility ax;
  const auto walked = [&](const FakeNodePtr& window) {
    WalkState state;
    walk(ax, state, window, 0);
    return state;
  };
  auto wide = fakeNode("AXWindow"), deep = fakeNode("AXWindow"), full = fakeNode("AXWindow");
  for (int i = 0; i < 4004; ++i) wide->add(fakeNode("AXStaticText", u"short"));
  EXPECT_EQ(walked(wide).visited, 4000);
  EXPECT_TRUE(ax.wasRead(wide->children[3998].get()));  // the window is the first element
  EXPECT_FALSE(ax.wasRead(wide->children[3999].get()));

  auto level45 = fakeChain(deep, 45), level46 = fakeNode("AXStaticText", repeat(u"z", 30));
  level45->add(level46);
  EXPECT_EQ(walked(deep).visited, 46);
  EXPECT_EQ(ax.readCount("AXChildren", level45.get()), 1);
  EXPECT_FALSE(ax.wasRead(level46.get()));

  auto big = fakeNode("AXTextArea", repeat(u"y", 15990)), late = fakeNode("AXStaticText", u"late");
  big->add(fakeNode("AXStaticText", repeat(u"n", 30)));  // carries the text past 16000
  full->add(big)->add(late);
  const WalkState state = walked(full);
  EXPECT_EQ(state.textAreas, 2);
  EXPECT_EQ(state.collectedChars, 15992 + 32);
  EXPECT_EQ(state.visited, 3);
  EXPECT_FALSE(ax.wasRead(late.get()));
}

}  // namespace
