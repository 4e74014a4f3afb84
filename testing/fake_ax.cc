// An in-memory accessibility tree that records every read and write, for unit tests and benchmarks.
#include "testing/fake_ax.h"

#include <algorithm>

FakeNode* FakeNode::role(std::string_view r) {
  return set("AXRole", AttrValue{std::u16string(r.begin(), r.end())});
}

FakeNode* FakeNode::set(std::string_view name, AttrValue v) {
  attributes.insert_or_assign(std::string(name), std::move(v));
  return this;
}

FakeNode* FakeNode::add(FakeNodePtr child) {
  children.push_back(std::move(child));
  return this;
}

FakeNodePtr fakeNode(std::string_view role, std::optional<std::u16string_view> value) {
  auto node = std::make_shared<FakeNode>(std::string(role));
  node->role(role);
  if (value) node->value(*value);
  return node;
}

FakeNodePtr fakeChain(const FakeNodePtr& top, int levels, std::string_view role) {
  FakeNodePtr at = top;
  // The node `at` names when the call starts gets the new node, which `at` then names.
  for (int i = 0; i < levels; ++i) at->add(at = fakeNode(role));
  return at;
}

void FakeAccessibility::setFrontmost(int32_t pid, const FakeNodePtr& app,
                                     std::optional<std::string> bundleId) {
  applications[pid] = app;
  frontmost = FrontmostApplication{std::move(bundleId), pid};
}

int FakeAccessibility::readCount(std::string_view attribute, const FakeNode* node) const {
  return static_cast<int>(std::count_if(reads.begin(), reads.end(), [&](const Call& r) {
    return (!node || r.node == node) && (attribute.empty() || r.attribute == attribute);
  }));
}

std::optional<FrontmostApplication> FakeAccessibility::frontmostApplication() {
  ++frontmostQueries;
  return frontmost;
}

Element FakeAccessibility::applicationElement(int32_t pid) {
  // Like AXUIElementCreateApplication, a process without a tree still yields an element.
  return applications.try_emplace(pid, std::make_shared<FakeNode>()).first->second;
}

std::optional<AttrValue> FakeAccessibility::copyAttribute(const Element& element,
                                                          std::string_view name) {
  const auto* node = dynamic_cast<const FakeNode*>(element.get());
  if (!node) return std::nullopt;
  if (recordReads) reads.push_back({node, std::string(name)});
  if (node->gone || node->failingReads.count(name)) return std::nullopt;
  auto found = node->attributes.find(name);
  if (found != node->attributes.end()) return found->second;
  // Parts of a text: its length, and the whole text for copyTextRange to cut.
  const auto value = node->attributes.find("AXValue");
  const std::u16string* text = value == node->attributes.end() ? nullptr : value->second.text();
  if (text && offersRanges && name == "AXNumberOfCharacters")
    return AttrValue{static_cast<double>(text->size())};
  if (text && offersRanges && name == "AXStringForRange") return value->second;
  if (name == "AXChildren" && !node->children.empty()) {
    AttrValue::List list;
    for (const auto& child : node->children) list.push_back(AttrValue{Element(child)});
    return AttrValue{std::move(list)};
  }
  return std::nullopt;
}

std::optional<TextPart> FakeAccessibility::copyTextRange(const Element& element, TextRange range) {
  if (!offersRanges) return std::nullopt;
  if (recordReads) rangeReads.push_back(range);
  // Logged, and failing, as any other read.
  const auto whole = copyAttribute(element, "AXStringForRange");
  const std::u16string* text = whole ? whole->text() : nullptr;
  if (!text || range.location < 0 || range.length < 0 ||
      range.location > static_cast<int64_t>(text->size()))
    return std::nullopt;
  auto units = text->substr(static_cast<size_t>(range.location), static_cast<size_t>(range.length));
  const auto offsets = static_cast<int64_t>(units.size());
  return TextPart{std::move(units), offsets};
}

void FakeAccessibility::setBoolAttribute(const Element& element, std::string_view name,
                                         bool value) {
  writes.push_back({dynamic_cast<const FakeNode*>(element.get()), std::string(name), value});
}
