// An in-memory accessibility tree that records every read and write, for unit tests and benchmarks.
#include "testing/fake_ax.h"

#include <algorithm>

FakeNode* FakeNode::role(std::string_view r) {
  return set("AXRole", AttrValue{std::u16string(r.begin(), r.end())});
}

FakeNode* FakeNode::value(std::u16string_view text) {
  return set("AXValue", AttrValue{std::u16string(text)});
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

int FakeAccessibility::readCount(const FakeNode* node, std::string_view attribute) const {
  return static_cast<int>(std::count_if(reads.begin(), reads.end(), [&](const Read& r) {
    return r.node == node && r.attribute == attribute;
  }));
}

int FakeAccessibility::readCount(std::string_view attribute) const {
  return static_cast<int>(std::count_if(reads.begin(), reads.end(),
                                        [&](const Read& r) { return r.attribute == attribute; }));
}

bool FakeAccessibility::wasRead(const FakeNode* node) const {
  return std::any_of(reads.begin(), reads.end(), [&](const Read& r) { return r.node == node; });
}

void FakeAccessibility::requestTrust() {
  ++trustRequests;
}

std::optional<FrontmostApplication> FakeAccessibility::frontmostApplication() {
  ++frontmostQueries;
  return frontmost;
}

Element FakeAccessibility::applicationElement(int32_t pid) {
  auto found = applications.find(pid);
  if (found != applications.end()) return found->second;
  // Like AXUIElementCreateApplication, a process without a tree still yields an element.
  return applications[pid] = std::make_shared<FakeNode>();
}

Element FakeAccessibility::systemWideElement() {
  return systemWide;
}

std::optional<AttrValue> FakeAccessibility::copyAttribute(const Element& element,
                                                          std::string_view name) {
  const auto* node = dynamic_cast<const FakeNode*>(element.get());
  if (!node) return std::nullopt;
  if (recordReads) reads.push_back({node, std::string(name)});
  if (node->gone || node->failingReads.count(name)) return std::nullopt;
  auto found = node->attributes.find(name);
  if (found != node->attributes.end()) return found->second;
  const auto value = node->attributes.find("AXValue");
  const bool hasText = value != node->attributes.end() && value->second.text();
  if (name == "AXNumberOfCharacters" && offersRanges && hasText)
    return AttrValue{static_cast<double>(value->second.text()->size())};
  if (name == "AXChildren" && !node->children.empty()) {
    AttrValue::List list;
    list.reserve(node->children.size());
    for (const auto& child : node->children) list.push_back(AttrValue{Element(child)});
    return AttrValue{std::move(list)};
  }
  return std::nullopt;
}

std::optional<TextPart> FakeAccessibility::copyTextRange(const Element& element, TextRange range) {
  if (!offersRanges) return std::nullopt;
  if (recordReads) rangeReads.push_back(range);
  copyAttribute(element, "AXStringForRange");  // logged, and failing, as any other read
  const auto* node = dynamic_cast<const FakeNode*>(element.get());
  if (!node || node->gone || node->failingReads.count("AXStringForRange")) return std::nullopt;
  auto value = node->attributes.find("AXValue");
  if (value == node->attributes.end() || !value->second.text()) return std::nullopt;
  const std::u16string& text = *value->second.text();
  if (range.location < 0 || range.length < 0 || range.location > static_cast<int64_t>(text.size()))
    return std::nullopt;
  auto units = text.substr(static_cast<size_t>(range.location), static_cast<size_t>(range.length));
  const auto offsets = static_cast<int64_t>(units.size());
  return TextPart{std::move(units), offsets};
}

void FakeAccessibility::setBoolAttribute(const Element& element, std::string_view name,
                                         bool value) {
  const auto* node = dynamic_cast<const FakeNode*>(element.get());
  writes.push_back({node, std::string(name), value});
}

void FakeAccessibility::prefetch(const PrefetchHint& hint) {
  hints.push_back(hint);
}
