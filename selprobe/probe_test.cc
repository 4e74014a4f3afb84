// The order of selprobe's checks and the line it writes, against the in-memory accessibility tree.
#include "selprobe/probe.h"

#include <gtest/gtest.h>

#include "common/host_bundle.h"
#include "selprobe/result.h"
#include "testing/fake_ax.h"

namespace {

constexpr int32_t PID = 42;

// A trusted session whose frontmost application focuses a text field "hello world", caret at 5.
struct Desk {
  FakeAccessibility ax;
  FakeNodePtr app = fakeNode("AXApplication");
  FakeNodePtr field = fakeNode("AXTextField", u"hello world");

  Desk() {
    ax.setFrontmost(PID, app, "org.example.editor");
    app->set("AXFocusedUIElement", AttrValue{Element(field)});
    field->set("AXSelectedTextRange", AttrValue{TextRange{5, 0}});
  }
};

TEST(Probe, EachFailingCheckGivesItsReasonAndStopsThere) {
  struct Row {
    std::string_view reason;
    std::function<void(Desk&)> breakIt;
    std::vector<std::string> notRead;  // attributes the failing check must leave alone
  } rows[] = {
      {REASON_NOT_TRUSTED, [](Desk& d) { d.ax.trusted = false; }, {"AXFocusedUIElement"}},
      {REASON_NO_FRONTMOST, [](Desk& d) { d.ax.frontmost.reset(); }, {"AXFocusedUIElement"}},
      {REASON_SELF,
       [](Desk& d) { d.ax.frontmost->bundleId = std::string(hostBundleID); },
       {"AXFocusedUIElement"}},
      {REASON_NO_FOCUSED_ELEMENT,
       [](Desk& d) { d.app->set("AXFocusedUIElement", AttrValue{u"not an element"}); },
       {"AXRole", "AXValue"}},
      {REASON_NO_VALUE,
       [](Desk& d) { d.field->set("AXValue", AttrValue{3.0}); },
       {"AXSelectedTextRange"}},
      {REASON_NO_CARET, [](Desk& d) { d.field->attributes.erase("AXSelectedTextRange"); }, {}},
      {REASON_BAD_RANGE,
       [](Desk& d) { d.field->set("AXSelectedTextRange", AttrValue{OpaqueValue{}}); },
       {}},
  };
  for (const auto& row : rows) {
    Desk desk;
    row.breakIt(desk);
    EXPECT_EQ(probeSelection(desk.ax), (nlohmann::json{{"ok", false}, {"reason", row.reason}}))
        << row.reason;
    for (const auto& name : row.notRead) EXPECT_EQ(desk.ax.readCount(name), 0) << row.reason;
    EXPECT_EQ(desk.ax.trustRequests, 0) << row.reason;  // never the prompting variant
    if (row.reason == REASON_NOT_TRUSTED) {
      EXPECT_EQ(desk.ax.frontmostQueries, 0);
      EXPECT_TRUE(desk.ax.reads.empty());
    }
  }
}

// Each attribute is read once; a long text only around the selection, where parts can be read.
TEST(Probe, ReadsEachAttributeOnceAndALongTextAroundTheSelectionOnly) {
  Desk plain;
  plain.ax.frontmost->bundleId.reset();  // an application without a bundle identifier is read too
  EXPECT_EQ(probeSelection(plain.ax), (nlohmann::json{{"after", " world"},
                                                      {"before", "hello"},
                                                      {"ok", true},
                                                      {"role", "AXTextField"},
                                                      {"selected", ""},
                                                      {"truncated", false}}));
  const std::u16string text =
      std::u16string(50000, u'x') + u"\r\n\U0001F600e\u0301" + std::u16string(50000, u'y');
  const TextRange selection{49990, 15};
  struct Row {
    const char* name;
    std::function<void(Desk&)> setUp;
    bool whole;  // the value is read whole
    const char* role = "AXTextField";
  } rows[] = {
      {"parts", [](Desk&) {}, false},
      {"a part read fails", [](Desk& d) { d.field->failingReads.insert("AXStringForRange"); },
       true},
      {"no parts offered", [](Desk& d) { d.ax.offersRanges = false; }, true},
      {"a role that is no text", [](Desk& d) { d.field->set("AXRole", AttrValue{7.0}); }, false,
       "?"},
  };
  for (const auto& row : rows) {
    Desk desk;
    desk.field->value(text)->set("AXSelectedTextRange", AttrValue{selection});
    row.setUp(desk);
    EXPECT_EQ(probeSelection(desk.ax), success(row.role, cutPieces(text, selection))) << row.name;
    for (auto name : {"AXFocusedUIElement", "AXRole", "AXSelectedTextRange"})
      EXPECT_EQ(desk.ax.readCount(name), 1) << row.name << name;
    EXPECT_EQ(desk.ax.readCount("AXValue"), row.whole ? 1 : 0) << row.name;
    int64_t units = 0;
    for (const TextRange& r : desk.ax.rangeReads) units += r.length;
    EXPECT_LT(units, row.whole ? INT64_MAX : 5000) << row.name;
  }
}

}  // namespace
