// The walk's budgets, depth limit, text rules and visiting order, against the in-memory tree.
#include "fieldpeek/collect_text.h"

#include <gtest/gtest.h>

#include "common/text.h"
#include "testing/fake_ax.h"

namespace {

using Texts = std::vector<std::string>;
const std::u16string FAMILY = u"\U0001F468\u200D\U0001F469\u200D\U0001F467";  // one character

Texts walk(FakeAccessibility& ax, const FakeNodePtr& root, int64_t* count = {}) {
  Texts texts;
  int64_t n = 0;
  collectText(ax, root, 0, n, texts);
  if (count) *count = n;
  return texts;
}

TEST(CollectText, WhichValuesAreGatheredAndRead) {
  struct Row {
    const char* name;
    std::string role;  // empty: no role at all
    AttrValue value;
    bool gathered;
  } rows[] = {
      {"text field of 3", "AXTextField", AttrValue{u"abc"}, false},
      {"combo box of 4", "AXComboBox", AttrValue{u"abcd"}, true},
      {"four emoji", "AXStaticText", AttrValue{FAMILY + FAMILY + FAMILY + FAMILY}, true},
      {"group with text", "AXGroup", AttrValue{u"long enough"}, false},
      {"no role", "", AttrValue{u"long enough"}, false},
  };
  for (const auto& row : rows) {
    FakeAccessibility ax;
    auto root = fakeNode("AXGroup");
    auto node = fakeNode(row.role);
    if (row.role.empty()) node->attributes.erase("AXRole");
    node->set("AXValue", row.value);
    node->add(fakeNode("AXStaticText", u"child text"));
    root->add(node);
    Texts expected;
    if (row.gathered) expected.push_back(utf8FromUtf16(*row.value.text()));
    expected.push_back("child text");  // children are visited whatever their parent gave
    EXPECT_EQ(walk(ax, root), expected) << row.name;
    // A reader never asks for the value of an element whose role has none.
    EXPECT_EQ(ax.readCount("AXValue", node.get()), isTextRole(row.role) ? 1 : 0) << row.name;
  }
}

TEST(CollectText, PreOrderWithDuplicatesSkippingWhatCannotBeRead) {
  FakeAccessibility ax;
  auto area = fakeNode("AXTextArea", u"first line\nsecond");
  area->add(fakeNode("AXStaticText", u"first line"))->add(fakeNode("AXStaticText", u"first line"));
  auto gone = fakeNode("AXStaticText", u"gone text");
  gone->gone = true;
  auto failing = fakeNode("AXStaticText", u"failing text");
  failing->failingReads.insert("AXValue");
  auto notAList = fakeNode("AXStaticText", u"own text");
  notAList->add(fakeNode("AXStaticText", u"hidden child"))->set("AXChildren", AttrValue{u"x"});
  auto root = fakeNode("AXWindow");
  root->add(area)->add(gone)->add(failing)->add(notAList)->add(fakeNode("AXStaticText", u"after"));
  int64_t count = 0;
  EXPECT_EQ(walk(ax, root, &count),
            (Texts{"first line\nsecond", "first line", "first line", "own text", "after"}));
  EXPECT_EQ(count, 8);
}

TEST(CollectText, BudgetsStopTheWalkBeforeTheFirstRefusedElementIsRead) {
  FakeAccessibility ax;
  auto root = fakeNode("AXGroup");
  for (int i = 0; i < 5000; ++i) root->add(fakeNode("AXStaticText", u"text"));
  int64_t count = 0;
  EXPECT_EQ(walk(ax, root, &count).size(), static_cast<size_t>(MAX_NODES - 1));
  EXPECT_EQ(count, MAX_NODES);
  EXPECT_TRUE(ax.wasRead(root->children[MAX_NODES - 2].get()));   // the 4000th element
  EXPECT_FALSE(ax.wasRead(root->children[MAX_NODES - 1].get()));  // the 4001st
  // The read-ahead hint names only the children the budget lets the walk visit.
  ASSERT_EQ(ax.hints.size(), 1u);
  EXPECT_EQ(ax.hints[0].elements.size(), static_cast<size_t>(MAX_NODES - 1));

  FakeAccessibility deep;
  auto top = fakeNode("AXGroup");
  auto at40 = fakeNode("AXStaticText", u"depth forty");
  auto at41 = fakeNode("AXStaticText", u"depth forty-one");
  fakeChain(top, MAX_DEPTH - 1)->add(at40);
  at40->add(at41);
  EXPECT_EQ(walk(deep, top, &count), Texts{"depth forty"});
  EXPECT_EQ(count, MAX_DEPTH + 1);
  EXPECT_FALSE(deep.wasRead(at41.get()));
}

}  // namespace
