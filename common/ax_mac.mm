// The accessibility service on macOS: the AX C API and NSWorkspace, translated into common/ax.h.
#include "common/ax_platform.h"

#import <AppKit/AppKit.h>
#include <ApplicationServices/ApplicationServices.h>
#import <Foundation/Foundation.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "common/ax_batch_mac.h"
#include "common/ax_values_mac.h"
#include "common/text.h"

namespace {

// Each read is one request to the owning application (a hinted element's attributes share one),
// bounded by the AX messaging timeout the system applies to every request (nothing changes it).
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
    if (auto batched = batched_.take(element, name)) return std::move(*batched);
    return copyAXAttribute(element, name);
  }

  // A walk's role, value and children of one element come in one request instead of three.
  void prefetch(const PrefetchHint& hint) override { batched_.hint(hint); }
  void beginStep() override { batched_.clear(); }

  void setBoolAttribute(const Element& element, std::string_view name, bool value) override {
    setAXBoolAttribute(element, name, value);
  }

 private:
  BatchedReads batched_;
};

}  // namespace

std::unique_ptr<Accessibility> makePlatformAccessibility() {
  return std::make_unique<MacAccessibility>();
}
