// Inspection of the in-memory CoreFoundation of fake_cf.cc, and its elements for ax_service.cc.
#pragma once

#include <ApplicationServices/ApplicationServices.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// Objects whose reference count has not yet dropped to zero (the two booleans never count).
size_t fakeCFLiveObjects();

// Every misuse seen since the last reset: a release or read of an object already freed.
std::vector<std::string> fakeCFErrors();
void fakeCFReset();

// An element is one node of one application's tree: node 0 is the application element itself.
struct FakeNode {
  pid_t pid;
  int node;
  auto operator<=>(const FakeNode&) const = default;
};

// A new element object (one reference, the caller's) standing for `node`.
AXUIElementRef fakeCFCreateElement(FakeNode node);
// The node behind an element object; nothing for any other object.
std::optional<FakeNode> fakeCFNodeOf(CFTypeRef ref);
