// The portable core's own cost, without IPC: the text rules, the ranking, a poll line, fieldpeek's
// walk (panescan's walk is in walk_bench.cc: the two share limit names).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/label_window.h"
#include "common/text.h"
#include "fieldpeek/candidates.h"
#include "fieldpeek/collect_text.h"
#include "fieldpeek/poll_line.h"

namespace {

constexpr int64_t TEXT_CHARS = 20000;

// 20000 characters of one kind: ASCII letters, emoji (two UTF-16 units, four UTF-8 bytes), or
// letters each followed by a combining mark (two code points, one character).
std::string textOf(int kind, int64_t chars = TEXT_CHARS) {
  static const char* const unit[] = {"a", "\xF0\x9F\x98\x80", "e\xCC\x81"};
  std::string out;
  for (int64_t i = 0; i < chars; ++i) out += unit[kind];
  return out;
}

const char* const KIND_NAMES[] = {"ascii", "emoji", "combining"};

void charCountOf(benchmark::State& state) {
  std::string text = textOf(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(charCount(text));
  state.SetLabel(KIND_NAMES[state.range(0)]);
  state.SetItemsProcessed(state.iterations() * TEXT_CHARS);
}
BENCHMARK(charCountOf)->DenseRange(0, 2);

void cutsOf(benchmark::State& state) {
  std::string text = textOf(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(firstChars(text, TEXT_CHARS - 600));
    benchmark::DoNotOptimize(lastChars(text, 600));
  }
  state.SetLabel(KIND_NAMES[state.range(0)]);
  state.SetItemsProcessed(state.iterations() * TEXT_CHARS);
}
BENCHMARK(cutsOf)->DenseRange(0, 2);

// Linear in the text's length: the time per character stays flat from 1250 to 20000 characters.
void charCountByLength(benchmark::State& state) {
  std::string text = textOf(2, state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(charCount(text));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(charCountByLength)->RangeMultiplier(2)->Range(1250, 20000)->Complexity(benchmark::oN);

void candidatesOf4000(benchmark::State& state) {
  std::vector<std::string> texts;
  for (int i = 0; i < 4000; ++i) texts.push_back("Label " + std::to_string(i));
  for (auto _ : state) benchmark::DoNotOptimize(candidates(texts));
}
BENCHMARK(candidatesOf4000)->Unit(benchmark::kMicrosecond);

void pollLineOfElevenLongTexts(benchmark::State& state) {
  Reading reading{"AXTextArea", {}};
  for (int i = 0; i < 11; ++i) reading.texts.push_back(textOf(i % 3));
  for (auto _ : state) benchmark::DoNotOptimize(pollLine(reading));
}
BENCHMARK(pollLineOfElevenLongTexts)->Unit(benchmark::kMicrosecond);

void fieldpeekWalk(benchmark::State& state) {
  FakeAccessibility ax;
  ax.recordReads = false;
  FakeNodePtr window = labelWindow();
  for (auto _ : state) {
    int64_t count = 0;
    std::vector<std::string> texts;
    collectText(ax, window, 0, count, texts);
    benchmark::DoNotOptimize(texts.data());
    ax.hints.clear();
  }
  state.SetItemsProcessed(state.iterations() * WALK_ELEMENTS);
}
BENCHMARK(fieldpeekWalk)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
