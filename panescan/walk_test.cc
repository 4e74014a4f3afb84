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

TEST(Walk, StopsAt4000ElementsBeforeReadingThe4001st) {
  FakeAccessibility ax;
  auto window = fakeNode("AXWindow");
  for (int i = 0; i < 4004; ++i) window->add(fakeNode("AXStaticText", u"short"));
  WalkState state;
  walk(ax, state, window, 0);
  EXPECT_EQ(state.visited, 4000);
  EXPECT_TRUE(ax.wasRead(window->children[3998].get()));  // the window is the first element
  EXPECT_FALSE(ax.wasRead(window->children[3999].get()));
}

TEST(Walk, VisitsLevel45AndReadsItsChildrenButNotLevel46) {
  FakeAccessibility ax;
  auto window = fakeNode("AXWindow");
  auto level45 = fakeChain(window, 45);
  auto level46 = fakeNode("AXStaticText", repeat(u"z", 30));
  level45->add(level46);
  WalkState state;
  walk(ax, state, window, 0);
  EXPECT_EQ(state.visited, 46);
  EXPECT_EQ(ax.readCount("AXChildren", level45.get()), 1);
  EXPECT_FALSE(ax.wasRead(level46.get()));
}

TEST(Walk, WalksBelowCollectedValuesAndStopsOnceTheCharacterBudgetIsSpent) {
  FakeAccessibility ax;
  auto window = fakeNode("AXWindow");
  auto big = fakeNode("AXTextArea", repeat(u"y", 15990));
  auto nested = fakeNode("AXStaticText", repeat(u"n", 30));  // carries the text past 16000
  big->add(nested);
  auto late = fakeNode("AXStaticText", repeat(u"l", 30));
  window->add(big);
  window->add(late);
  WalkState state;
  walk(ax, state, window, 0);
  EXPECT_EQ(state.textAreas, 2);
  EXPECT_EQ(state.collectedChars, 15992 + 32);
  EXPECT_FALSE(ax.wasRead(late.get()));
  EXPECT_EQ(state.visited, 3);
}

}  // namespace
