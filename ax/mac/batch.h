// macOS only: a walk's prefetch hints turned into the platform's own batching, one
// AXUIElementCopyMultipleAttributeValues per element for all the attributes the walk will read.
#pragma once

#include <ApplicationServices/ApplicationServices.h>

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ax/ax.h"

// One AXUIElementCopyMultipleAttributeValues for `names`. Each answer is what copyAXAttribute
// gives for that name alone: nothing where the slot holds an error or no value. Empty when the
// request as a whole fails; `error`, when given, receives the request's code.
std::vector<std::optional<AttrValue>> copyAXAttributes(const Element& element,
                                                       const std::vector<std::string>& names,
                                                       AXError* error = nullptr);

// The hinted elements of a step. The first read of a hinted attribute of an element fetches all
// of its hinted attributes in one request; a hinted element the walk never reads costs nothing.
// "AXValue" is never fetched ahead: a walk reads it only after the role test, for text roles.
class BatchedReads {
 public:
  void hint(const PrefetchHint& hint);
  // The fetched answer for `name` of `element`, handed out once; no answer at all when the
  // attribute was not hinted or already handed out: the caller then reads it plainly. A request
  // that failed as a whole answers nothing for each of its attributes, never asked again one by
  // one. `error` receives the code of the request this call made, if it made one.
  std::optional<std::optional<AttrValue>> take(const Element& element, std::string_view name,
                                               AXError* error = nullptr);
  void clear() { hinted_.clear(); }

 private:
  struct Entry {
    Element element;  // keeps the key's address from being reused while the entry lives
    std::vector<std::string> names;
    std::vector<std::optional<AttrValue>> values;  // one per name once fetched
    std::vector<bool> taken;
    bool fetched = false;
  };
  std::unordered_map<const ElementHandle*, Entry> hinted_;
};
