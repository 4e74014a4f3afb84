// The frontmost application, its windows and its focused element, found over AT-SPI.
#include <algorithm>
#include <iterator>
#include <map>
#include <string_view>
#include <utility>

#include "ax/atspi/accessibility.h"

namespace {

// The one call that searches inside the application (Collection GetMatches): GTK walks its own
// tree for it, about 0.8 s when 4000 labels come before the focused widget, so it gets more time
// than an ordinary read. The step budget still bounds it.
constexpr int SEARCH_TIMEOUT_MS = 2000;
// Where the application offers no Collection, the search reads element by element up to here.
constexpr int MAX_SEARCH_NODES = 4000;
// The local search reads this many elements (about 0.5 ms each) before it hands the rest over,
// and never opens a container with more children than BIG_CONTAINER.
constexpr int LOCAL_SEARCH_NODES = 200;
constexpr int32_t BIG_CONTAINER = 64;
// AtspiCollectionMatchType ALL and AtspiCollectionSortOrder CANONICAL.
constexpr int32_t MATCH_ALL = 1;
constexpr uint32_t SORT_CANONICAL = 1;

// An element the focus may be in. GTK 4 marks only its windows as showing, so "not showing"
// alone proves nothing; neither visible nor showing does, for every toolkit.
bool mayHoldFocus(StateSet s) {
  return hasState(s, atspi_state::VISIBLE) || hasState(s, atspi_state::SHOWING);
}

// GTK 3 keeps the items of every closed menu in the tree, visible though not showing: 300 of a
// text editor's 321 elements. A menu is open while it is selected or expanded.
bool isClosedMenu(std::optional<uint32_t> role, StateSet s) {
  return role == atspi_role::MENU && !hasState(s, atspi_state::EXPANDED) &&
         !hasState(s, atspi_state::SELECTED);
}

// An element the search has read, and its child count once it is known.
struct Container {
  std::string path;
  StateSet states = 0;
  int32_t children = 0;
};

// One call to each of `elements`, pipelined. A method of the Properties interface named by its
// property ("ChildCount") reads that property of the element.
std::vector<CallResult> askEach(AtspiLink& link, const AppPtr& app,
                                const std::vector<Container>& elements, const char* method,
                                const char* replyType) {
  bool isProperty = std::string_view(method) == "ChildCount";
  std::vector<MethodCall> calls;
  calls.reserve(elements.size());
  for (const Container& e : elements) {
    if (isProperty) {
      calls.push_back(propertyCall(e.path, ACCESSIBLE, method));
    } else {
      calls.push_back({e.path, ACCESSIBLE, method, nullptr, replyType});
    }
  }
  return link.callAhead(app, calls);
}

// AtspiCollectionMatchRule: FOCUSED among the states, nothing asked of attributes, roles and
// interfaces; then canonical order, one match, and the search goes into the subtree.
int appendFocusedRule(sd_bus_message* m) {
  return sd_bus_message_append(m, "(aiia{ss}iaiiasib)uib", 2,
                               static_cast<int32_t>(1U << atspi_state::FOCUSED), 0, MATCH_ALL, 0,
                               MATCH_ALL, 0, MATCH_ALL, 0, MATCH_ALL, 0, SORT_CANONICAL, 1, 1);
}

}  // namespace

std::vector<AppPtr> AtspiAccessibility::applications() {
  std::vector<AppPtr> apps;
  auto list = readReferences(
      link_.call(link_.registry(), ROOT_PATH, ACCESSIBLE, "GetChildren", nullptr, "a(so)"));
  for (const ObjectRef& ref : list.value_or(std::vector<ObjectRef>())) {
    if (AppPtr app = link_.app(ref.name)) apps.push_back(std::move(app));
  }
  return apps;
}

std::optional<int32_t> AtspiAccessibility::pidOf(const std::string& busName) {
  auto pid =
      readUint32(link_.call(link_.busDaemon(), "/org/freedesktop/DBus", "org.freedesktop.DBus",
                            "GetConnectionUnixProcessID", stringArgs(busName), "u"));
  if (!pid) return std::nullopt;
  return static_cast<int32_t>(*pid);
}

std::optional<std::string> AtspiAccessibility::activeWindow(const AppPtr& app) {
  auto [known, isNew] = memo().activeWindows.try_emplace(app);
  if (!isNew) return known->second;
  // Most applications have one window.
  auto [count, first] = countAndFirstChild(app, ROOT_PATH);
  for (int32_t i = 0; i < count.value_or(0); ++i) {
    Element child =
        i == 0 ? elementFromReference(app, readReference(first)) : childAt(app, ROOT_PATH, i);
    auto* window = static_cast<const AtspiElement*>(child.get());
    if (!window || window->app != app) continue;
    auto s = states(app, window->path);
    if (s && hasState(*s, atspi_state::ACTIVE)) return known->second = window->path;
  }
  return std::nullopt;
}

std::optional<AtspiAccessibility::Frontmost> AtspiAccessibility::findFrontmost(bool withName) {
  // An application that stopped answering fails at once after its second timeout, so a frozen
  // application costs at most two timeouts here, and the others are still asked.
  const std::vector<AppPtr> apps = applications();
  sawApplications_ = !apps.empty();
  for (const AppPtr& app : apps) {
    if (!activeWindow(app)) continue;
    // Its process from the bus daemon and its name from itself, asked together.
    std::vector<std::pair<AppPtr, MethodCall>> asks{
        {link_.busDaemon(),
         {"/org/freedesktop/DBus", "org.freedesktop.DBus", "GetConnectionUnixProcessID",
          stringArgs(app->busName), "u"}}};
    if (withName) asks.emplace_back(app, propertyCall(ROOT_PATH, ACCESSIBLE, "Name"));
    std::vector<CallResult> got = link_.callEach(asks);
    auto pid = readUint32(got[0]);
    if (!pid) continue;
    lastFrontmost_ =
        Frontmost{app, static_cast<int32_t>(*pid), withName ? readString(got[1]) : std::nullopt};
    return lastFrontmost_;
  }
  return std::nullopt;
}

std::optional<FrontmostApplication> AtspiAccessibility::frontmostApplication() {
  auto front = findFrontmostListening(true);
  if (!front) return std::nullopt;
  FrontmostApplication out;
  out.pid = front->pid;
  if (front->name && !front->name->empty()) out.bundleId = std::move(*front->name);
  return out;
}

Element AtspiAccessibility::applicationElement(int32_t pid) {
  if (lastFrontmost_ && lastFrontmost_->pid == pid)
    return std::make_shared<AtspiElement>(lastFrontmost_->app, ROOT_PATH);
  for (const AppPtr& app : applications()) {
    if (pidOf(app->busName) == pid) return std::make_shared<AtspiElement>(app, ROOT_PATH);
  }
  // Never null: an application that is not on the bus is an element whose every read fails.
  return std::make_shared<AtspiElement>(nullptr, ROOT_PATH);
}

Element AtspiAccessibility::searchFocused(const AppPtr& app, const std::string& root, int& visited,
                                          std::vector<std::string>* handOver) {
  ++visited;
  auto rootStates = states(app, root);
  if (!rootStates) return nullptr;
  if (hasState(*rootStates, atspi_state::FOCUSED)) return std::make_shared<AtspiElement>(app, root);
  // Containers still to open, deepest last. The children of one container are read together in
  // pipelined batches: their states, then the child counts of those the focus can be in, then the
  // roles of those that have children.
  std::vector<Container> stack;
  // Children read ahead, by container: the root's first child comes with its count, and the
  // children of the container opened next come with the roles of its siblings, all in one call
  // where they are few (read for nothing only where it turns out to be a closed menu).
  std::map<std::string, std::vector<Element>> aheadAll;
  std::map<std::string, std::vector<CallResult>> aheadByIndex;
  auto toRead = [&](const Container& c) {
    if (visited >= MAX_SEARCH_NODES || (handOver && visited >= LOCAL_SEARCH_NODES)) return 0;
    if (handOver && c.children > BIG_CONTAINER) return 0;
    return std::min(c.children, MAX_SEARCH_NODES - visited);
  };
  if (auto [n, first] = countAndFirstChild(app, root); n) {
    stack.push_back({root, *rootStates, *n});
    aheadByIndex[root].push_back(std::move(first));
  }
  while (!stack.empty() && visited < MAX_SEARCH_NODES) {
    if (handOver && visited >= LOCAL_SEARCH_NODES) break;
    Container here = std::move(stack.back());
    stack.pop_back();
    if (handOver && here.children > BIG_CONTAINER) {
      handOver->push_back(here.path);
      continue;
    }
    std::vector<Container> kids;
    std::vector<Element> read;
    if (auto all = aheadAll.extract(here.path)) {
      read = std::move(all.mapped());
    } else {
      auto known = aheadByIndex.extract(here.path);
      read = childrenOf(app, here.path, toRead(here), here.children,
                        known ? std::move(known.mapped()) : std::vector<CallResult>());
    }
    for (const Element& kid : read) {
      auto* c = static_cast<const AtspiElement*>(kid.get());
      if (c->app == app) kids.push_back({c->path, 0, 0});
    }
    if (std::cmp_equal(read.size(), here.children)) memo().children[{app, here.path}] = read;
    visited += static_cast<int>(kids.size());
    std::vector<CallResult> got = askEach(link_, app, kids, "GetState", "au");
    std::vector<Container> open;
    for (size_t i = 0; i < kids.size(); ++i) {
      auto s = readStateWords(got[i]);
      if (!s || !mayHoldFocus(*s)) continue;
      if (hasState(*s, atspi_state::FOCUSED)) {
        auto found = std::make_shared<AtspiElement>(app, kids[i].path);
        found->cacheIn(link_.step()).states = s;
        return found;
      }
      open.push_back({std::move(kids[i].path), *s, 0});
    }
    got = askEach(link_, app, open, "ChildCount", "v");
    std::vector<Container> parents;
    for (size_t i = 0; i < open.size(); ++i) {
      open[i].children = readInt32(got[i]).value_or(0);
      if (open[i].children > 0) parents.push_back(std::move(open[i]));
    }
    // The first of them is opened next (it ends on top of the stack).
    std::vector<MethodCall> calls;
    for (const Container& p : parents)
      calls.push_back({p.path, ACCESSIBLE, "GetRole", nullptr, "u"});
    const int32_t wanted = parents.empty() ? 0 : toRead(parents.front());
    const bool all = wanted > 0 && wanted == parents.front().children && wanted <= FEW_CHILDREN;
    const int32_t byIndex = all ? 0 : std::min(wanted, BIG_CONTAINER);
    if (all) calls.push_back(childrenCall(parents.front().path));
    for (int32_t i = 0; i < byIndex; ++i) calls.push_back(childAtCall(parents.front().path, i));
    got = link_.callAhead(app, calls);
    if (all) {
      // A list refused is read again as the container is opened.
      if (auto listed = childrenFrom(app, got.back(), wanted))
        aheadAll[parents.front().path] = std::move(*listed);
    } else if (byIndex > 0) {
      aheadByIndex[parents.front().path].assign(
          std::make_move_iterator(got.begin() + static_cast<std::ptrdiff_t>(parents.size())),
          std::make_move_iterator(got.end()));
    }
    for (size_t i = parents.size(); i-- > 0;) {
      auto role = readUint32(got[i]);
      if (role) memo().roles[{app, parents[i].path}] = *role;
      if (!isClosedMenu(role, parents[i].states)) stack.push_back(std::move(parents[i]));
    }
  }
  // What the local search did not reach is left to the application's own search.
  if (handOver) {
    for (const Container& c : stack) handOver->insert(handOver->begin(), c.path);
  }
  return nullptr;
}

Element AtspiAccessibility::focusedIn(const AppPtr& app, const std::string& windowPath) {
  // The focus is usually among a few dozen widgets, while one huge container (a list of 4000
  // labels) costs GTK about 0.6-0.8 s of frozen UI to search with Collection GetMatches. So small
  // containers are read here first, and only what remains goes to GetMatches.
  int visited = 0;
  std::vector<std::string> remaining;
  if (Element found = searchFocused(app, windowPath, visited, &remaining)) return found;
  for (const std::string& subtree : remaining) {
    CallResult r = link_.call(app, subtree, "org.a11y.atspi.Collection", "GetMatches",
                              appendFocusedRule, "a(so)", SEARCH_TIMEOUT_MS);
    if (r.error == CallError::TimedOut) return nullptr;
    if (auto matches = readReferences(r)) {
      if (!matches->empty()) return elementFromReference(app, matches->front());
      continue;
    }
    // No Collection here: read the subtree element by element, within the overall bound.
    if (Element found = searchFocused(app, subtree, visited, nullptr)) return found;
  }
  return nullptr;
}

Element AtspiAccessibility::focusInside(Element found) {
  // LibreOffice marks the panel that holds its window's toolkit focus FOCUSED, though it cannot
  // take the focus itself, and its document's focused paragraph FOCUSED too: an element marked
  // so without being focusable holds the real focus further down, if anywhere.
  if (!found) return found;
  const auto& f = static_cast<const AtspiElement&>(*found);
  auto s = f.cacheIn(link_.step()).states;
  if (!s) s = states(f.app, f.path);
  if (!s || hasState(*s, atspi_state::FOCUSABLE)) return found;
  const int32_t n = childCount(f.app, f.path).value_or(0);
  for (const Element& kid : childrenOf(f.app, f.path, n, n)) {
    auto* c = static_cast<const AtspiElement*>(kid.get());
    if (c->app != f.app) continue;
    if (Element deeper = focusedIn(c->app, c->path)) return deeper;
  }
  return found;
}

Element AtspiAccessibility::focusedElement(const AtspiElement& element) {
  if (!element.isApplication())
    return documentAround(focusInside(focusedIn(element.app, element.path)));
  // GTK marks a widget FOCUSED only while its window is active, so only that window is searched.
  auto active = activeWindow(element.app);
  if (!active) return nullptr;
  return documentAround(focusInside(focusedIn(element.app, *active)));
}
