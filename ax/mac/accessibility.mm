// The accessibility service on macOS: the AX C API and NSWorkspace, translated into ax/ax.h.
#include "ax/platform.h"

#import <AppKit/AppKit.h>
#include <ApplicationServices/ApplicationServices.h>
#import <Foundation/Foundation.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "ax/mac/batch.h"
#include "ax/mac/values.h"
#include "common/text.h"

namespace {

// Each read is one request to the owning application (a hinted element's attributes share one),
// bounded by the AX messaging timeout the system applies to every request (nothing changes it).
// An application that lets one request time out is asked nothing more in the run or poll, so it
// costs at most one timeout there, not one per remaining element and attribute.
class MacAccessibility final : public Accessibility {
 public:
  bool isTrusted() override { return AXIsProcessTrusted() != 0; }

  void requestTrust() override {
    @autoreleasepool {
      NSDictionary* options = @{(__bridge NSString*)kAXTrustedCheckOptionPrompt : @YES};
      AXIsProcessTrustedWithOptions((__bridge CFDictionaryRef)options);
    }
  }

  std::optional<FrontmostApplication> frontmostApplication() override {
    // The one-shot tools and the poller run no run loop that would drain autoreleased objects.
    @autoreleasepool {
      NSRunningApplication* app = [[NSWorkspace sharedWorkspace] frontmostApplication];
      if (app == nil) return std::nullopt;
      FrontmostApplication frontmost;
      frontmost.pid = app.processIdentifier;
      NSString* bundleId = app.bundleIdentifier;
      if (bundleId != nil) {
        frontmost.bundleId = utf8FromUtf16(unitsOf((__bridge CFStringRef)bundleId));
      }
      return frontmost;
    }
  }

  Element applicationElement(int32_t pid) override {
    return adoptElement(AXUIElementCreateApplication(static_cast<pid_t>(pid)));
  }

  Element systemWideElement() override { return adoptElement(AXUIElementCreateSystemWide()); }

  std::optional<AttrValue> copyAttribute(const Element& element, std::string_view name) override {
    const std::optional<pid_t> pid = answeringPid(element);
    if (!pid) return std::nullopt;
    AXError error = kAXErrorSuccess;
    std::optional<AttrValue> value;
    if (auto batched = batched_.take(element, name, &error)) {
      value = std::move(*batched);
    } else {
      value = copyAXAttribute(element, name, &error);
    }
    noteError(*pid, error);
    return value;
  }

  // The system refuses a range past the end of the text: it is cut to "AXNumberOfCharacters".
  std::optional<TextPart> copyTextRange(const Element& element, TextRange range) override {
    const auto count = copyAttribute(element, "AXNumberOfCharacters");
    const double* n = count ? std::get_if<double>(&count->value) : nullptr;
    if (n == nullptr || !(*n >= 0 && *n < 0x1p52)) return std::nullopt;
    const auto units = static_cast<int64_t>(*n);
    if (range.location < 0 || range.length < 0 || range.location > units) return std::nullopt;
    range.length = std::min(range.length, units - range.location);
    const std::optional<pid_t> pid = answeringPid(element);
    if (!pid) return std::nullopt;
    AXError error = kAXErrorSuccess;
    auto text = copyAXStringForRange(element, range, &error);
    noteError(*pid, error);
    if (!text) return std::nullopt;
    const auto offsets = static_cast<int64_t>(text->size());
    return TextPart{std::move(*text), offsets};
  }

  // A walk's role and children of one element come in one request instead of two.
  void prefetch(const PrefetchHint& hint) override { batched_.hint(hint); }
  void beginStep() override {
    batched_.clear();
    stopped_.clear();
  }

  void setBoolAttribute(const Element& element, std::string_view name, bool value) override {
    if (const std::optional<pid_t> pid = answeringPid(element)) {
      noteError(*pid, setAXBoolAttribute(element, name, value));
    }
  }

 private:
  // The process behind an element (a local lookup, no request), or nothing when that application
  // has already timed out in this run or poll. The system-wide element stands as process 0.
  std::optional<pid_t> answeringPid(const Element& element) const {
    const AXUIElementRef ref = axElementOf(element);
    pid_t pid = 0;
    if (ref != nullptr && AXUIElementGetPid(ref, &pid) != kAXErrorSuccess) pid = 0;
    if (stopped_.count(pid) != 0) return std::nullopt;
    return pid;
  }

  void noteError(pid_t pid, AXError error) {
    if (error == kAXErrorCannotComplete) stopped_.insert(pid);
  }

  BatchedReads batched_;
  std::set<pid_t> stopped_;  // applications that timed out in this run or poll
};

}  // namespace

std::unique_ptr<Accessibility> makePlatformAccessibility() {
  return std::make_unique<MacAccessibility>();
}
