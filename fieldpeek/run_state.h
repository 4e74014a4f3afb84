// fieldpeek's process-wide state: what lives from the trust check to the done line.
#pragma once

#include <chrono>
#include <cstdint>
#include <set>

struct RunState {
  // Applications already asked to expose their tree; it never shrinks, so each is asked once a run.
  std::set<int32_t> treeEnabled;
  // Monotonic, so setting the wall clock can neither stretch nor cut the run.
  std::chrono::steady_clock::time_point deadline;
  int64_t polls = 0;
  int64_t withText = 0;  // polls whose list of texts was not empty
};
