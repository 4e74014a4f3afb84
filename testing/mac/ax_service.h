// The in-memory Accessibility service behind the AX C API, NSWorkspace and the run loop, scripted
// per application and element, for Linux tests of the macOS glue. Every request is logged.
#pragma once

#include <ApplicationServices/ApplicationServices.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "testing/mac/fake_cf.h"

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
