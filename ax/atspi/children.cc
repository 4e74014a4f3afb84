// Children of AT-SPI objects: references by index, lazy children that cost nothing until read,
// and the whole list at once where it is short.
#include <algorithm>

#include "ax/atspi/accessibility.h"

namespace {

// A child count beyond this is a broken application, not a window: the walkers never get that far.
constexpr int32_t MAX_CHILDREN = 100000;
// Up to this many children are asked for in one GetChildren call instead of one call each. GTK
// builds the whole list in one go with its UI frozen meanwhile, growing with the square of the
// count: measured on a loaded machine, its longest UI gap for one first GetChildren was 2-15 ms
// for 16 children, 4-14 ms for 64, 12-42 ms for 256 and 43-168 ms for 1000. Bigger parents get
// lazy children asked for by index as the walk enters them. Kept well below the gap's limit, as a
// walk that stops early has asked for up to this many less one children it never entered.
constexpr int32_t FEW_CHILDREN = 16;

}  // namespace

std::optional<int32_t> AtspiAccessibility::childCount(const AppPtr& app, const std::string& path) {
  return readInt32(link_.property(app, path, ACCESSIBLE, "ChildCount"));
}

Element AtspiAccessibility::elementFromReference(const AppPtr& from,
                                                 const std::optional<ObjectRef>& reference) {
  if (!reference) return nullptr;
  // The null object: AT-SPI's way of saying "none".
  if (reference->path == "/org/a11y/atspi/null") return nullptr;
  // An object of another application (an embedded plug) is reached through that application.
  const std::string& name = reference->name;
  AppPtr app = (name.empty() || from->busName == name) ? from : link_.app(name);
  if (!app) return nullptr;
  return std::make_shared<AtspiElement>(app, reference->path);
}

Element AtspiAccessibility::childAt(const AppPtr& app, const std::string& path, int32_t index) {
  return elementFromReference(
      app,
      readReference(link_.call(app, path, ACCESSIBLE, "GetChildAtIndex", intArgs(index), "(so)")));
}

std::vector<Element> AtspiAccessibility::childrenOf(const AppPtr& app, const std::string& path,
                                                    int32_t count) {
  std::vector<Element> out;
  int32_t n = std::min(count, MAX_CHILDREN);
  if (n <= 0) return out;
  std::vector<MethodCall> calls;
  calls.reserve(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i)
    calls.push_back({path, ACCESSIBLE, "GetChildAtIndex", intArgs(i), "(so)"});
  out.reserve(calls.size());
  for (const CallResult& r : link_.callAhead(app, calls)) {
    // A child that cannot be read now is left out; once the application stopped answering,
    // the rest fail at once and the list ends short.
    if (Element child = elementFromReference(app, readReference(r)))
      out.push_back(std::move(child));
  }
  return out;
}

std::vector<Element> AtspiAccessibility::listedChildren(const AtspiElement& e) {
  auto count = e.cacheIn(link_.step()).childCount;
  if (!count) count = childCount(e.app, e.path);
  int32_t n = std::min(count.value_or(0), MAX_CHILDREN);
  std::vector<Element> out;
  if (n <= 0) return out;
  if (n <= FEW_CHILDREN) {
    CallResult r = link_.call(e.app, e.path, ACCESSIBLE, "GetChildren", nullptr, "a(so)");
    if (auto refs = readReferences(r)) {
      for (const ObjectRef& ref : *refs)
        if (Element child = elementFromReference(e.app, ref)) out.push_back(std::move(child));
      return out;
    }
    // An application that stopped answering would fail every child's read as well.
    if (r.error == CallError::TimedOut) return out;
  }
  out.reserve(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) out.push_back(std::make_shared<AtspiElement>(e.app, e.path, i));
  return out;
}

void AtspiAccessibility::resolve(const AppPtr& app,
                                 const std::vector<const AtspiElement*>& elements) {
  std::vector<MethodCall> calls;
  std::vector<const AtspiElement*> asked;
  for (const AtspiElement* e : elements) {
    if (!e->lazy() || e->app != app) continue;
    calls.push_back({e->parentPath, ACCESSIBLE, "GetChildAtIndex", intArgs(e->index), "(so)"});
    asked.push_back(e);
  }
  if (calls.empty()) return;
  std::vector<CallResult> got = link_.callAhead(app, calls);
  for (size_t i = 0; i < asked.size(); ++i) {
    Element child = elementFromReference(app, readReference(got[i]));
    auto* c = static_cast<const AtspiElement*>(child.get());
    // A child that cannot be read now (gone, or its application stopped answering) reads as
    // nothing: every read of an element without an application fails at once.
    asked[i]->app = c ? c->app : nullptr;
    if (c) asked[i]->path = c->path;
    asked[i]->resolved = true;
  }
}
