// macOS only: AX reads and writes with CoreFoundation values mapped into AttrValue at the boundary.
#include "ax/mac/values.h"

#include <memory>
#include <string>
#include <utility>

namespace {

static_assert(sizeof(UniChar) == sizeof(char16_t), "CFString units are UTF-16 code units");

// An AXUIElementRef holding one reference of its own for the life of the handle.
class MacElement final : public ElementHandle {
 public:
  explicit MacElement(AXUIElementRef owned) : ref_(owned) {}
  ~MacElement() override { CFRelease(ref_); }
  MacElement(const MacElement&) = delete;
  MacElement& operator=(const MacElement&) = delete;

  AXUIElementRef ref() const { return ref_; }

 private:
  AXUIElementRef ref_;
};

Element retainElement(AXUIElementRef borrowed) {
  return adoptElement(static_cast<AXUIElementRef>(CFRetain(borrowed)));
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

}  // namespace

CFStringRef createAttributeName(std::string_view name) {
  return CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(name.data()),
                                 static_cast<CFIndex>(name.size()), kCFStringEncodingUTF8, false);
}

Element adoptElement(AXUIElementRef owned) {
  if (owned == nullptr) return nullptr;
  return std::make_shared<const MacElement>(owned);
}

std::u16string unitsOf(CFStringRef string) {
  const CFIndex length = CFStringGetLength(string);
  std::u16string units(static_cast<size_t>(length), u'\0');
  if (length > 0) {
    CFStringGetCharacters(string, CFRangeMake(0, length), reinterpret_cast<UniChar*>(units.data()));
  }
  return units;
}

AXUIElementRef axElementOf(const Element& element) {
  const auto* mac = dynamic_cast<const MacElement*>(element.get());
  return mac != nullptr ? mac->ref() : nullptr;
}

AttrValue attrValueOf(CFTypeRef value) {
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
      list.push_back(entry != nullptr ? attrValueOf(entry) : AttrValue{OpaqueValue{}});
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

std::optional<AttrValue> copyAXAttribute(const Element& element, std::string_view name,
                                         AXError* error) {
  const AXUIElementRef ref = axElementOf(element);
  if (ref == nullptr) return std::nullopt;
  const ScopedCF attribute(createAttributeName(name));
  if (attribute.get() == nullptr) return std::nullopt;
  ScopedCF value;
  const AXError code = AXUIElementCopyAttributeValue(ref, static_cast<CFStringRef>(attribute.get()),
                                                     value.receive());
  if (error != nullptr) *error = code;
  // On an error code the slot is normally left null; whatever it holds is released all the same.
  if (code != kAXErrorSuccess || value.get() == nullptr) return std::nullopt;
  return attrValueOf(value.get());
}

std::optional<std::u16string> copyAXStringForRange(const Element& element, TextRange range,
                                                   AXError* error) {
  const AXUIElementRef ref = axElementOf(element);
  if (ref == nullptr) return std::nullopt;
  const CFRange cfRange =
      CFRangeMake(static_cast<CFIndex>(range.location), static_cast<CFIndex>(range.length));
  const ScopedCF parameter(AXValueCreate(kAXValueTypeCFRange, &cfRange));
  const ScopedCF attribute(createAttributeName("AXStringForRange"));
  if (parameter.get() == nullptr || attribute.get() == nullptr) return std::nullopt;
  ScopedCF value;
  const AXError code = AXUIElementCopyParameterizedAttributeValue(
      ref, static_cast<CFStringRef>(attribute.get()), parameter.get(), value.receive());
  if (error != nullptr) *error = code;
  if (code != kAXErrorSuccess || value.get() == nullptr ||
      CFGetTypeID(value.get()) != CFStringGetTypeID())
    return std::nullopt;
  return unitsOf(static_cast<CFStringRef>(value.get()));
}

AXError setAXBoolAttribute(const Element& element, std::string_view name, bool value) {
  const AXUIElementRef ref = axElementOf(element);
  if (ref == nullptr) return kAXErrorFailure;
  const ScopedCF attribute(createAttributeName(name));
  if (attribute.get() == nullptr) return kAXErrorFailure;
  return AXUIElementSetAttributeValue(ref, static_cast<CFStringRef>(attribute.get()),
                                      value ? kCFBooleanTrue : kCFBooleanFalse);
}
