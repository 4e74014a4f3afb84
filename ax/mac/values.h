// macOS only: AX reads and writes with CoreFoundation values mapped into AttrValue at the boundary.
#pragma once

#include <ApplicationServices/ApplicationServices.h>

#include <optional>
#include <string>
#include <string_view>

#include "ax/ax.h"

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

// An element for an AXUIElementRef the caller owns (from a Create call); null stays null.
Element adoptElement(AXUIElementRef owned);

// The AXUIElementRef behind an element of this platform; null for any other element.
AXUIElementRef axElementOf(const Element& element);

// The UTF-16 units of a CFString (or a toll-free bridged NSString) as they are, lone surrogates
// included: the core decides what to make of them.
std::u16string unitsOf(CFStringRef string);

// Maps a borrowed CF value: CFString to its UTF-16 units as they are, AXUIElement to an element
// holding a reference of its own, CFArray to a list, CFNumber to double, CFBoolean to bool, a
// CFRange AXValue to a range; any other value is opaque.
AttrValue attrValueOf(CFTypeRef value);

// An owned CFString for an attribute name; null when the name is not valid UTF-8.
CFStringRef createAttributeName(std::string_view name);

// One AXUIElementCopyAttributeValue; nothing on any error code or a null value. `error`, when
// given, receives the request's code (left alone when no request was made).
std::optional<AttrValue> copyAXAttribute(const Element& element, std::string_view name,
                                         AXError* error = nullptr);

// One AXUIElementCopyParameterizedAttributeValue of "AXStringForRange" with a CFRange AXValue:
// the UTF-16 units of `range`, as they are; nothing on any error code or an answer that is not a
// string. `error` as for copyAXAttribute.
std::optional<std::u16string> copyAXStringForRange(const Element& element, TextRange range,
                                                   AXError* error = nullptr);

// One AXUIElementSetAttributeValue with kCFBooleanTrue or kCFBooleanFalse; the code is returned
// only to tell an application that stopped answering (kAXErrorFailure when nothing was asked).
AXError setAXBoolAttribute(const Element& element, std::string_view name, bool value);
