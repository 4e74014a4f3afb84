// The in-memory CoreFoundation and Accessibility service behind the AX C API, NSWorkspace and the
// run loop, scripted per application and element, for Linux tests of the macOS glue. Every request
// is logged; a use of a freed object fails the running test, and each test ends with every CF
// object released exactly once.
#pragma once

#include <ApplicationServices/ApplicationServices.h>
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Objects whose reference count has not yet dropped to zero (the two booleans never count).
size_t fakeCFLiveObjects();

// An element is one node of one application's tree: node 0 is the application element itself.
// (Not testing/fake_ax.h's FakeNode: both are linked into the glue's tests.)
struct FakeAXNode {
  pid_t pid;
  int node;
  auto operator<=>(const FakeAXNode&) const = default;
};

// A new element object (one reference, the caller's) standing for `node`.
AXUIElementRef fakeCFCreateElement(FakeAXNode node);
// The node behind an element object; nothing for any other object.
std::optional<FakeAXNode> fakeCFNodeOf(CFTypeRef ref);
// A new string object holding `units`.
CFStringRef fakeCFText(std::u16string_view units);

// The next reads of `attribute` of `node` return `error` and, with a new reference, `value`
// (which may be null; a value given with an error code tests the caller's release of the slot).
// An attribute never scripted answers kAXErrorAttributeUnsupported; "AXNumberOfCharacters" of a
// node whose "AXValue" is a text counts its UTF-16 units unless scripted.
void fakeAXAnswer(FakeAXNode node, std::string_view attribute, AXError error, CFTypeRef value);
// The same for the text `units`, the element of node `target`, or a list of the given nodes.
void fakeAXText(FakeAXNode node, std::string_view attribute, std::u16string_view units);
void fakeAXElement(FakeAXNode node, std::string_view attribute, FakeAXNode target);
void fakeAXList(FakeAXNode node, std::string_view attribute, const std::vector<FakeAXNode>& nodes);

// Every further request to application `pid` fails as a whole with `error`; the system waits six
// seconds on the virtual clock before it answers kAXErrorCannotComplete.
void fakeAXStall(pid_t pid, AXError error);

// The application the system makes frontmost next (nothing: none is). NSWorkspace reports it once
// the main run loop has run, as on macOS; until then it reports the one before. Each run of the
// loop takes in one change, in the order they were made.
struct FakeFrontmost {
  pid_t pid;
  std::u16string bundleId;
};
void fakeAXActivate(std::optional<FakeFrontmost> frontmost);
// What NSWorkspace reports.
std::optional<FakeFrontmost> fakeAXFrontmost();

// The virtual clock: the time the system has waited for stalled applications.
std::chrono::steady_clock::time_point fakeAXNow();

struct FakeAXCall {
  FakeAXNode node;
  std::string attribute;  // a request for several attributes: their names joined by commas
  CFTypeRef value;        // the value written; null for reads
};
// Every read and write, in order.
const std::vector<FakeAXCall>& fakeAXCalls();

// Drops the scripted answers (releasing their values), the stalls, the frontmost application,
// the call log and the clock.
void fakeAXReset();

class BalancedCFTest : public ::testing::Test {
 protected:
  void TearDown() override {
    fakeAXReset();
    EXPECT_EQ(fakeCFLiveObjects(), baseline_) << "a CF object leaked";
  }
  const size_t baseline_ = fakeCFLiveObjects();
};
