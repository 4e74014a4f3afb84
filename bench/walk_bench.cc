// panescan's walk over 4000 elements of the in-memory tree: the core's own cost per element.
#include <benchmark/benchmark.h>

#include "bench/label_window.h"
#include "panescan/walk.h"

namespace {

void panescanWalk(benchmark::State& state) {
  FakeAccessibility ax;
  ax.recordReads = false;
  FakeNodePtr window = labelWindow();
  for (auto _ : state) {
    WalkState walkState;
    walk(ax, walkState, window, 0);
    benchmark::DoNotOptimize(walkState.visited);
    ax.hints.clear();
  }
  state.SetItemsProcessed(state.iterations() * WALK_ELEMENTS);
}
BENCHMARK(panescanWalk)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
