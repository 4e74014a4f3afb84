// The fallback chain of one reading and the once-per-application tree request.
#include "fieldpeek/read_candidates.h"

#include <gtest/gtest.h>

#include "common/host_bundle.h"
#include "fieldpeek/collect_text.h"
#include "testing/fake_ax.h"

namespace {

using Texts = std::vector<std::string>;

AttrValue list(std::vector<FakeNodePtr> nodes) {
  AttrValue::List items;
  for (auto& node : nodes) items.push_back(AttrValue{Element(node)});
  return AttrValue{std::move(items)};
}

// The focused element's own value, else its subtree, else the focused window (however empty),
// else the first listed window; each step asks only what it needs.
TEST(ReadCandidates, FallbackChain) {
  struct Row {
    const char* name;
    FakeNodePtr focused;   // null: none
    std::u16string below;  // the text of the focused element's one child, if any
    bool focusedWindow;
    std::string role, text;
    int windowReads, windowListReads;
  } rows[] = {
      {"own value, however short", fakeNode("AXButton", u"OK"), u"child text", true, "AXButton",
       "OK", 0, 0},
      {"own value cut", fakeNode("AXTextArea", std::u16string(MAX_CHARS + 5, u'q')), u"child text",
       true, "AXTextArea", std::string(MAX_CHARS, 'q'), 0, 0},
      {"subtree", fakeNode("AXGroup"), u"child text", true, "AXGroup", "child text", 0, 0},
      {"nothing below the focused element", fakeNode("AXButton", u""), u"", true, "AXButton",
       "window text", 1, 0},
      {"no focused element", nullptr, u"", true, "?", "window text", 1, 0},
      {"no focused window", nullptr, u"", false, "?", "first window", 1, 1},
  };
  for (const auto& row : rows) {
    FakeAccessibility ax;
    auto app = fakeNode("AXApplication"), window = fakeNode("AXWindow");
    auto first = fakeNode("AXWindow"), second = fakeNode("AXWindow");
    window->add(fakeNode("AXStaticText", u"window text"));
    first->add(fakeNode("AXStaticText", u"first window"));
    app->set("AXWindows", list({first, second}));
    if (row.focusedWindow) app->set("AXFocusedWindow", AttrValue{Element(window)});
    if (row.focused) {
      if (!row.below.empty()) row.focused->add(fakeNode("AXStaticText", row.below));
      app->set("AXFocusedUIElement", AttrValue{Element(row.focused)});
    }
    ax.setFrontmost(7, app, "org.example.editor");
    RunState state;
    Reading reading = readCandidates(ax, state);
    EXPECT_EQ(reading.role, row.role) << row.name;
    EXPECT_EQ(reading.texts, Texts{row.text}) << row.name;
    EXPECT_EQ(ax.readCount("AXFocusedWindow"), row.windowReads) << row.name;
    EXPECT_EQ(ax.readCount("AXWindows"), row.windowListReads) << row.name;
    EXPECT_FALSE(ax.wasRead(second.get())) << row.name;
  }
}

// The host's own windows are never read; every other application is asked once per run to
// enable its tree, however often the focus alternates.
TEST(ReadCandidates, HostReadNothingAndOneTreeRequestPerApplication) {
  FakeAccessibility ax;
  RunState state;
  EXPECT_EQ(readCandidates(ax, state).role, "no-frontmost");
  auto host = fakeNode("AXApplication");
  host->set("AXFocusedUIElement", AttrValue{Element(fakeNode("AXTextField", u"host text"))});
  ax.setFrontmost(3, host, std::string(hostBundleID));
  EXPECT_EQ(readCandidates(ax, state).role, "self");
  EXPECT_TRUE(ax.reads.empty() && ax.writes.empty());

  auto other = fakeNode("AXApplication");
  for (int i = 0; i < 6; ++i) {
    // An application without a bundle identifier is never taken for the host.
    ax.setFrontmost(i % 2 ? 20 : 10, i % 2 ? other : host, std::nullopt);
    EXPECT_EQ(readCandidates(ax, state).texts, i % 2 ? Texts{} : Texts{"host text"});
  }
  ASSERT_EQ(ax.writes.size(), 2u);
  EXPECT_EQ(ax.writes[0].node, host.get());
  EXPECT_EQ(ax.writes[1].node, other.get());
  for (const auto& write : ax.writes)
    EXPECT_TRUE(write.attribute == "AXManualAccessibility" && write.value);
}

}  // namespace
