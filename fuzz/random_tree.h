// Random in-memory accessibility trees for the walk fuzzers, and an oracle that answers reads
// as the tree does while recording the reads a plain pre-order walk would make.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/text.h"
#include "fuzz/checks.h"
#include "testing/fake_ax.h"

namespace randomtree {

inline constexpr size_t MAX_TREE = 9000;
inline constexpr size_t MAX_TEXT = 24000;
// Copies in a wide row keep at most this much of their text, as rows of labels do.
inline constexpr size_t MAX_ROW_TEXT = 64;
inline constexpr const char* ROLES[] = {"AXTextArea", "AXTextField", "AXComboBox", "AXStaticText",
                                        "AXGroup",    "AXButton",    "AXWindow",   "AXWebArea"};

struct Tree {
  std::vector<FakeNodePtr> nodes;
  std::vector<std::u16string> texts;

  ~Tree() {
    // Cycles of shared pointers would outlive the run and read as leaks.
    for (auto& node : nodes) {
      node->children.clear();
      node->attributes.clear();
    }
  }
};

inline FakeNodePtr newNode(FuzzedDataProvider& in, Tree& tree) {
  auto node = std::make_shared<FakeNode>("n" + std::to_string(tree.nodes.size()));
  tree.nodes.push_back(node);
  const int role = in.ConsumeIntegralInRange<int>(0, 10);
  if (role < 8) node->role(ROLES[role]);
  if (role == 8) node->set("AXRole", AttrValue{3.0});
  switch (in.ConsumeIntegralInRange<int>(0, 5)) {
    case 0:
      break;
    case 1:
      node->set("AXValue", AttrValue{true});
      break;
    default:
      node->value(tree.texts[in.ConsumeIntegralInRange<size_t>(0, tree.texts.size() - 1)]);
  }
  if (in.ConsumeIntegralInRange<int>(0, 30) == 0) node->gone = true;
  if (in.ConsumeIntegralInRange<int>(0, 30) == 0) node->failingReads.insert("AXValue");
  if (in.ConsumeIntegralInRange<int>(0, 40) == 0) node->failingReads.insert("AXChildren");
  return node;
}

// Grows the tree breadth first; a handful of input bytes can still make thousands of nodes.
inline FakeNodePtr buildTree(FuzzedDataProvider& in, Tree& tree) {
  const size_t textCount = in.ConsumeIntegralInRange<size_t>(1, 6);
  // Long enough to pass every character limit of the walks, short enough that thousands of nodes
  // sharing it keep one run within seconds under the sanitizers.
  for (size_t i = 0; i < textCount; ++i) tree.texts.push_back(hostileUnits(in).substr(0, MAX_TEXT));
  auto root = newNode(in, tree);
  std::deque<FakeNodePtr> open{root};
  while (!open.empty() && in.remaining_bytes() > 0 && tree.nodes.size() < MAX_TREE) {
    auto node = open.front();
    open.pop_front();
    switch (in.ConsumeIntegralInRange<int>(0, 9)) {
      case 0: {  // a wide row of copies of one node
        auto leaf = newNode(in, tree);
        const size_t wide = in.ConsumeIntegralInRange<size_t>(1, 5000);
        for (size_t i = 0; i < wide && tree.nodes.size() < MAX_TREE; ++i) {
          auto copy = std::make_shared<FakeNode>(*leaf);
          if (auto* value = leaf->attributes.count("AXValue")
                                ? leaf->attributes.at("AXValue").text()
                                : nullptr) {
            copy->value(value->substr(0, MAX_ROW_TEXT));
          }
          tree.nodes.push_back(copy);
          node->add(copy);
        }
        break;
      }
      case 1: {  // a deep chain
        const int levels = in.ConsumeIntegralInRange<int>(1, 60);
        auto at = node;
        for (int i = 0; i < levels; ++i) {
          auto next = newNode(in, tree);
          at->add(next);
          at = next;
        }
        open.push_back(at);
        break;
      }
      case 2:  // a node reached twice, or an ancestor again: a cycle
        node->add(tree.nodes[in.ConsumeIntegralInRange<size_t>(0, tree.nodes.size() - 1)]);
        break;
      case 3: {  // "AXChildren" that is no list, or a list with entries that are no elements
        if (in.ConsumeBool()) {
          node->set("AXChildren", AttrValue{u"not a list"});
        } else {
          auto child = newNode(in, tree);
          open.push_back(child);
          node->set("AXChildren",
                    AttrValue{AttrValue::List{AttrValue{u"text"}, AttrValue{Element()},
                                              AttrValue{Element(child)}, AttrValue{1.5}}});
        }
        break;
      }
      default: {
        const int count = in.ConsumeIntegralInRange<int>(0, 4);
        for (int i = 0; i < count; ++i) {
          auto child = newNode(in, tree);
          node->add(child);
          open.push_back(child);
        }
      }
    }
  }
  return root;
}

using Reads = std::vector<std::pair<const FakeNode*, std::string>>;

// Answers reads as the tree does, without recording them.
struct Oracle {
  FakeAccessibility fake;
  Reads reads;
  Oracle() { fake.recordReads = false; }

  std::optional<AttrValue> read(const Element& element, const char* name) {
    if (!element) return std::nullopt;
    reads.emplace_back(static_cast<const FakeNode*>(element.get()), name);
    return fake.copyAttribute(element, name);
  }
  std::optional<std::string> text(const Element& element, const char* name) {
    auto value = read(element, name);
    if (!value || !value->text()) return std::nullopt;
    return utf8FromUtf16(*value->text());
  }
};

inline Reads readsOf(const FakeAccessibility& fake) {
  Reads reads;
  for (const auto& r : fake.reads) reads.emplace_back(r.node, r.attribute);
  return reads;
}

}  // namespace randomtree
