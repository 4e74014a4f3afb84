// Fuzzes fieldpeek's collectText over random trees: the reads are exactly those of a pre-order
// walk within MAX_NODES and MAX_DEPTH, and the gathered texts valid, cut and in walking order.
#include "fieldpeek/collect_text.h"
#include "fuzz/random_tree.h"

using namespace randomtree;

namespace {

bool isGatheredRole(const std::string& role) {
  return role == "AXTextArea" || role == "AXTextField" || role == "AXComboBox" ||
         role == "AXStaticText";
}

void expectCollect(Oracle& o, const Element& el, int64_t depth, int64_t& count,
                   std::vector<std::string>& texts) {
  if (count >= MAX_NODES || depth > MAX_DEPTH) return;
  ++count;
  const auto role = o.text(el, "AXRole");
  if (role && isGatheredRole(*role)) {
    const auto value = o.text(el, "AXValue");
    if (value && charCount(*value) >= MIN_NODE_CHARS)
      texts.emplace_back(firstChars(*value, MAX_CHARS));
  }
  const auto children = o.read(el, "AXChildren");
  if (!children || !children->list()) return;
  for (const auto& entry : *children->list()) {
    const Element* child = entry.element();
    if (!child || !*child) continue;
    if (count >= MAX_NODES) break;
    expectCollect(o, *child, depth + 1, count, texts);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  Tree tree;
  const Element root = buildTree(in, tree);

  FakeAccessibility ax;
  int64_t count = 0;
  std::vector<std::string> texts;
  collectText(ax, root, 0, count, texts);
  check(count <= MAX_NODES);
  for (const auto& text : texts) check(validUtf8(text) && charCount(text) <= MAX_CHARS);

  Oracle o;
  int64_t wantCount = 0;
  std::vector<std::string> wantTexts;
  expectCollect(o, root, 0, wantCount, wantTexts);
  check(count == wantCount);
  check(texts == wantTexts);
  check(readsOf(ax) == o.reads);
  return 0;
}
