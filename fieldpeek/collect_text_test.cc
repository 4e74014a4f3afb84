// The walk's budgets, depth limit, text rules and visiting order, against the in-memory tree.
#include "fieldpeek/collect_text.h"

#include <gtest/gtest.h>

#include "common/text.h"
#include "testing/fake_ax.h"

namespace {

const std::u16string FAMILY = u"\U0001F468\u200D\U0001F469\u200D\U0001F467";  // one character

std::vector<std::string> walk(FakeAccessibility& ax, const FakeNodePtr& root, int64_t* count = {}) {
  std::vector<std::string> texts;
  int64_t n = 0;
  collectText(ax, root, 0, n, texts);
  if (count) *count = n;
  return texts;
}

TEST(CollectText, WhichValuesAreGathered) {
  struct Row {
    const char* name;
    std::string role;
    AttrValue value;
    bool gathered;
  } rows[] = {
      {"text field of 3", "AXTextField", AttrValue{u"abc"}, false},
      {"text field of 4", "AXTextField", AttrValue{u"abcd"}, true},
      {"four blanks", "AXStaticText", AttrValue{u"    "}, true},
      {"text area", "AXTextArea", AttrValue{u"long enough"}, true},
      {"combo box", "AXComboBox", AttrValue{u"long enough"}, true},
      {"four emoji", "AXStaticText", AttrValue{FAMILY + FAMILY + FAMILY + FAMILY}, true},
      {"three accented letters", "AXStaticText", AttrValue{u"e\u0301a\u0301o\u0301"}, false},
      {"group with text", "AXGroup", AttrValue{u"long enough"}, false},
      {"button with text", "AXButton", AttrValue{u"long enough"}, false},
      {"web area with text", "AXWebArea", AttrValue{u"long enough"}, false},
      {"number value", "AXStaticText", AttrValue{42.0}, false},
  };
  for (const auto& row : rows) {
    FakeAccessibility ax;
    auto root = fakeNode("AXGroup");
    auto node = fakeNode(row.role);
    node->set("AXValue", row.value);
    node->add(fakeNode("AXStaticText", u"child text"));
    root->add(node);
    auto texts = walk(ax, root);
    std::vector<std::string> expected;
    if (row.gathered) expected.push_back(utf8FromUtf16(*row.value.text()));
    expected.push_back("child text");  // children are visited whatever their parent gave
    EXPECT_EQ(texts, expected) << row.name;
    bool textRole = isTextRole(row.role);
    EXPECT_EQ(ax.readCount(node.get(), "AXValue"), textRole ? 1 : 0) << row.name;
  }
}

TEST(CollectText, RoleThatIsNotTextAndMissingRoleGiveNothing) {
  FakeAccessibility ax;
  auto root = fakeNode("AXGroup");
  auto numberRole = std::make_shared<FakeNode>("number role");
  numberRole->set("AXRole", AttrValue{1.0})->value(u"hidden text");
  auto noRole = std::make_shared<FakeNode>("no role");
  noRole->value(u"hidden text");
  root->add(numberRole)->add(noRole);
  EXPECT_TRUE(walk(ax, root).empty());
  EXPECT_EQ(ax.readCount("AXValue"), 0);
}

TEST(CollectText, PreOrderWithDuplicates) {
  FakeAccessibility ax;
  auto area = fakeNode("AXTextArea", u"first line\nsecond");
  area->add(fakeNode("AXStaticText", u"first line"))->add(fakeNode("AXStaticText", u"first line"));
  auto root = fakeNode("AXWindow");
  root->add(area)->add(fakeNode("AXStaticText", u"after area"));
  EXPECT_EQ(walk(ax, root), (std::vector<std::string>{"first line\nsecond", "first line",
                                                      "first line", "after area"}));
}

TEST(CollectText, LongValueIsCutToMaxChars) {
  FakeAccessibility ax;
  std::u16string value(MAX_CHARS - 1, u'x');
  value += FAMILY + u"tail";  // the 20000th character is four code points long
  auto root = fakeNode("AXStaticText", value);
  auto texts = walk(ax, root);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(charCount(texts[0]), MAX_CHARS);
  EXPECT_EQ(texts[0], std::string(MAX_CHARS - 1, 'x') + utf8FromUtf16(FAMILY));
}

TEST(CollectText, FlatTreeStopsAtMaxNodes) {
  FakeAccessibility ax;
  auto root = fakeNode("AXGroup");
  for (int i = 0; i < 5000; ++i) {
    root->add(fakeNode("AXStaticText", u"text " + std::u16string(1, char16_t(u'a' + i % 26))));
  }
  int64_t count = 0;
  auto texts = walk(ax, root, &count);
  EXPECT_EQ(count, MAX_NODES);
  EXPECT_EQ(texts.size(), static_cast<size_t>(MAX_NODES - 1));
  EXPECT_TRUE(ax.wasRead(root->children[MAX_NODES - 2].get()));   // the 4000th element
  EXPECT_FALSE(ax.wasRead(root->children[MAX_NODES - 1].get()));  // the 4001st
  EXPECT_FALSE(ax.wasRead(root->children.back().get()));
  // The read-ahead hint names only the children the budget lets the walk visit.
  ASSERT_EQ(ax.hints.size(), 1u);
  EXPECT_EQ(ax.hints[0].elements.size(), static_cast<size_t>(MAX_NODES - 1));
}

TEST(CollectText, BudgetIsSpentInPreOrder) {
  FakeAccessibility ax;
  auto root = fakeNode("AXWindow");
  auto first = fakeNode("AXGroup");
  for (int i = 0; i < MAX_NODES - 2; ++i) first->add(fakeNode("AXStaticText", u"deep text"));
  auto second = fakeNode("AXStaticText", u"never reached");
  root->add(first)->add(second);
  int64_t count = 0;
  auto texts = walk(ax, root, &count);
  EXPECT_EQ(count, MAX_NODES);
  EXPECT_EQ(texts.size(), static_cast<size_t>(MAX_NODES - 2));
  EXPECT_TRUE(ax.wasRead(first->children.back().get()));
  EXPECT_FALSE(ax.wasRead(second.get()));
}

TEST(CollectText, DepthFortyVisitedFortyOneNot) {
  FakeAccessibility ax;
  auto root = fakeNode("AXGroup");
  auto at39 = fakeChain(root, MAX_DEPTH - 1);
  auto at40 = fakeNode("AXStaticText", u"depth forty");
  auto at41 = fakeNode("AXStaticText", u"depth forty-one");
  at39->add(at40);
  at40->add(at41);
  int64_t count = 0;
  auto texts = walk(ax, root, &count);
  EXPECT_EQ(texts, std::vector<std::string>{"depth forty"});
  EXPECT_EQ(count, MAX_DEPTH + 1);
  EXPECT_FALSE(ax.wasRead(at41.get()));
}

TEST(CollectText, ChildrenThatAreNotAListGiveNoChildren) {
  FakeAccessibility ax;
  auto root = fakeNode("AXStaticText", u"own text");
  root->add(fakeNode("AXStaticText", u"hidden child"));
  root->set("AXChildren", AttrValue{u"not a list"});
  int64_t count = 0;
  EXPECT_EQ(walk(ax, root, &count), std::vector<std::string>{"own text"});
  EXPECT_EQ(count, 1);
}

TEST(CollectText, FailedReadsAndGoneElementsAreSkipped) {
  FakeAccessibility ax;
  auto root = fakeNode("AXGroup");
  auto gone = fakeNode("AXStaticText", u"gone text");
  gone->gone = true;
  auto failing = fakeNode("AXStaticText", u"failing text");
  failing->failingReads.insert("AXValue");
  root->add(gone)->add(failing)->add(fakeNode("AXStaticText", u"kept text"));
  int64_t count = 0;
  EXPECT_EQ(walk(ax, root, &count), std::vector<std::string>{"kept text"});
  EXPECT_EQ(count, 4);
}

}  // namespace
