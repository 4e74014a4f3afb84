// panescan's run as the host sees it: the bytes on standard output and standard error.
#include "panescan/scan.h"

#include <gtest/gtest.h>

#include "common/text.h"
#include "panescan/walk.h"
#include "testing/capture.h"
#include "testing/fake_ax.h"

namespace {

const std::u16string LONG_A = u"A text long enough to be collected.";   // 35 characters
const std::u16string LONG_B = u"Another text that the walk collects.";  // 36 characters
const std::string SUMMARY = "panescan: trusted=true app=";

FakeNodePtr window(std::u16string_view text) {
  auto w = fakeNode("AXWindow");
  w->add(fakeNode("AXStaticText", text));
  return w;
}

TEST(Scan, WritesTheFocusedWindowsTextAndItsSummary) {
  const std::u16string big(15990, u'\u00E9');  // two UTF-8 bytes each
  struct Row {
    const char* name;
    std::function<void(FakeAccessibility&, FakeNode&)> setUp;  // the focused application "Editor"
    std::string out, err;
    int windowListReads;
  } rows[] = {
      {"not trusted: the request is raised, nothing read",
       [](FakeAccessibility& ax, FakeNode&) { ax.trusted = false; }, "",
       "panescan: NOT trusted for Accessibility \xE2\x80\x94 grant it in System Settings\n", 0},
      {"no focused application",
       [](FakeAccessibility& ax, FakeNode&) { ax.systemWide->attributes.clear(); }, "",
       "panescan: no focused application\n" + SUMMARY + "? nodes=0 textAreas=0 chars=0\n", 0},
      {"empty title, no window",
       [](FakeAccessibility&, FakeNode& app) { app.set("AXTitle", {u""}); }, "",
       SUMMARY + " nodes=0 textAreas=0 chars=0\n", 1},
      {"focused window: the list is not read",
       [](FakeAccessibility&, FakeNode& app) {
         app.set("AXFocusedWindow", AttrValue{Element(window(LONG_A))});
         app.set("AXWindows", AttrValue{AttrValue::List{AttrValue{Element(window(LONG_B))}}});
       },
       utf8FromUtf16(LONG_A) + "\n\n", SUMMARY + "Editor nodes=2 textAreas=1 chars=37\n", 0},
      {"no focused window: the first listed only",
       [](FakeAccessibility&, FakeNode& app) {
         app.set("AXWindows", AttrValue{AttrValue::List{AttrValue{Element(window(LONG_A))},
                                                        AttrValue{Element(window(LONG_B))}}});
       },
       utf8FromUtf16(LONG_A) + "\n\n", SUMMARY + "Editor nodes=2 textAreas=1 chars=37\n", 1},
      {"output cut at 16000 characters, the summary counts all",
       [&](FakeAccessibility&, FakeNode& app) {
         auto w = window(big);
         w->add(fakeNode("AXStaticText", LONG_A));
         app.set("AXFocusedWindow", AttrValue{Element(w)});
       },
       utf8FromUtf16(big) + "\n\n" + utf8FromUtf16(LONG_A.substr(0, 8)),
       SUMMARY + "Editor nodes=3 textAreas=2 chars=16029\n", 0},
  };
  for (const auto& row : rows) {
    FakeAccessibility ax;
    auto app = fakeNode("AXApplication");
    app->set("AXTitle", AttrValue{u"Editor"});
    ax.systemWide->set("AXFocusedApplication", AttrValue{Element(app)});
    row.setUp(ax, *app);
    CapturedFd out, err;
    scanFocusedWindow(ax, out.fd(), err.fd());
    EXPECT_EQ(out.contents(), row.out) << row.name;
    EXPECT_EQ(err.contents(), row.err) << row.name;
    EXPECT_EQ(ax.trustRequests, 1) << row.name;
    EXPECT_EQ(ax.reads.empty(), !ax.trusted) << row.name;
    EXPECT_EQ(ax.readCount("AXWindows"), row.windowListReads) << row.name;
  }
}

}  // namespace
