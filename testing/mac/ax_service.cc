// The in-memory Accessibility service: the AX C API and the run loop over scripted applications.
#include "testing/mac/ax_service.h"

#include <map>
#include <utility>

namespace {

struct Answer {
  AXError error;
  CFTypeRef value;  // holds a reference
};

struct Service {
  std::map<std::pair<FakeNode, std::string>, Answer> answers;
  std::map<pid_t, AXError> stalls;
  std::vector<FakeAXCall> reads;
  std::vector<FakeAXCall> writes;
  double clock = 0;
  std::optional<FakeFrontmost> frontmost;                 // holds a reference to the bundle id
  std::optional<std::optional<FakeFrontmost>> activated;  // waits for the run loop
};

// The fake stands in for a process-wide system service, so it keeps its state in one place too.
Service& service() {
  static Service instance;
  return instance;
}

constexpr pid_t SYSTEM_WIDE = -1;

void drop(std::optional<FakeFrontmost>& frontmost) {
  if (frontmost) CFRelease(frontmost->bundleId);
  frontmost.reset();
}

std::string keyOf(CFStringRef name) {
  std::u16string units(static_cast<size_t>(CFStringGetLength(name)), u'\0');
  CFStringGetCharacters(name, CFRangeMake(0, static_cast<CFIndex>(units.size())),
                        reinterpret_cast<UniChar*>(units.data()));
  return std::string(units.begin(), units.end());  // attribute names are ASCII
}

// The error a stalled application answers every request with, after the system's wait.
AXError stallOf(FakeNode node) {
  const auto found = service().stalls.find(node.pid);
  if (found == service().stalls.end()) return kAXErrorSuccess;
  if (found->second == kAXErrorCannotComplete) service().clock += FAKE_AX_TIMEOUT_SECONDS;
  return found->second;
}

// The scripted answer; an attribute never scripted is unsupported.
Answer answerOf(FakeNode node, const std::string& attribute) {
  const auto found = service().answers.find({node, attribute});
  if (found == service().answers.end()) return {kAXErrorAttributeUnsupported, nullptr};
  return found->second;
}

}  // namespace

extern "C" {

const CFRunLoopMode kCFRunLoopDefaultMode = nullptr;

Boolean AXIsProcessTrusted(void) {
  return true;
}
Boolean AXIsProcessTrustedWithOptions(CFDictionaryRef) {
  return true;
}

AXUIElementRef AXUIElementCreateApplication(pid_t pid) {
  return fakeCFCreateElement({pid, 0});
}

AXUIElementRef AXUIElementCreateSystemWide(void) {
  return fakeCFCreateElement({SYSTEM_WIDE, 0});
}

AXError AXUIElementGetPid(AXUIElementRef element, pid_t* pid) {
  const std::optional<FakeNode> node = fakeCFNodeOf(element);
  if (!node || node->pid == SYSTEM_WIDE) return kAXErrorIllegalArgument;
  *pid = node->pid;
  return kAXErrorSuccess;
}

AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                      CFTypeRef* value) {
  const std::optional<FakeNode> node = fakeCFNodeOf(element);
  if (!node || attribute == nullptr) return kAXErrorIllegalArgument;
  const std::string key = keyOf(attribute);
  service().reads.push_back({element, *node, key, nullptr});
  if (const AXError stall = stallOf(*node)) return stall;
  const Answer answer = answerOf(*node, key);
  const Answer text = answerOf(*node, "AXValue");
  // A text element counts its value's UTF-16 units unless told otherwise, as on macOS.
  if (key == "AXNumberOfCharacters" && answer.value == nullptr && text.value != nullptr &&
      CFGetTypeID(text.value) == CFStringGetTypeID()) {
    const auto count = static_cast<double>(CFStringGetLength(static_cast<CFStringRef>(text.value)));
    *value = CFNumberCreate(kCFAllocatorDefault, kCFNumberDoubleType, &count);
    return kAXErrorSuccess;
  }
  if (answer.value != nullptr) *value = CFRetain(answer.value);
  return answer.error;
}

// A part of the node's scripted "AXValue" text; a scripted "AXStringForRange" answer (an error)
// comes first, and a range outside the text is an illegal argument, as on macOS.
AXError AXUIElementCopyParameterizedAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                                   CFTypeRef parameter, CFTypeRef* result) {
  const std::optional<FakeNode> node = fakeCFNodeOf(element);
  if (!node || attribute == nullptr || parameter == nullptr) return kAXErrorIllegalArgument;
  const std::string key = keyOf(attribute);
  service().reads.push_back({element, *node, key, nullptr});
  if (const AXError stall = stallOf(*node)) return stall;
  if (service().answers.count({*node, key}) != 0) return answerOf(*node, key).error;
  const Answer text = answerOf(*node, "AXValue");
  CFRange range = CFRangeMake(0, 0);
  if (key != "AXStringForRange" || text.value == nullptr ||
      CFGetTypeID(text.value) != CFStringGetTypeID())
    return kAXErrorParameterizedAttributeUnsupported;
  const auto string = static_cast<CFStringRef>(text.value);
  if (!AXValueGetValue(static_cast<AXValueRef>(parameter), kAXValueTypeCFRange, &range) ||
      range.location < 0 || range.length < 0 ||
      range.location > CFStringGetLength(string) - range.length)
    return kAXErrorIllegalArgument;
  std::u16string units(static_cast<size_t>(range.length), u'\0');
  CFStringGetCharacters(string, range, reinterpret_cast<UniChar*>(units.data()));
  *result = fakeCFText(units);
  return kAXErrorSuccess;
}

AXError AXUIElementCopyMultipleAttributeValues(AXUIElementRef element, CFArrayRef attributes,
                                               AXCopyMultipleAttributeOptions, CFArrayRef* values) {
  const std::optional<FakeNode> node = fakeCFNodeOf(element);
  if (!node || attributes == nullptr) return kAXErrorIllegalArgument;
  std::string joined;
  std::vector<std::string> keys;
  for (CFIndex i = 0; i < CFArrayGetCount(attributes); ++i) {
    keys.push_back(keyOf(static_cast<CFStringRef>(CFArrayGetValueAtIndex(attributes, i))));
    joined += (joined.empty() ? "" : ",") + keys.back();
  }
  service().reads.push_back({element, *node, joined, nullptr});
  if (const AXError stall = stallOf(*node)) return stall;
  std::vector<const void*> slots;
  std::vector<CFTypeRef> made;
  for (const std::string& key : keys) {
    const Answer answer = answerOf(*node, key);
    if (answer.error == kAXErrorSuccess && answer.value != nullptr) {
      slots.push_back(answer.value);
      continue;
    }
    // Every failed attribute's slot holds its error code (the readers never stop on an error).
    const AXError code = answer.error != kAXErrorSuccess ? answer.error : kAXErrorNoValue;
    made.push_back(AXValueCreate(kAXValueTypeAXError, &code));
    slots.push_back(made.back());
  }
  *values = CFArrayCreate(kCFAllocatorDefault, slots.data(), static_cast<CFIndex>(slots.size()),
                          &kCFTypeArrayCallBacks);
  for (CFTypeRef m : made) CFRelease(m);
  return kAXErrorSuccess;
}

AXError AXUIElementSetAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                     CFTypeRef value) {
  const std::optional<FakeNode> node = fakeCFNodeOf(element);
  if (!node || attribute == nullptr) return kAXErrorIllegalArgument;
  service().writes.push_back({element, *node, keyOf(attribute), value});
  return stallOf(*node);
}

// Running the main run loop is what lets NSWorkspace take in a change of frontmost application.
CFRunLoopRunResult CFRunLoopRunInMode(CFRunLoopMode, CFTimeInterval, Boolean) {
  if (service().activated) {
    drop(service().frontmost);
    service().frontmost = *service().activated;
    service().activated.reset();
  }
  return kCFRunLoopRunTimedOut;
}

}  // extern "C"

void fakeAXAnswer(AXUIElementRef element, std::string_view attribute, AXError error,
                  CFTypeRef value) {
  auto& slot = service().answers[{*fakeCFNodeOf(element), std::string(attribute)}];
  if (slot.value != nullptr) CFRelease(slot.value);
  slot = {error, value != nullptr ? CFRetain(value) : nullptr};
}

// Scripts `value` (an owned reference, released here) as the answer.
static void answerWith(FakeNode node, std::string_view attribute, CFTypeRef value) {
  const AXUIElementRef element = fakeCFCreateElement(node);
  fakeAXAnswer(element, attribute, kAXErrorSuccess, value);
  CFRelease(value);
  CFRelease(element);
}

void fakeAXText(FakeNode node, std::string_view attribute, std::u16string_view units) {
  answerWith(node, attribute, fakeCFText(units));
}

void fakeAXElement(FakeNode node, std::string_view attribute, FakeNode target) {
  answerWith(node, attribute, fakeCFCreateElement(target));
}

void fakeAXList(FakeNode node, std::string_view attribute, const std::vector<FakeNode>& nodes) {
  std::vector<const void*> items;
  for (const FakeNode& item : nodes) items.push_back(fakeCFCreateElement(item));
  answerWith(node, attribute,
             CFArrayCreate(kCFAllocatorDefault, items.data(), static_cast<CFIndex>(items.size()),
                           &kCFTypeArrayCallBacks));
  for (const void* item : items) CFRelease(item);
}

void fakeAXStall(pid_t pid, AXError error) {
  service().stalls[pid] = error;
}

void fakeAXActivate(std::optional<pid_t> pid, std::u16string_view bundleId) {
  if (service().activated) drop(*service().activated);
  service().activated.emplace();
  if (pid) *service().activated = FakeFrontmost{*pid, fakeCFText(bundleId)};
}

std::optional<FakeFrontmost> fakeAXFrontmost() {
  return service().frontmost;
}

double fakeAXClock() {
  return service().clock;
}

const std::vector<FakeAXCall>& fakeAXReads() {
  return service().reads;
}
const std::vector<FakeAXCall>& fakeAXWrites() {
  return service().writes;
}

void fakeAXReset() {
  for (auto& [key, answer] : service().answers) {
    if (answer.value != nullptr) CFRelease(answer.value);
  }
  if (service().activated) drop(*service().activated);
  drop(service().frontmost);
  service() = Service{};
}
