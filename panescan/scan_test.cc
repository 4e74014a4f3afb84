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

struct Streams {
  std::string out, err;
};

Streams scan(FakeAccessibility& ax) {
  CapturedFd out, err;
  scanFocusedWindow(ax, out.fd(), err.fd());
  return {out.contents(), err.contents()};
}

// The focused application "Editor" without any window yet.
struct Desk {
  FakeAccessibility ax;
  FakeNodePtr app = fakeNode("AXApplication");

  Desk() {
    app->set("AXTitle", AttrValue{u"Editor"});
    ax.systemWide->set("AXFocusedApplication", AttrValue{Element(app)});
  }

  FakeNodePtr window(std::u16string_view text) {
    auto w = fakeNode("AXWindow");
    w->add(fakeNode("AXStaticText", text));
    return w;
  }
};

TEST(Scan, NotTrustedRequestsTrustAndWritesOnlyItsLine) {
  Desk desk;
  desk.ax.trusted = false;
  desk.app->set("AXFocusedWindow", AttrValue{Element(desk.window(LONG_A))});
  Streams run = scan(desk.ax);
  EXPECT_EQ(run.err,
            "panescan: NOT trusted for Accessibility \xE2\x80\x94 grant it in System Settings\n");
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(desk.ax.trustRequests, 1);
  EXPECT_TRUE(desk.ax.reads.empty());
}

TEST(Scan, NoFocusedApplicationWritesItsLineThenAnEmptySummary) {
  FakeAccessibility ax;
  Streams run = scan(ax);
  EXPECT_EQ(run.err,
            "panescan: no focused application\n"
            "panescan: trusted=true app=? nodes=0 textAreas=0 chars=0\n");
  EXPECT_EQ(run.out, "");
}

TEST(Scan, FocusedWindowIsWalkedAndWindowsListIsNotRead) {
  Desk desk;
  desk.app->set("AXFocusedWindow", AttrValue{Element(desk.window(LONG_A))});
  desk.app->set("AXWindows", AttrValue{AttrValue::List{AttrValue{Element(desk.window(LONG_B))}}});
  Streams run = scan(desk.ax);
  EXPECT_EQ(run.err, "panescan: trusted=true app=Editor nodes=2 textAreas=1 chars=37\n");
  EXPECT_EQ(run.out, utf8FromUtf16(LONG_A) + "\n\n");
  EXPECT_EQ(desk.ax.readCount("AXWindows"), 0);
}

TEST(Scan, WithoutFocusedWindowOnlyTheFirstListedWindowIsWalked) {
  Desk desk;
  auto first = desk.window(LONG_A), second = desk.window(LONG_B), third = desk.window(LONG_B);
  desk.app->set("AXWindows",
                AttrValue{AttrValue::List{AttrValue{Element(first)}, AttrValue{Element(second)},
                                          AttrValue{Element(third)}}});
  Streams run = scan(desk.ax);
  EXPECT_EQ(run.out, utf8FromUtf16(LONG_A) + "\n\n");
  EXPECT_FALSE(desk.ax.wasRead(second.get()));
  EXPECT_FALSE(desk.ax.wasRead(third.get()));
}

TEST(Scan, EmptyTitleStaysEmptyAndNoWindowWalksNothing) {
  Desk desk;
  desk.app->set("AXTitle", AttrValue{u""});
  Streams run = scan(desk.ax);
  EXPECT_EQ(run.err, "panescan: trusted=true app= nodes=0 textAreas=0 chars=0\n");
  EXPECT_EQ(run.out, "");
}

TEST(Scan, OutputIsCutAt16000CharactersButTheSummaryCountsAll) {
  Desk desk;
  auto w = desk.window(std::u16string(15990, u'\u00E9'));  // two UTF-8 bytes each
  w->add(fakeNode("AXStaticText", LONG_A));
  desk.app->set("AXFocusedWindow", AttrValue{Element(w)});
  Streams run = scan(desk.ax);
  EXPECT_EQ(run.err, "panescan: trusted=true app=Editor nodes=3 textAreas=2 chars=16029\n");
  EXPECT_EQ(charCount(run.out), MAX_CHARS);
  EXPECT_EQ(run.out, utf8FromUtf16(std::u16string(15990, u'\u00E9')) + "\n\n" +
                         utf8FromUtf16(LONG_A.substr(0, 8)));
}

}  // namespace
