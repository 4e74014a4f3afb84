// Fuzzes panescan's walk over random trees: the reads are exactly those of a pre-order walk within
// its three budgets, the running character count equals a recount, and the text is that walk's.
#include "fuzz/random_tree.h"
#include "panescan/walk.h"

using namespace randomtree;

namespace {

// Recounts the whole text after each append, where the walk adds up the count of each entry.
void expectWalk(Oracle& o, const Element& el, int64_t depth, WalkState& s) {
  if (s.collectedChars >= MAX_CHARS) return;
  if (s.visited >= MAX_NODES || depth > MAX_DEPTH) return;
  ++s.visited;
  const auto role = o.text(el, "AXRole");
  if (role && (*role == "AXTextArea" || *role == "AXTextField" || *role == "AXStaticText")) {
    const auto value = o.text(el, "AXValue");
    if (value && charCount(*value) >= MIN_VALUE_CHARS) {
      ++s.textAreas;
      s.collected += *value + "\n\n";
      s.collectedChars = charCount(s.collected);
    }
  }
  const auto children = o.read(el, "AXChildren");
  if (!children || !children->list()) return;
  for (const auto& entry : *children->list()) {
    if (const Element* child = entry.element()) expectWalk(o, *child, depth + 1, s);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  Tree tree;
  const Element root = buildTree(in, tree);

  FakeAccessibility ax;
  WalkState state;
  walk(ax, state, root, 0);
  check(state.visited <= MAX_NODES);
  check(state.collectedChars == charCount(state.collected));
  check(validUtf8(state.collected));
  check(validUtf8(std::string(firstChars(state.collected, MAX_CHARS))));

  Oracle o;
  WalkState want;
  expectWalk(o, root, 0, want);
  check(state.visited == want.visited);
  check(state.textAreas == want.textAreas);
  check(state.collected == want.collected);
  check(readsOf(ax) == o.reads);
  return 0;
}
