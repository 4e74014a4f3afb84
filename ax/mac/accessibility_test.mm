// The readers' real paths through the macOS glue, against the in-memory Accessibility service.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "ax/mac/values.h"
#include "ax/platform.h"
#include "common/host_bundle.h"
#include "fieldpeek/collect_text.h"
#include "fieldpeek/pause.h"
#include "fieldpeek/poll_loop.h"
#include "panescan/scan.h"
#include "selprobe/probe.h"
#include "testing/capture.h"
#include "testing/mac/ax_service.h"

namespace {

constexpr pid_t EDITOR = 40;
constexpr int GROUPS = 41, PER_GROUP = 100;  // 4142 elements: past the node budget

// The editor, frontmost, focuses a window of groups of labels and buttons that all have values.
void scriptEditor() {
  fakeAXElement({-1, 0}, "AXFocusedApplication", {EDITOR, 0});
  fakeAXElement({EDITOR, 0}, "AXFocusedWindow", {EDITOR, 1});
  fakeAXText({EDITOR, 1}, "AXRole", u"AXWindow");
  std::vector<FakeAXNode> groups;
  for (int g = 0; g < GROUPS; ++g) {
    groups.push_back({EDITOR, 2 + g});
    fakeAXText(groups.back(), "AXRole", u"AXGroup");
    std::vector<FakeAXNode> items;
    for (int i = 0; i < PER_GROUP; ++i) {
      items.push_back({EDITOR, 1000 + g * PER_GROUP + i});
      fakeAXText(items.back(), "AXRole", i % 2 ? u"AXButton" : u"AXStaticText");
      fakeAXText(items.back(), "AXValue", u"thirty characters of label ..");
    }
    fakeAXList(groups.back(), "AXChildren", items);
  }
  fakeAXList({EDITOR, 1}, "AXChildren", groups);
  fakeAXActivate(FakeFrontmost{EDITOR, u"com.example.editor"});
  CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0, false);
}

// fieldpeek's run with the real pause. Time is the pauses and the service's waits for stalled
// applications, never the machine's.
std::string runFieldpeek(int64_t durationMs) {
  auto ax = makePlatformAccessibility();
  CapturedFd out, err;
  std::chrono::milliseconds paused{0};
  PollEnvironment env{*ax, [&] { return fakeAXNow() + paused; },
                      [&](std::chrono::milliseconds ms) {
                        pauseFor(ms);
                        paused += ms;
                      },
                      out.fd(), err.fd()};
  ::runFieldpeek(Settings{MIN_POLL_MS, durationMs}, env);
  return out.contents() + err.contents();
}

std::string runPanescan() {
  auto ax = makePlatformAccessibility();
  CapturedFd out, err;
  scanFocusedWindow(*ax, out.fd(), err.fd());
  return err.contents();
}

size_t requestsTo(pid_t pid) {
  return std::ranges::count_if(fakeAXCalls(),
                               [&](const FakeAXCall& c) { return c.node.pid == pid; });
}

// Every test ends with every CF object released exactly once.
using MacGlue = BalancedCFTest;

// NSWorkspace changes its answer only while the main run loop runs: fieldpeek's pause runs it.
TEST_F(MacGlue, FieldpeekSeesTheApplicationFrontmostAtEachPoll) {
  fakeAXElement({EDITOR, 0}, "AXFocusedUIElement", {EDITOR, 7});
  fakeAXText({EDITOR, 7}, "AXRole", u"AXTextArea");
  fakeAXText({EDITOR, 7}, "AXValue", u"draft");
  fakeAXActivate(FakeFrontmost{EDITOR, u"com.example.editor"});
  fakeAXActivate(FakeFrontmost{50, std::u16string(hostBundleID.begin(), hostBundleID.end())});
  fakeAXActivate(std::nullopt);
  fakeAXActivate(FakeFrontmost{EDITOR, u"x"});
  CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0, false);  // the state the run starts in
  EXPECT_EQ(
      runFieldpeek(4 * MIN_POLL_MS),
      "{\"role\":\"AXTextArea\",\"texts\":[\"draft\"]}\n{\"role\":\"self\",\"texts\":[]}\n"
      "{\"role\":\"no-frontmost\",\"texts\":[]}\n"
      "{\"role\":\"AXTextArea\",\"texts\":[\"draft\"]}\nfieldpeek: done polls=4 withText=2\n");
}

// A part of a text is asked for cut to the text's count: the system refuses one past its end.
TEST_F(MacGlue, TextPartsAreCutToTheCharacterCount) {
  fakeAXText({EDITOR, 7}, "AXValue", u"hello world");
  auto ax = makePlatformAccessibility();
  const Element field = adoptElement(fakeCFCreateElement({EDITOR, 7}));
  EXPECT_EQ(ax->copyTextRange(field, {6, 100}), (TextPart{u"world", 5}));
  EXPECT_EQ(ax->copyTextRange(field, {11, 4}), TextPart{}) << "at the end: empty, not nothing";
  fakeAXAnswer({EDITOR, 7}, "AXStringForRange", kAXErrorCannotComplete, nullptr);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(ax->copyTextRange(field, {0, 5}), std::nullopt);
  EXPECT_EQ(requestsTo(EDITOR), 6u) << "once the part timed out, the next read asks nothing";
}

// An application that timed out is asked nothing more in that run or poll: one wait, not one per
// remaining element and attribute. Any other error stops nothing.
TEST_F(MacGlue, OnlyATimeoutStopsTheApplicationAndOnlyForTheRunOrPoll) {
  const struct {
    AXError stall;
    std::string (*run)();
    size_t requests;
  } rows[] = {{kAXErrorCannotComplete, [] { return runFieldpeek(6200); }, 2},  // two polls
              {kAXErrorAPIDisabled, runPanescan, 3}};
  for (const auto& row : rows) {
    scriptEditor();
    fakeAXStall(EDITOR, row.stall);
    row.run();
    EXPECT_EQ(requestsTo(EDITOR), row.requests) << row.stall;
    fakeAXReset();
  }
}

// selprobe asks the focused element's role, character count and selection in one request, then
// only the text around the selection.
TEST_F(MacGlue, SelprobeReadsRoleCountAndSelectionInOneRequest) {
  fakeAXActivate(FakeFrontmost{EDITOR, u"com.example.editor"});
  CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0, false);
  fakeAXElement({EDITOR, 0}, "AXFocusedUIElement", {EDITOR, 7});
  fakeAXText({EDITOR, 7}, "AXRole", u"AXTextArea");
  fakeAXText({EDITOR, 7}, "AXValue",
             std::u16string(5000, u'a') + u"pick" + std::u16string(5000, u'b'));
  const CFRange picked = CFRangeMake(5000, 4);
  const ScopedCF range(AXValueCreate(kAXValueTypeCFRange, &picked));
  fakeAXAnswer({EDITOR, 7}, "AXSelectedTextRange", kAXErrorSuccess, range.get());
  auto ax = makePlatformAccessibility();
  const nlohmann::json out = probeSelection(*ax);
  EXPECT_EQ(out["selected"], "pick");
  EXPECT_EQ(out["before"], std::string(600, 'a'));
  std::vector<std::string> asked;
  for (const FakeAXCall& call : fakeAXCalls())
    if (call.node.node == 7) asked.push_back(call.attribute);
  EXPECT_EQ(asked.front(), "AXRole,AXNumberOfCharacters,AXSelectedTextRange");
  EXPECT_EQ(std::ranges::count(asked, "AXValue"), 0) << "the whole text is never read";
}

// The walks' hints batch each element's role and children: fewer requests than elements times
// attributes, no value of a button, nothing past the node budget, the same bytes out.
TEST_F(MacGlue, BatchedWalksAskOnlyWhatTheWalkNeeds) {
  const struct {
    const char* reader;
    std::string (*run)();
    size_t walked;
    std::string ending;
  } rows[] = {
      {"panescan, character budget", runPanescan, 1045, "nodes=1045 textAreas=517 chars=16027\n"},
      {"fieldpeek, node budget", [] { return runFieldpeek(1); }, MAX_NODES,
       "fieldpeek: done polls=1 withText=1\n"},
  };
  for (const auto& row : rows) {
    scriptEditor();
    EXPECT_TRUE(row.run().ends_with(row.ending)) << row.reader;
    std::set<int> walked;
    for (const FakeAXCall& call : fakeAXCalls()) {
      if (call.node.node != 0) walked.insert(call.node.node);
      EXPECT_FALSE(call.node.node % 2 && call.attribute.find("AXValue") != std::string::npos)
          << row.reader << ": value of a button";
    }
    EXPECT_EQ(walked.size(), row.walked) << row.reader;
    EXPECT_LT(fakeAXCalls().size(), 2 * walked.size()) << row.reader;
    fakeAXReset();
  }
}

}  // namespace
