// macOS only: a walk's prefetch hints turned into the platform's own batching, one
// AXUIElementCopyMultipleAttributeValues per element for all the attributes the walk will read.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/ax.h"

// One AXUIElementCopyMultipleAttributeValues for `names`. Each answer is what copyAXAttribute
// gives for that name alone: nothing where the slot holds an error or no value. Empty when the
// request as a whole fails, so that the caller reads one by one instead.
std::vector<std::optional<AttrValue>> copyAXAttributes(const Element& element,
                                                       const std::vector<std::string>& names);

// The hinted elements of a step. The first read of a hinted attribute of an element fetches all
// of its hinted attributes in one request; a hinted element the walk never reads costs nothing.
class BatchedReads {
 public:
  void hint(const PrefetchHint& hint);
  // The fetched answer for `name` of `element`, handed out once; no answer at all when the
  // attribute was not hinted, already handed out, or the request failed: the caller then reads
  // it plainly, as it would have without the hint.
  std::optional<std::optional<AttrValue>> take(const Element& element, std::string_view name);
  void clear() { hinted_.clear(); }

 private:
  struct Entry {
    Element element;  // keeps the key's address from being reused while the entry lives
    std::vector<std::string> names;
    std::vector<std::optional<AttrValue>> values;  // empty until fetched
    std::vector<bool> taken;
    bool fetched = false;
  };
  std::unordered_map<const ElementHandle*, Entry> hinted_;
};
