// macOS only: a walk's prefetch hints turned into one AX request per element.
#include "ax/mac/batch.h"

#include <ApplicationServices/ApplicationServices.h>

#include <algorithm>
#include <deque>
#include <utility>

#include "ax/mac/values.h"

namespace {

// A borrowed slot of the reply: an AXError value stands for an attribute that could not be read.
std::optional<AttrValue> answerOf(CFTypeRef slot) {
  if (slot == nullptr) return std::nullopt;
  if (CFGetTypeID(slot) == AXValueGetTypeID() &&
      AXValueGetType(static_cast<AXValueRef>(slot)) == kAXValueTypeAXError) {
    return std::nullopt;
  }
  return attrValueOf(slot);
}

}  // namespace

std::vector<std::optional<AttrValue>> copyAXAttributes(const Element& element,
                                                       const std::vector<std::string>& names,
                                                       AXError* error) {
  const AXUIElementRef ref = axElementOf(element);
  if (ref == nullptr || names.empty()) return {};
  std::deque<ScopedCF> owned;  // a deque: ScopedCF cannot move
  std::vector<const void*> attributes;
  for (const std::string& name : names) {
    owned.emplace_back(createAttributeName(name));
    if (owned.back().get() == nullptr) return {};
    attributes.push_back(owned.back().get());
  }
  const ScopedCF list(CFArrayCreate(kCFAllocatorDefault, attributes.data(),
                                    static_cast<CFIndex>(attributes.size()),
                                    &kCFTypeArrayCallBacks));
  if (list.get() == nullptr) return {};
  CFArrayRef values = nullptr;
  // Without the stop-on-error option every attribute gets a slot, failed ones an AXError value.
  const AXError code = AXUIElementCopyMultipleAttributeValues(
      ref, static_cast<CFArrayRef>(list.get()), static_cast<AXCopyMultipleAttributeOptions>(0),
      &values);
  const ScopedCF reply(values);  // released on every path, whatever the code said
  if (error != nullptr) *error = code;
  if (code != kAXErrorSuccess || values == nullptr || CFGetTypeID(values) != CFArrayGetTypeID()) {
    return {};
  }
  if (CFArrayGetCount(values) != static_cast<CFIndex>(names.size())) return {};
  std::vector<std::optional<AttrValue>> out;
  out.reserve(names.size());
  for (CFIndex i = 0; i < CFArrayGetCount(values); ++i) {
    out.push_back(answerOf(CFArrayGetValueAtIndex(values, i)));
  }
  return out;
}

void BatchedReads::hint(const PrefetchHint& hint) {
  // Asked ahead, the value would be asked of every group, table and web area too.
  std::vector<std::string> names;
  for (std::string_view name : hint.attributes) {
    if (name != "AXValue") names.emplace_back(name);
  }
  if (names.empty()) return;
  for (const Element& element : hint.elements) {
    if (element == nullptr || axElementOf(element) == nullptr) continue;
    hinted_.insert_or_assign(element.get(), Entry{element, names, {}, {}, false});
  }
}

std::optional<std::optional<AttrValue>> BatchedReads::take(const Element& element,
                                                           std::string_view name, AXError* error) {
  const auto found = hinted_.find(element.get());
  if (found == hinted_.end()) return std::nullopt;
  Entry& entry = found->second;
  const auto at = std::find(entry.names.begin(), entry.names.end(), name);
  if (at == entry.names.end()) return std::nullopt;
  if (!entry.fetched) {
    entry.fetched = true;
    entry.values = copyAXAttributes(entry.element, entry.names, error);
    // A failed request leaves every slot empty: asked again one by one, an application that timed
    // out would make each plain read wait as long again.
    entry.values.resize(entry.names.size());
    entry.taken.assign(entry.names.size(), false);
  }
  const auto index = static_cast<size_t>(at - entry.names.begin());
  if (entry.taken[index]) return std::nullopt;
  entry.taken[index] = true;
  std::optional<AttrValue> answer = std::move(entry.values[index]);
  if (std::all_of(entry.taken.begin(), entry.taken.end(), [](bool t) { return t; })) {
    hinted_.erase(found);
  }
  return answer;
}
