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

#include "common/text.h"

namespace {

static_assert(sizeof(UniChar) == sizeof(char16_t), "CFString units are UTF-16 code units");

// Owns the one reference a Copy or Create call hands over and releases it exactly once.
class ScopedCF {
 public:
  ScopedCF() = default;
  explicit ScopedCF(CFTypeRef ref) : ref_(ref) {}
  ~ScopedCF() {
    if (ref_ != nullptr) CFRelease(ref_);
  }
  ScopedCF(const ScopedCF&) = delete;
  ScopedCF& operator=(const ScopedCF&) = delete;

  CFTypeRef get() const { return ref_; }
  // The slot an out-parameter of a Copy call fills; whatever it held before is released first.
  CFTypeRef* receive() {
    if (ref_ != nullptr) CFRelease(ref_);
    ref_ = nullptr;
    return &ref_;
  }

 private:
  CFTypeRef ref_ = nullptr;
};

// An AXUIElementRef holding one reference of its own for the life of the handle.
class MacElement final : public ElementHandle {
 public:
  // Takes over the reference the caller owns.
  explicit MacElement(AXUIElementRef owned) : ref_(owned) {}
  ~MacElement() override { CFRelease(ref_); }
  MacElement(const MacElement&) = delete;
  MacElement& operator=(const MacElement&) = delete;

  AXUIElementRef ref() const { return ref_; }

 private:
  AXUIElementRef ref_;
};

Element adoptElement(AXUIElementRef owned) {
  if (owned == nullptr) return nullptr;
  return std::make_shared<const MacElement>(owned);
}

Element retainElement(AXUIElementRef borrowed) {
  if (borrowed == nullptr) return nullptr;
  return adoptElement(static_cast<AXUIElementRef>(CFRetain(borrowed)));
}

// Elements from another implementation (there are none in a real process) read as gone.
AXUIElementRef refOf(const Element& element) {
  const auto* mac = dynamic_cast<const MacElement*>(element.get());
  return mac != nullptr ? mac->ref() : nullptr;
}

// Every unit as it is, lone surrogates included: the core decides what to make of them.
std::u16string unitsOf(CFStringRef string) {
  const CFIndex length = CFStringGetLength(string);
  std::u16string units(static_cast<size_t>(length), u'\0');
  if (length > 0) {
    CFStringGetCharacters(string, CFRangeMake(0, length), reinterpret_cast<UniChar*>(units.data()));
  }
  return units;
}

// An owned CFString for an attribute name; null when the name is not valid UTF-8.
CFStringRef createName(std::string_view name) {
  return CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(name.data()),
                                 static_cast<CFIndex>(name.size()), kCFStringEncodingUTF8, false);
}

AttrValue valueOfAXValue(AXValueRef value) {
  if (AXValueGetType(value) == kAXValueTypeCFRange) {
    CFRange range = CFRangeMake(0, 0);
    if (AXValueGetValue(value, kAXValueTypeCFRange, &range)) {
      return AttrValue{
          TextRange{static_cast<int64_t>(range.location), static_cast<int64_t>(range.length)}};
    }
  }
  return AttrValue{OpaqueValue{}};
}

// Maps a borrowed CF value into the portable value; elements inside take references of their own.
AttrValue valueOf(CFTypeRef value) {
  const CFTypeID type = CFGetTypeID(value);
  if (type == CFStringGetTypeID()) return AttrValue{unitsOf(static_cast<CFStringRef>(value))};
  if (type == AXUIElementGetTypeID()) {
    return AttrValue{retainElement(static_cast<AXUIElementRef>(value))};
  }
  if (type == CFArrayGetTypeID()) {
    const auto array = static_cast<CFArrayRef>(value);
    const CFIndex count = CFArrayGetCount(array);
    AttrValue::List list;
    list.reserve(static_cast<size_t>(count));
    for (CFIndex i = 0; i < count; ++i) {
      const CFTypeRef entry = CFArrayGetValueAtIndex(array, i);
      list.push_back(entry != nullptr ? valueOf(entry) : AttrValue{OpaqueValue{}});
    }
    return AttrValue{std::move(list)};
  }
  // CFBoolean is a type of its own, distinct from CFNumber, so the order of these two is free.
  if (type == CFBooleanGetTypeID()) {
    return AttrValue{CFBooleanGetValue(static_cast<CFBooleanRef>(value)) != 0};
  }
  if (type == CFNumberGetTypeID()) {
    double number = 0;
    // False only means the conversion was lossy; the nearest double is still written.
    CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberDoubleType, &number);
    return AttrValue{number};
  }
  if (type == AXValueGetTypeID()) return valueOfAXValue(static_cast<AXValueRef>(value));
  return AttrValue{OpaqueValue{}};
}

// Each call makes one request to the owning application, bounded by the AX messaging timeout the
// system applies to every request (no call here changes it).
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
      if (bundleId != nil)
        frontmost.bundleId = utf8FromUtf16(unitsOf((__bridge CFStringRef)bundleId));
      return frontmost;
    }
  }

  Element applicationElement(int32_t pid) override {
    return adoptElement(AXUIElementCreateApplication(static_cast<pid_t>(pid)));
  }

  Element systemWideElement() override { return adoptElement(AXUIElementCreateSystemWide()); }

  std::optional<AttrValue> copyAttribute(const Element& element, std::string_view name) override {
    const AXUIElementRef ref = refOf(element);
    if (ref == nullptr) return std::nullopt;
    const ScopedCF attribute(createName(name));
    if (attribute.get() == nullptr) return std::nullopt;
    ScopedCF value;
    const AXError error = AXUIElementCopyAttributeValue(
        ref, static_cast<CFStringRef>(attribute.get()), value.receive());
    if (error != kAXErrorSuccess || value.get() == nullptr) return std::nullopt;
    return valueOf(value.get());
  }

  void setBoolAttribute(const Element& element, std::string_view name, bool value) override {
    const AXUIElementRef ref = refOf(element);
    if (ref == nullptr) return;
    const ScopedCF attribute(createName(name));
    if (attribute.get() == nullptr) return;
    AXUIElementSetAttributeValue(ref, static_cast<CFStringRef>(attribute.get()),
                                 value ? kCFBooleanTrue : kCFBooleanFalse);
  }
};

}  // namespace

std::unique_ptr<Accessibility> makePlatformAccessibility() {
  return std::make_unique<MacAccessibility>();
}
