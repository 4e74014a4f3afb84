// Which hinted elements to fetch ahead of a walk, so that fetched but unread elements stay few.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "ax/ax.h"

// At most this many elements are ever fetched ahead and not yet read: when a walk stops (its
// element or character budget spent), no more than this many were read for nothing.
inline constexpr size_t LOOKAHEAD_WINDOW = 64;
// One fetch takes at most this many elements of one hint. Each fetch waits for its replies twice
// (roles first, then the texts they call for), which on a loaded machine costs more than the calls
// themselves: batches of 32 made a 4000-label walk wait 250 times; a whole window halves that.
inline constexpr size_t LOOKAHEAD_BATCH = 64;

class Lookahead {
 public:
  struct Batch {
    std::vector<Element> elements;  // the element being read first, then those after it
    uint32_t attributes = 0;        // the mask given with their hint
  };

  // A walk is about to read `elements` in this order. An element hinted before keeps its first
  // place; the hint holds the elements until clear().
  void hint(std::vector<Element> elements, uint32_t attributes);
  // The walk reads `element` now. Returns what to fetch before answering: nothing when the element
  // was fetched already or never hinted; else the element and the next unfetched ones of its hint,
  // as many as the window has room for.
  Batch onRead(const ElementHandle* element);
  // Fetched elements the walk has not read yet.
  size_t unread() const { return unread_; }
  void clear();

 private:
  struct Run {
    std::vector<Element> elements;
    uint32_t attributes = 0;
  };
  struct Place {
    size_t run = 0;
    size_t index = 0;
    bool fetched = false;
    bool read = false;
  };
  std::vector<Run> runs_;
  std::unordered_map<const ElementHandle*, Place> places_;
  size_t unread_ = 0;
};
