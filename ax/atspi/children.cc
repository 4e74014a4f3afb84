// Children of AT-SPI objects: references by index, lazy children that cost nothing until read,
// and the whole list at once where it is short.
#include <algorithm>

#include "ax/atspi/accessibility.h"

namespace {

// A child count beyond this is a broken application, not a window: the walkers never get that far.
constexpr int32_t MAX_CHILDREN = 100000;

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
  const MethodCall c = childAtCall(path, index);
  return elementFromReference(
      app, readReference(link_.call(app, path, ACCESSIBLE, c.method, c.args, c.replyType)));
}

std::optional<std::vector<Element>> AtspiAccessibility::childrenFrom(const AppPtr& app,
                                                                     const CallResult& list,
                                                                     int32_t count) {
  auto refs = readReferences(list);
  if (!refs) return std::nullopt;
  // No more than the count promised: a list of another length is the application's fault.
  if (refs->size() > static_cast<size_t>(std::max(count, 0)))
    refs->resize(static_cast<size_t>(count));
  std::vector<Element> out;
  for (const ObjectRef& ref : *refs)
    if (Element child = elementFromReference(app, ref)) out.push_back(std::move(child));
  return out;
}

std::optional<std::vector<Element>> AtspiAccessibility::allChildren(const AppPtr& app,
                                                                    const std::string& path,
                                                                    int32_t count) {
  CallResult r = link_.call(app, path, ACCESSIBLE, "GetChildren", nullptr, "a(so)");
  if (auto all = childrenFrom(app, r, count)) return all;
  // An application that stopped answering would fail every child's read as well.
  if (r.error == CallError::TimedOut) return std::vector<Element>();
  return std::nullopt;
}

std::pair<std::optional<int32_t>, CallResult> AtspiAccessibility::countAndFirstChild(
    const AppPtr& app, const std::string& path) {
  std::vector<CallResult> got =
      link_.callAhead(app, {propertyCall(path, ACCESSIBLE, "ChildCount"), childAtCall(path, 0)});
  return {readInt32(got[0]), std::move(got[1])};
}

std::vector<Element> AtspiAccessibility::childrenOf(const AppPtr& app, const std::string& path,
                                                    int32_t count, int32_t total,
                                                    std::vector<CallResult> first) {
  std::vector<Element> out;
  int32_t n = std::min(count, MAX_CHILDREN);
  if (n <= 0) return out;
  if (first.size() > static_cast<size_t>(n)) first.resize(static_cast<size_t>(n));
  if (first.size() < static_cast<size_t>(n) && n == total && n <= FEW_CHILDREN) {
    if (auto all = allChildren(app, path, n)) return std::move(*all);
  }
  std::vector<MethodCall> calls;
  for (auto i = static_cast<int32_t>(first.size()); i < n; ++i)
    calls.push_back(childAtCall(path, i));
  std::vector<CallResult> got = link_.callAhead(app, calls);
  first.insert(first.end(), std::make_move_iterator(got.begin()),
               std::make_move_iterator(got.end()));
  out.reserve(first.size());
  for (const CallResult& r : first) {
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
    if (auto all = allChildren(e.app, e.path, n)) return std::move(*all);
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
    calls.push_back(childAtCall(e->parentPath, e->index));
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
