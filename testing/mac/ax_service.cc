// The in-memory Accessibility service: the AX C API and the run loop over scripted applications.
#include "testing/mac/ax_service.h"

#include <deque>
#include <map>
#include <utility>

namespace {

struct Answer {
  AXError error;
  CFTypeRef value;  // holds a reference
};

struct Service {
  std::map<std::pair<FakeAXNode, std::string>, Answer> answers;
  std::map<pid_t, AXError> stalls;
  std::vector<FakeAXCall> calls;
  std::chrono::steady_clock::duration clock{};
  std::optional<FakeFrontmost> frontmost;
  std::deque<std::optional<FakeFrontmost>> activated;  // each waits for a run of the run loop
};

// The fake stands in for a process-wide system service, so it keeps its state in one place too.
Service& service() {
  static Service instance;
  return instance;
}

constexpr pid_t SYSTEM_WIDE = -1;

std::string keyOf(CFStringRef name) {
  std::u16string units(static_cast<size_t>(CFStringGetLength(name)), u'\0');
  CFStringGetCharacters(name, CFRangeMake(0, static_cast<CFIndex>(units.size())),
                        reinterpret_cast<UniChar*>(units.data()));
  return std::string(units.begin(), units.end());  // attribute names are ASCII
}

// Logs the request; the error a stalled application answers it with, after the system's wait.
AXError request(FakeAXNode node, std::string attribute, CFTypeRef written = nullptr) {
  service().calls.push_back({node, std::move(attribute), written});
  const auto found = service().stalls.find(node.pid);
  if (found == service().stalls.end()) return kAXErrorSuccess;
  if (found->second == kAXErrorCannotComplete) service().clock += std::chrono::seconds(6);
  return found->second;
}

// The scripted answer; an attribute never scripted is unsupported.
Answer answerOf(FakeAXNode node, const std::string& attribute) {
  const auto found = service().answers.find({node, attribute});
  if (found == service().answers.end()) return {kAXErrorAttributeUnsupported, nullptr};
  return found->second;
}

// The node's scripted "AXValue" when it is a text.
CFStringRef textOf(FakeAXNode node) {
  const CFTypeRef value = answerOf(node, "AXValue").value;
  if (value == nullptr || CFGetTypeID(value) != CFStringGetTypeID()) return nullptr;
  return static_cast<CFStringRef>(value);
}

// The answer with a new reference to its value, as one attribute of a read of one or several.
AXError copyAnswer(FakeAXNode node, const std::string& key, CFTypeRef* value) {
  const Answer answer = answerOf(node, key);
  const CFStringRef text = textOf(node);
  // A text element counts its value's UTF-16 units unless told otherwise, as on macOS.
  if (key == "AXNumberOfCharacters" && answer.value == nullptr && text != nullptr) {
    const auto count = static_cast<double>(CFStringGetLength(text));
    *value = CFNumberCreate(kCFAllocatorDefault, kCFNumberDoubleType, &count);
    return kAXErrorSuccess;
  }
  if (answer.value != nullptr) *value = CFRetain(answer.value);
  return answer.error;
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
  const std::optional<FakeAXNode> node = fakeCFNodeOf(element);
  if (!node || node->pid == SYSTEM_WIDE) return kAXErrorIllegalArgument;
  *pid = node->pid;
  return kAXErrorSuccess;
}

AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                      CFTypeRef* value) {
  const std::optional<FakeAXNode> node = fakeCFNodeOf(element);
  if (!node || attribute == nullptr) return kAXErrorIllegalArgument;
  const std::string key = keyOf(attribute);
  if (const AXError stall = request(*node, key)) return stall;
  return copyAnswer(*node, key, value);
}

// "AXStringForRange": a part of the node's scripted "AXValue" text; a scripted answer (an error)
// comes first, and a range outside the text is an illegal argument, as on macOS.
AXError AXUIElementCopyParameterizedAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                                   CFTypeRef parameter, CFTypeRef* result) {
  const std::optional<FakeAXNode> node = fakeCFNodeOf(element);
  if (!node || attribute == nullptr || parameter == nullptr) return kAXErrorIllegalArgument;
  const std::string key = keyOf(attribute);
  if (const AXError stall = request(*node, key)) return stall;
  if (service().answers.count({*node, key}) != 0) return answerOf(*node, key).error;
  const CFStringRef text = textOf(*node);
  CFRange range = CFRangeMake(0, 0);
  if (key != "AXStringForRange" || text == nullptr)
    return kAXErrorParameterizedAttributeUnsupported;
  if (!AXValueGetValue(static_cast<AXValueRef>(parameter), kAXValueTypeCFRange, &range) ||
      range.location < 0 || range.length < 0 ||
      range.location > CFStringGetLength(text) - range.length)
    return kAXErrorIllegalArgument;
  std::u16string units(static_cast<size_t>(range.length), u'\0');
  CFStringGetCharacters(text, range, reinterpret_cast<UniChar*>(units.data()));
  *result = fakeCFText(units);
  return kAXErrorSuccess;
}

AXError AXUIElementCopyMultipleAttributeValues(AXUIElementRef element, CFArrayRef attributes,
                                               AXCopyMultipleAttributeOptions, CFArrayRef* values) {
  const std::optional<FakeAXNode> node = fakeCFNodeOf(element);
  if (!node || attributes == nullptr) return kAXErrorIllegalArgument;
  std::string joined;
  std::vector<std::string> keys;
  for (CFIndex i = 0; i < CFArrayGetCount(attributes); ++i) {
    keys.push_back(keyOf(static_cast<CFStringRef>(CFArrayGetValueAtIndex(attributes, i))));
    joined += (joined.empty() ? "" : ",") + keys.back();
  }
  if (const AXError stall = request(*node, joined)) return stall;
  std::vector<const void*> slots;
  std::vector<CFTypeRef> made;
  for (const std::string& key : keys) {
    CFTypeRef value = nullptr;
    const AXError error = copyAnswer(*node, key, &value);
    if (error == kAXErrorSuccess && value != nullptr) {
      made.push_back(value);
      slots.push_back(value);
      continue;
    }
    if (value != nullptr) CFRelease(value);
    // Every failed attribute's slot holds its error code (the readers never stop on an error).
    const AXError code = error != kAXErrorSuccess ? error : kAXErrorNoValue;
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
  const std::optional<FakeAXNode> node = fakeCFNodeOf(element);
  if (!node || attribute == nullptr) return kAXErrorIllegalArgument;
  return request(*node, keyOf(attribute), value);
}

// Running the main run loop is what lets NSWorkspace take in a change of frontmost application.
CFRunLoopRunResult CFRunLoopRunInMode(CFRunLoopMode, CFTimeInterval, Boolean) {
  if (service().activated.empty()) return kCFRunLoopRunTimedOut;
  service().frontmost = service().activated.front();
  service().activated.pop_front();
  return kCFRunLoopRunTimedOut;
}

}  // extern "C"

void fakeAXAnswer(FakeAXNode node, std::string_view attribute, AXError error, CFTypeRef value) {
  auto& slot = service().answers[{node, std::string(attribute)}];
  if (slot.value != nullptr) CFRelease(slot.value);
  slot = {error, value != nullptr ? CFRetain(value) : nullptr};
}

// Scripts `value` (an owned reference, released here) as the answer.
static void answerWith(FakeAXNode node, std::string_view attribute, CFTypeRef value) {
  fakeAXAnswer(node, attribute, kAXErrorSuccess, value);
  CFRelease(value);
}

void fakeAXText(FakeAXNode node, std::string_view attribute, std::u16string_view units) {
  answerWith(node, attribute, fakeCFText(units));
}

void fakeAXElement(FakeAXNode node, std::string_view attribute, FakeAXNode target) {
  answerWith(node, attribute, fakeCFCreateElement(target));
}

void fakeAXList(FakeAXNode node, std::string_view attribute, const std::vector<FakeAXNode>& nodes) {
  std::vector<const void*> items;
  for (const FakeAXNode& item : nodes) items.push_back(fakeCFCreateElement(item));
  answerWith(node, attribute,
             CFArrayCreate(kCFAllocatorDefault, items.data(), static_cast<CFIndex>(items.size()),
                           &kCFTypeArrayCallBacks));
  for (const void* item : items) CFRelease(item);
}

void fakeAXStall(pid_t pid, AXError error) {
  service().stalls[pid] = error;
}

void fakeAXActivate(std::optional<FakeFrontmost> frontmost) {
  service().activated.push_back(std::move(frontmost));
}

std::optional<FakeFrontmost> fakeAXFrontmost() {
  return service().frontmost;
}

std::chrono::steady_clock::time_point fakeAXNow() {
  return std::chrono::steady_clock::time_point(service().clock);
}

const std::vector<FakeAXCall>& fakeAXCalls() {
  return service().calls;
}

void fakeAXReset() {
  for (auto& [key, answer] : service().answers) {
    if (answer.value != nullptr) CFRelease(answer.value);
  }
  service() = Service{};
}
