// The in-memory CoreFoundation and Accessibility service behind the AX C API, NSWorkspace and the
// run loop, scripted per application and element, for Linux tests of the macOS glue. Every request
// is logged; each test ends with every CF object released exactly once.
#pragma once

#include <ApplicationServices/ApplicationServices.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Objects whose reference count has not yet dropped to zero (the two booleans never count).
size_t fakeCFLiveObjects();

// Every misuse seen since the last reset: a release or read of an object already freed.
std::vector<std::string> fakeCFErrors();
void fakeCFReset();

// An element is one node of one application's tree: node 0 is the application element itself.
struct FakeNode {
  pid_t pid;
  int node;
  auto operator<=>(const FakeNode&) const = default;
};

// A new element object (one reference, the caller's) standing for `node`.
AXUIElementRef fakeCFCreateElement(FakeNode node);
// The node behind an element object; nothing for any other object.
std::optional<FakeNode> fakeCFNodeOf(CFTypeRef ref);
// A new string object holding `units`.
CFStringRef fakeCFText(std::u16string_view units);

// What the system waits for an application that does not answer before giving up.
inline constexpr double FAKE_AX_TIMEOUT_SECONDS = 6.0;

// The next reads of `attribute` of `element`'s node return `error` and, with a new reference,
// `value` (which may be null; a value given with an error code tests the caller's release of the
// slot). An attribute never scripted answers kAXErrorAttributeUnsupported.
void fakeAXAnswer(AXUIElementRef element, std::string_view attribute, AXError error,
                  CFTypeRef value);
// The same for the text `units`, the element of node `target`, or a list of the given nodes.
void fakeAXText(FakeNode node, std::string_view attribute, std::u16string_view units);
void fakeAXElement(FakeNode node, std::string_view attribute, FakeNode target);
void fakeAXList(FakeNode node, std::string_view attribute, const std::vector<FakeNode>& nodes);

// Every further request to application `pid` fails as a whole with `error`; the system waits
// FAKE_AX_TIMEOUT_SECONDS on the virtual clock before it answers kAXErrorCannotComplete.
void fakeAXStall(pid_t pid, AXError error);

// The application the system makes frontmost (nothing: none is). NSWorkspace reports it once the
// main run loop has run, as on macOS; until then it reports the one before.
void fakeAXActivate(std::optional<pid_t> pid, std::u16string_view bundleId = u"");

// Seconds the system has waited for stalled applications, on a virtual clock.
double fakeAXClock();

struct FakeAXCall {
  AXUIElementRef element;
  FakeNode node;
  std::string attribute;  // a request for several attributes: their names joined by commas
  CFTypeRef value;        // the value written; null for reads
};
const std::vector<FakeAXCall>& fakeAXReads();
const std::vector<FakeAXCall>& fakeAXWrites();

// Drops the scripted answers (releasing their values), the stalls, the frontmost application,
// the call logs and the clock.
void fakeAXReset();

// What the fake NSWorkspace reports: the frontmost application's pid and bundle identifier (a
// CFString owned by the service, the toll-free twin of the NSString macOS hands over).
struct FakeFrontmost {
  pid_t pid;
  CFStringRef bundleId;
};
std::optional<FakeFrontmost> fakeAXFrontmost();

class BalancedCFTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fakeCFReset();
    baseline_ = fakeCFLiveObjects();
  }
  void TearDown() override {
    fakeAXReset();
    EXPECT_EQ(fakeCFLiveObjects(), baseline_) << "a CF object leaked";
    EXPECT_TRUE(fakeCFErrors().empty()) << fakeCFErrors().front();
  }

 private:
  size_t baseline_ = 0;
};
