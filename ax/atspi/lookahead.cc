// The window of elements fetched ahead of a walk and not yet read by it.
#include "ax/atspi/lookahead.h"

#include <algorithm>

void Lookahead::hint(std::vector<Element> elements, uint32_t attributes) {
  if (elements.empty() || attributes == 0) return;
  size_t run = runs_.size();
  for (size_t i = 0; i < elements.size(); ++i)
    if (elements[i]) places_.try_emplace(elements[i].get(), Place{run, i});
  runs_.push_back({std::move(elements), attributes});
}

Lookahead::Batch Lookahead::onRead(const ElementHandle* element) {
  Batch batch;
  auto found = places_.find(element);
  if (found == places_.end()) return batch;
  Place& place = found->second;
  if (place.fetched) {
    if (!place.read) --unread_;
    place.read = true;
    return batch;
  }
  const Run& run = runs_[place.run];
  batch.attributes = run.attributes;
  // The element read now always comes; the rest only while the window has room.
  size_t room = std::min(LOOKAHEAD_BATCH, std::max<size_t>(1, LOOKAHEAD_WINDOW - unread_));
  for (size_t i = place.index; i < run.elements.size() && batch.elements.size() < room; ++i) {
    const Element& next = run.elements[i];
    if (!next) continue;
    auto it = places_.find(next.get());
    // Hinted earlier elsewhere, or fetched already: not this hint's to fetch.
    if (it->second.run != place.run || it->second.index != i || it->second.fetched) continue;
    it->second.fetched = true;
    batch.elements.push_back(next);
  }
  place.read = true;
  unread_ += batch.elements.size() - 1;
  return batch;
}

void Lookahead::clear() {
  runs_.clear();
  places_.clear();
  unread_ = 0;
}
