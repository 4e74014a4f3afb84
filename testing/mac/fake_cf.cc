// An in-memory CoreFoundation with real reference counts, for Linux tests of the macOS glue.
#include "testing/mac/ax_service.h"

#include <set>
#include <utility>

namespace {

enum TypeId : CFTypeID { STRING = 1, ARRAY, NUMBER, BOOLEAN, ELEMENT, AXVALUE };

struct Object {
  CFTypeID type = 0;
  CFIndex refs = 1;
  std::u16string units;
  std::vector<CFTypeRef> items;  // each holds a reference
  bool boolean = false;
  double number = 0;
  AXValueType axType = kAXValueTypeIllegal;
  CFRange range = {0, 0};
  FakeAXNode node = {0, 0};  // of an element
};

// The fake stands in for a process-wide C library, so it keeps its state in one place too.
std::set<const Object*>& live() {
  static std::set<const Object*> instance;
  return instance;
}

Object trueObject{.type = BOOLEAN, .boolean = true};
Object falseObject{.type = BOOLEAN, .boolean = false};

bool immortal(const Object* object) {
  return object == &trueObject || object == &falseObject;
}

// The object behind `ref`, or null (and a failure of the running test) when it was already freed.
Object* use(CFTypeRef ref, const char* call) {
  auto* object = static_cast<Object*>(const_cast<void*>(ref));
  if (immortal(object) || live().count(object) != 0) return object;
  ADD_FAILURE() << call << " on a freed or unknown object";
  return nullptr;
}

Object* make(CFTypeID type) {
  auto* object = new Object();
  object->type = type;
  live().insert(object);
  return object;
}

}  // namespace

extern "C" {

const CFAllocatorRef kCFAllocatorDefault = nullptr;
const CFArrayCallBacks kCFTypeArrayCallBacks = {0, nullptr, nullptr, nullptr, nullptr};
const CFBooleanRef kCFBooleanTrue = reinterpret_cast<CFBooleanRef>(&trueObject);
const CFBooleanRef kCFBooleanFalse = reinterpret_cast<CFBooleanRef>(&falseObject);

CFTypeRef CFRetain(CFTypeRef cf) {
  if (Object* object = use(cf, "CFRetain"); object != nullptr && !immortal(object)) ++object->refs;
  return cf;
}

void CFRelease(CFTypeRef cf) {
  Object* object = use(cf, "CFRelease");
  if (object == nullptr || immortal(object) || --object->refs > 0) return;
  live().erase(object);
  for (CFTypeRef item : object->items) CFRelease(item);
  delete object;
}

CFTypeID CFGetTypeID(CFTypeRef cf) {
  const Object* object = use(cf, "CFGetTypeID");
  return object != nullptr ? object->type : 0;
}

// Each type identifier function answers its TypeId.
#define TYPE_ID(function, id) \
  CFTypeID function(void) {   \
    return id;                \
  }
TYPE_ID(CFStringGetTypeID, STRING)
TYPE_ID(CFArrayGetTypeID, ARRAY)
TYPE_ID(CFNumberGetTypeID, NUMBER)
TYPE_ID(CFBooleanGetTypeID, BOOLEAN)
TYPE_ID(AXUIElementGetTypeID, ELEMENT)
TYPE_ID(AXValueGetTypeID, AXVALUE)

CFStringRef CFStringCreateWithCharacters(CFAllocatorRef, const UniChar* chars, CFIndex numChars) {
  Object* object = make(STRING);
  object->units.assign(reinterpret_cast<const char16_t*>(chars), static_cast<size_t>(numChars));
  return reinterpret_cast<CFStringRef>(object);
}

// Only attribute names are made from bytes, and they are ASCII.
CFStringRef CFStringCreateWithBytes(CFAllocatorRef, const UInt8* bytes, CFIndex numBytes,
                                    CFStringEncoding, Boolean) {
  return fakeCFText(std::u16string(bytes, bytes + numBytes));
}

CFIndex CFStringGetLength(CFStringRef string) {
  const Object* object = use(string, "CFStringGetLength");
  return object != nullptr ? static_cast<CFIndex>(object->units.size()) : 0;
}

void CFStringGetCharacters(CFStringRef string, CFRange range, UniChar* buffer) {
  if (const Object* object = use(string, "CFStringGetCharacters")) {
    object->units.copy(reinterpret_cast<char16_t*>(buffer), static_cast<size_t>(range.length),
                       static_cast<size_t>(range.location));
  }
}

CFArrayRef CFArrayCreate(CFAllocatorRef, const void** values, CFIndex numValues,
                         const CFArrayCallBacks*) {
  Object* object = make(ARRAY);
  for (CFIndex i = 0; i < numValues; ++i) object->items.push_back(CFRetain(values[i]));
  return reinterpret_cast<CFArrayRef>(object);
}

CFIndex CFArrayGetCount(CFArrayRef array) {
  const Object* object = use(array, "CFArrayGetCount");
  return object != nullptr ? static_cast<CFIndex>(object->items.size()) : 0;
}

const void* CFArrayGetValueAtIndex(CFArrayRef array, CFIndex index) {
  const Object* object = use(array, "CFArrayGetValueAtIndex");
  return object != nullptr ? object->items.at(static_cast<size_t>(index)) : nullptr;
}

// Numbers are doubles here: the one number the readers use is a text's length.
CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType, const void* valuePtr) {
  Object* object = make(NUMBER);
  object->number = *static_cast<const double*>(valuePtr);
  return reinterpret_cast<CFNumberRef>(object);
}

Boolean CFNumberGetValue(CFNumberRef number, CFNumberType type, void* valuePtr) {
  const Object* object = use(number, "CFNumberGetValue");
  if (object == nullptr || type != kCFNumberDoubleType) return false;
  *static_cast<double*>(valuePtr) = object->number;
  return true;
}

Boolean CFBooleanGetValue(CFBooleanRef boolean) {
  const Object* object = use(boolean, "CFBooleanGetValue");
  return object != nullptr && object->boolean;
}

AXValueRef AXValueCreate(AXValueType type, const void* valuePtr) {
  Object* object = make(AXVALUE);
  object->axType = type;
  if (type == kAXValueTypeCFRange) object->range = *static_cast<const CFRange*>(valuePtr);
  return reinterpret_cast<AXValueRef>(object);
}

AXValueType AXValueGetType(AXValueRef value) {
  const Object* object = use(value, "AXValueGetType");
  return object != nullptr ? object->axType : kAXValueTypeIllegal;
}

Boolean AXValueGetValue(AXValueRef value, AXValueType type, void* valuePtr) {
  const Object* object = use(value, "AXValueGetValue");
  if (object == nullptr || object->axType != type) return false;
  if (type == kAXValueTypeCFRange) *static_cast<CFRange*>(valuePtr) = object->range;
  return type == kAXValueTypeCFRange;
}

}  // extern "C"

size_t fakeCFLiveObjects() {
  return live().size();
}

AXUIElementRef fakeCFCreateElement(FakeAXNode node) {
  Object* object = make(ELEMENT);
  object->node = node;
  return reinterpret_cast<AXUIElementRef>(object);
}

CFStringRef fakeCFText(std::u16string_view units) {
  return CFStringCreateWithCharacters(nullptr, reinterpret_cast<const UniChar*>(units.data()),
                                      static_cast<CFIndex>(units.size()));
}

std::optional<FakeAXNode> fakeCFNodeOf(CFTypeRef ref) {
  const Object* object = use(ref, "fakeCFNodeOf");
  if (object == nullptr || object->type != ELEMENT) return std::nullopt;
  return object->node;
}
