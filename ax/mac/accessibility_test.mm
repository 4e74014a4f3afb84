// The readers' real paths through the macOS glue, against the in-memory Accessibility service.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "ax/attr.h"
#include "ax/mac/values.h"
#include "ax/platform.h"
#include "common/host_bundle.h"
#include "fieldpeek/collect_text.h"
#include "fieldpeek/pause.h"
#include "fieldpeek/poll_loop.h"
#include "panescan/scan.h"
#include "testing/capture.h"
#include "testing/mac/ax_service.h"
#include "testing/mac/balanced_test.h"

namespace {

constexpr pid_t EDITOR = 40;
constexpr int GROUPS = 41, PER_GROUP = 100;  // 4142 elements: past the node budget

// The whole tree is scripted; every test ends with every CF object released exactly once.
class MacGlue : public BalancedCFTest {
 protected:
  // A focused window of groups of labels (values of 30 characters) and buttons that have values.
  static void scriptEditor() {
    fakeAXElement({-1, 0}, "AXFocusedApplication", {EDITOR, 0});
    fakeAXElement({EDITOR, 0}, "AXFocusedWindow", {EDITOR, 1});
    fakeAXText({EDITOR, 1}, "AXRole", u"AXWindow");
    std::vector<FakeNode> groups;
    for (int g = 0; g < GROUPS; ++g) {
      groups.push_back({EDITOR, 2 + g});
      fakeAXText(groups.back(), "AXRole", u"AXGroup");
      std::vector<FakeNode> items;
      for (int i = 0; i < PER_GROUP; ++i) {
        items.push_back({EDITOR, 1000 + g * PER_GROUP + i});
        fakeAXText(items.back(), "AXRole", i % 2 ? u"AXButton" : u"AXStaticText");
        fakeAXText(items.back(), "AXValue", u"thirty characters of label ..");
      }
      fakeAXList(groups.back(), "AXChildren", items);
    }
    fakeAXList({EDITOR, 1}, "AXChildren", groups);
  }

  // fieldpeek's run with the real pause; `between` runs before each pause. Time is the pauses
  // and the service's waits for stalled applications, never the machine's.
  static std::string runFieldpeek(
      Accessibility& ax, int64_t durationMs, const std::function<void()>& between = [] {}) {
    CapturedFd out, err;
    std::chrono::milliseconds paused{0};
    PollEnvironment env{ax,
                        [&] {
                          return std::chrono::steady_clock::time_point(
                              paused + std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::duration<double>(fakeAXClock())));
                        },
                        [&](std::chrono::milliseconds ms) {
                          between();
                          pauseFor(ms);
                          paused += ms;
                        },
                        out.fd(), err.fd()};
    ::runFieldpeek(Settings{MIN_POLL_MS, durationMs}, env);
    return out.contents() + err.contents();
  }

  static size_t requestsTo(pid_t pid) {
    size_t count = 0;
    for (const auto* log : {&fakeAXReads(), &fakeAXWrites()}) {
      for (const FakeAXCall& call : *log) count += call.node.pid == pid;
    }
    return count;
  }
};

// Every reads of the platform's service but the hints: the plain reads the walk makes.
class NoHints final : public Accessibility {
 public:
  explicit NoHints(Accessibility& ax) : ax_(ax) {}
  bool isTrusted() override { return ax_.isTrusted(); }
  void requestTrust() override {}
  std::optional<FrontmostApplication> frontmostApplication() override {
    return ax_.frontmostApplication();
  }
  Element applicationElement(int32_t pid) override { return ax_.applicationElement(pid); }
  Element systemWideElement() override { return ax_.systemWideElement(); }
  std::optional<AttrValue> copyAttribute(const Element& e, std::string_view name) override {
    return ax_.copyAttribute(e, name);
  }
  void setBoolAttribute(const Element& e, std::string_view name, bool value) override {
    ax_.setBoolAttribute(e, name, value);
  }
  void beginStep() override { ax_.beginStep(); }

 private:
  Accessibility& ax_;
};

// NSWorkspace changes its answer only while the main run loop runs: fieldpeek's pause runs it.
TEST_F(MacGlue, FieldpeekSeesTheApplicationFrontmostAtEachPoll) {
  fakeAXElement({EDITOR, 0}, "AXFocusedUIElement", {EDITOR, 7});
  fakeAXText({EDITOR, 7}, "AXRole", u"AXTextArea");
  fakeAXText({EDITOR, 7}, "AXValue", u"draft");
  const std::u16string host(hostBundleID.begin(), hostBundleID.end());
  const std::vector<std::optional<pid_t>> switches = {EDITOR, 50, std::nullopt, EDITOR};
  size_t next = 0;
  fakeAXActivate(switches[next++], u"com.example.editor");
  CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0, false);  // the state the run starts in
  auto ax = makePlatformAccessibility();
  const std::string output = runFieldpeek(*ax, 4 * MIN_POLL_MS, [&] {
    if (next < switches.size()) fakeAXActivate(switches[next], next == 1 ? host : u"x");
    ++next;
  });
  EXPECT_EQ(
      output,
      "{\"role\":\"AXTextArea\",\"texts\":[\"draft\"]}\n{\"role\":\"self\",\"texts\":[]}\n"
      "{\"role\":\"no-frontmost\",\"texts\":[]}\n"
      "{\"role\":\"AXTextArea\",\"texts\":[\"draft\"]}\nfieldpeek: done polls=4 withText=2\n");
}

// A part of a text is asked for cut to the text's count: the system refuses one past its end.
TEST_F(MacGlue, TextPartsAreCutToTheCharacterCount) {
  fakeAXElement({EDITOR, 0}, "AXFocusedUIElement", {EDITOR, 7});
  fakeAXText({EDITOR, 7}, "AXValue", u"hello world");
  auto ax = makePlatformAccessibility();
  const Element field = elementAttr(*ax, ax->applicationElement(EDITOR), "AXFocusedUIElement");
  const struct {
    TextRange range;
    std::optional<std::u16string> units;
  } rows[] = {{{6, 100}, u"world"}, {{0, 5}, u"hello"}, {{11, 4}, u""}, {{12, 1}, std::nullopt}};
  for (const auto& row : rows)
    EXPECT_EQ(ax->copyTextRange(field, row.range), row.units) << row.range.location;
  const size_t asked = fakeAXReads().size();
  fakeAXAnswer(axElementOf(field), "AXStringForRange", kAXErrorCannotComplete, nullptr);
  EXPECT_EQ(ax->copyTextRange(field, {0, 5}), std::nullopt);
  EXPECT_EQ(ax->copyTextRange(field, {0, 5}), std::nullopt);  // a timeout stops the application
  EXPECT_EQ(fakeAXReads().size(), asked + 2);
}

// An application that timed out is asked nothing more in that run or poll: one wait, not one per
// remaining element and attribute.
TEST_F(MacGlue, FrozenApplicationCostsOneTimeoutPerRunOrPoll) {
  const struct {
    const char* reader;
    std::function<void(Accessibility&)> run;
    size_t timeouts;
  } rows[] = {
      {"panescan", [](Accessibility& ax) { scanFocusedWindow(ax, -1, -1); }, 1},
      {"fieldpeek, two polls", [](Accessibility& ax) { runFieldpeek(ax, 6200); }, 2},
  };
  for (const auto& row : rows) {
    scriptEditor();
    fakeAXActivate(EDITOR, u"com.example.editor");
    CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0, false);
    fakeAXStall(EDITOR, kAXErrorCannotComplete);
    auto ax = makePlatformAccessibility();
    row.run(*ax);
    EXPECT_EQ(requestsTo(EDITOR), row.timeouts) << row.reader;
    EXPECT_EQ(fakeAXClock(), static_cast<double>(row.timeouts) * FAKE_AX_TIMEOUT_SECONDS);
    fakeAXReset();
  }
}

// Only a timeout stops an application, for the step only, and no other application.
TEST_F(MacGlue, OnlyATimeoutStopsTheApplicationUntilTheNextStep) {
  const struct {
    const char* name;
    AXError role;   // the answer to "AXRole"
    AXError stall;  // every request answers this, or success
    size_t requests;
  } rows[] = {
      {"no value", kAXErrorNoValue, kAXErrorSuccess, 3},
      {"unsupported", kAXErrorAttributeUnsupported, kAXErrorSuccess, 3},
      {"API disabled", kAXErrorSuccess, kAXErrorAPIDisabled, 3},
      {"timed out", kAXErrorSuccess, kAXErrorCannotComplete, 2},
  };
  for (const auto& row : rows) {
    const AXUIElementRef ref = AXUIElementCreateApplication(EDITOR);
    fakeAXAnswer(ref, "AXRole", row.role, nullptr);
    CFRelease(ref);
    fakeAXText({60, 0}, "AXTitle", u"other");
    if (row.stall != kAXErrorSuccess) fakeAXStall(EDITOR, row.stall);
    auto ax = makePlatformAccessibility();
    const Element app = ax->applicationElement(EDITOR);
    EXPECT_FALSE(ax->copyAttribute(app, "AXRole")) << row.name;
    EXPECT_FALSE(ax->copyAttribute(app, "AXRole")) << row.name;
    const auto other = ax->copyAttribute(ax->applicationElement(60), "AXTitle");
    EXPECT_TRUE(other && other->text() && *other->text() == u"other") << row.name;
    ax->beginStep();
    EXPECT_FALSE(ax->copyAttribute(app, "AXRole")) << row.name;
    EXPECT_EQ(requestsTo(EDITOR), row.requests) << row.name;
    fakeAXReset();
  }
}

// With hints, each reader asks nothing the plain reads would not ask (no value of a button, no
// element past a budget) in fewer requests, and writes the same bytes.
TEST_F(MacGlue, BatchedWalksAskOnlyWhatPlainReadsAsk) {
  const struct {
    const char* reader;
    std::function<std::string(Accessibility&)> run;
    size_t walked;  // elements of the window asked anything, when a node budget stops the walk
  } rows[] = {
      {"panescan (character budget)",
       [](Accessibility& ax) {
         CapturedFd out, err;
         scanFocusedWindow(ax, out.fd(), err.fd());
         return out.contents() + err.contents();
       },
       0},
      {"fieldpeek (node budget)", [](Accessibility& ax) { return runFieldpeek(ax, 1); },
       static_cast<size_t>(MAX_NODES)},
  };
  for (const auto& row : rows) {
    std::string output[2];
    std::set<std::pair<FakeNode, std::string>> asked[2];
    size_t requests[2] = {0, 0};
    for (int hinted = 0; hinted < 2; ++hinted) {
      scriptEditor();
      fakeAXActivate(EDITOR, u"com.example.editor");
      CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0, false);
      auto ax = makePlatformAccessibility();
      NoHints plain(*ax);
      output[hinted] = row.run(hinted ? *ax : plain);
      for (const FakeAXCall& call : fakeAXReads()) {
        std::istringstream names(call.attribute);
        for (std::string name; std::getline(names, name, ',');) {
          asked[hinted].insert({call.node, name});
          EXPECT_FALSE(name == "AXValue" && call.node.node % 2) << row.reader << ": a button";
        }
      }
      requests[hinted] = fakeAXReads().size();
      fakeAXReset();
    }
    EXPECT_EQ(output[1], output[0]) << row.reader;
    EXPECT_LT(requests[1], requests[0]) << row.reader;
    for (const auto& read : asked[1]) {
      EXPECT_TRUE(asked[0].count(read)) << row.reader << ": node " << read.first.node << " "
                                        << read.second << " only asked with hints";
    }
    std::set<int> walked;
    for (const auto& read : asked[1]) walked.insert(read.first.node);
    if (row.walked != 0) EXPECT_EQ(walked.size() - 1, row.walked) << "past the application";
  }
}

}  // namespace
