// The fallback chain of one reading and the once-per-application tree request.
#include "fieldpeek/read_candidates.h"

#include <gtest/gtest.h>

#include "common/host_bundle.h"
#include "common/text.h"
#include "fieldpeek/collect_text.h"
#include "testing/fake_ax.h"

namespace {

using Texts = std::vector<std::string>;

// An application whose focused element, focused window and window list a test fills in.
struct App {
  FakeNodePtr app = fakeNode("AXApplication");
  FakeNodePtr window = fakeNode("AXWindow");

  App* focus(const FakeNodePtr& element) {
    app->set("AXFocusedUIElement", AttrValue{Element(element)});
    return this;
  }
  App* focusWindow() {
    app->set("AXFocusedWindow", AttrValue{Element(window)});
    return this;
  }
  App* listWindows(std::vector<FakeNodePtr> windows) {
    AttrValue::List list;
    for (auto& w : windows) list.push_back(AttrValue{Element(w)});
    app->set("AXWindows", AttrValue{std::move(list)});
    return this;
  }
};

Reading readOnce(FakeAccessibility& ax, const App& app) {
  ax.setFrontmost(7, app.app, "org.example.editor");
  RunState state;
  return readCandidates(ax, state);
}

TEST(ReadCandidates, OwnValueIsTheOnlyText) {
  struct Row {
    const char* name;
    std::string role;
    std::u16string value;
    std::string expectedRole;
    Texts expected;
  } rows[] = {
      {"short button", "AXButton", u"OK", "AXButton", {"OK"}},
      {"no role", "", u"value", "?", {"value"}},
      {"unpaired surrogate", "AXTextArea", u"a\xD800z", "AXTextArea", {"a\xEF\xBF\xBDz"}},
      {"cut",
       "AXTextArea",
       std::u16string(MAX_CHARS + 5, u'q'),
       "AXTextArea",
       {std::string(MAX_CHARS, 'q')}},
  };
  for (const auto& row : rows) {
    FakeAccessibility ax;
    App app;
    auto field = fakeNode(row.role, row.value);
    if (row.role.empty()) field->attributes.erase("AXRole");
    field->add(fakeNode("AXStaticText", u"child text"));
    app.focus(field)->focusWindow();
    Reading reading = readOnce(ax, app);
    EXPECT_EQ(reading.role, row.expectedRole) << row.name;
    EXPECT_EQ(reading.texts, row.expected) << row.name;
    EXPECT_EQ(ax.readCount("AXChildren"), 0) << row.name;
    EXPECT_EQ(ax.readCount("AXFocusedWindow"), 0) << row.name;
  }
}

TEST(ReadCandidates, SubtreeOfTheFocusedElementBeforeTheWindow) {
  FakeAccessibility ax;
  App app;
  auto group = fakeNode("AXGroup");
  group->add(fakeNode("AXStaticText", u"abcd"))->add(fakeNode("AXStaticText", u"efghijk"));
  app.focus(group)->focusWindow();
  Reading reading = readOnce(ax, app);
  EXPECT_EQ(reading.role, "AXGroup");
  EXPECT_EQ(reading.texts, (Texts{"abcd\nefghijk", "efghijk", "abcd"}));
  EXPECT_EQ(ax.readCount("AXFocusedWindow"), 0);
}

TEST(ReadCandidates, WindowFallbacks) {
  struct Row {
    const char* name;
    bool focusedElement;  // an empty-valued button with no texts beneath it
    bool focusedWindow;   // holding "window text" unless emptyWindow
    bool emptyWindow;
    bool windowList;
    std::string role;
    Texts expected;
    int windowListReads;
  } rows[] = {
      {"focused element without text", true, true, false, true, "AXButton", {"window text"}, 0},
      {"no focused element", false, true, false, true, "?", {"window text"}, 0},
      {"empty focused window: no window list", false, true, true, true, "?", {}, 0},
      {"no focused window", false, false, false, true, "?", {"first window"}, 1},
      {"no windows at all", false, false, false, false, "?", {}, 1},
  };
  for (const auto& row : rows) {
    FakeAccessibility ax;
    App app;
    if (!row.emptyWindow) app.window->add(fakeNode("AXStaticText", u"window text"));
    auto first = fakeNode("AXWindow");
    first->add(fakeNode("AXStaticText", u"first window"));
    auto second = fakeNode("AXWindow");
    second->add(fakeNode("AXStaticText", u"second window"));
    if (row.focusedElement) app.focus(fakeNode("AXButton", u""));
    if (row.focusedWindow) app.focusWindow();
    if (row.windowList) app.listWindows({first, second});
    Reading reading = readOnce(ax, app);
    EXPECT_EQ(reading.role, row.role) << row.name;
    EXPECT_EQ(reading.texts, row.expected) << row.name;
    EXPECT_EQ(ax.readCount("AXWindows"), row.windowListReads) << row.name;
    EXPECT_FALSE(ax.wasRead(second.get())) << row.name;
  }
}

TEST(ReadCandidates, WindowWalkHasItsOwnBudget) {
  FakeAccessibility ax;
  App app;
  auto busy = fakeNode("AXGroup");
  for (int i = 0; i < MAX_NODES + 10; ++i) busy->add(fakeNode("AXGroup"));
  app.focus(busy)->focusWindow();
  app.window->add(fakeNode("AXStaticText", u"window text"));
  Reading reading = readOnce(ax, app);
  EXPECT_EQ(reading.texts, Texts{"window text"});
}

TEST(ReadCandidates, NoFrontmostAndSelfReadNothing) {
  FakeAccessibility ax;
  RunState state;
  Reading none = readCandidates(ax, state);
  EXPECT_EQ(none.role, "no-frontmost");
  EXPECT_TRUE(none.texts.empty());

  App host;
  host.focus(fakeNode("AXTextField", u"host text"));
  ax.setFrontmost(3, host.app, std::string(hostBundleID));
  Reading self = readCandidates(ax, state);
  EXPECT_EQ(self.role, "self");
  EXPECT_TRUE(self.texts.empty());
  EXPECT_TRUE(ax.reads.empty());
  EXPECT_TRUE(ax.writes.empty());

  // An application without a bundle identifier is never taken for the host.
  ax.setFrontmost(4, host.app, std::nullopt);
  EXPECT_EQ(readCandidates(ax, state).texts, Texts{"host text"});
}

TEST(ReadCandidates, OneTreeRequestPerApplicationHoweverFocusAlternates) {
  FakeAccessibility ax;
  RunState state;
  App first;
  App second;
  for (int i = 0; i < 6; ++i) {
    ax.setFrontmost(i % 2 ? 20 : 10, i % 2 ? second.app : first.app, "org.example.app");
    readCandidates(ax, state);
  }
  ASSERT_EQ(ax.writes.size(), 2u);
  EXPECT_EQ(ax.writes[0].node, first.app.get());
  EXPECT_EQ(ax.writes[1].node, second.app.get());
  for (const auto& write : ax.writes) {
    EXPECT_EQ(write.attribute, "AXManualAccessibility");
    EXPECT_TRUE(write.value);
  }
  EXPECT_EQ(state.treeEnabled, (std::set<int32_t>{10, 20}));
}

}  // namespace
