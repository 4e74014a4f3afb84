// An in-memory accessibility tree that records every read and write, for unit tests and benchmarks.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "ax/ax.h"

class FakeNode;
using FakeNodePtr = std::shared_ptr<FakeNode>;

// One element. "AXChildren" answers with `children` unless an explicit value is set for it.
class FakeNode : public ElementHandle {
 public:
  explicit FakeNode(std::string label = {}) : label(std::move(label)) {}

  std::string label;  // names the node in failure messages
  std::map<std::string, AttrValue, std::less<>> attributes;
  std::vector<FakeNodePtr> children;
  std::set<std::string, std::less<>> failingReads;  // these reads fail although a value is set
  bool gone = false;                                // every read fails, as for a destroyed element

  // Builders, chainable: node->role("AXGroup")->add(child).
  FakeNode* role(std::string_view role);
  FakeNode* value(std::u16string_view text) {
    return set("AXValue", AttrValue{std::u16string(text)});
  }
  FakeNode* set(std::string_view name, AttrValue value);
  FakeNode* add(FakeNodePtr child);
};

// A node with a role and, when given, a text value.
FakeNodePtr fakeNode(std::string_view role, std::optional<std::u16string_view> value = {});

// A chain of `levels` nested groups below `top`, returning the deepest one.
FakeNodePtr fakeChain(const FakeNodePtr& top, int levels, std::string_view role = "AXGroup");

class FakeAccessibility : public Accessibility {
 public:
  struct Call {
    const FakeNode* node;
    std::string attribute;
    bool value = false;  // what a write wrote
  };

  bool trusted = true;
  std::optional<FrontmostApplication> frontmost;
  std::map<int32_t, FakeNodePtr> applications;  // answered by applicationElement(pid)
  FakeNodePtr systemWide = std::make_shared<FakeNode>();
  bool recordReads = true;  // benchmarks switch the log off
  // Parts of a text are read as on macOS: "AXNumberOfCharacters" counts a node's "AXValue" and
  // copyTextRange (logged as a read of "AXStringForRange", its range in `rangeReads`) cuts it.
  // Off, the application offers neither.
  bool offersRanges = true;
  std::vector<TextRange> rangeReads;

  int trustRequests = 0;
  int frontmostQueries = 0;
  int steps = 0;  // poll starts the platform was told about
  std::vector<Call> reads, writes;
  std::vector<PrefetchHint> hints;

  // Makes `app` the frontmost application with process id `pid`.
  void setFrontmost(int32_t pid, const FakeNodePtr& app, std::optional<std::string> bundleId = {});

  // Reads of `attribute` (of any when empty) of `node` (of any when null).
  int readCount(std::string_view attribute, const FakeNode* node = nullptr) const;
  bool wasRead(const FakeNode* node) const { return readCount({}, node) > 0; }

  bool isTrusted() override { return trusted; }
  void requestTrust() override { ++trustRequests; }
  std::optional<FrontmostApplication> frontmostApplication() override;
  Element applicationElement(int32_t pid) override;
  Element systemWideElement() override { return systemWide; }
  std::optional<AttrValue> copyAttribute(const Element& element, std::string_view name) override;
  std::optional<TextPart> copyTextRange(const Element& element, TextRange range) override;
  void setBoolAttribute(const Element& element, std::string_view name, bool value) override;
  void prefetch(const PrefetchHint& hint) override { hints.push_back(hint); }
  void beginStep() override { ++steps; }
};
