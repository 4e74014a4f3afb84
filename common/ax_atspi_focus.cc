// The frontmost application, its windows and its focused element, found over AT-SPI.
#include "common/ax_atspi.h"

namespace {

constexpr const char* ACCESSIBLE = "org.a11y.atspi.Accessible";
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

GVariant* focusedRule() {
  GVariantBuilder states;
  g_variant_builder_init(&states, G_VARIANT_TYPE("ai"));
  g_variant_builder_add(&states, "i", static_cast<int32_t>(1U << atspi_state::FOCUSED));
  g_variant_builder_add(&states, "i", 0);
  GVariantBuilder attributes;
  g_variant_builder_init(&attributes, G_VARIANT_TYPE("a{ss}"));
  GVariantBuilder roles;
  g_variant_builder_init(&roles, G_VARIANT_TYPE("ai"));
  GVariantBuilder interfaces;
  g_variant_builder_init(&interfaces, G_VARIANT_TYPE("as"));
  return g_variant_new("((aiia{ss}iaiiasib)uib)", &states, MATCH_ALL, &attributes, MATCH_ALL,
                       &roles, MATCH_ALL, &interfaces, MATCH_ALL, FALSE, SORT_CANONICAL, 1, TRUE);
}

}  // namespace

std::vector<AppPtr> AtspiAccessibility::applications() {
  std::vector<AppPtr> apps;
  CallResult r =
      link_.call(link_.registry(), ROOT_PATH, ACCESSIBLE, "GetChildren", nullptr, "(a(so))");
  if (!r.ok()) return apps;
  Variant list = r.reply.child(0);
  GVariantIter iter;
  g_variant_iter_init(&iter, list.get());
  const char* name = nullptr;
  const char* path = nullptr;
  while (g_variant_iter_next(&iter, "(&s&o)", &name, &path)) {
    if (AppPtr app = link_.app(name)) apps.push_back(std::move(app));
  }
  return apps;
}

std::optional<int32_t> AtspiAccessibility::pidOf(const std::string& busName) {
  CallResult r =
      link_.call(link_.busDaemon(), "/org/freedesktop/DBus", "org.freedesktop.DBus",
                 "GetConnectionUnixProcessID", g_variant_new("(s)", busName.c_str()), "(u)");
  if (!r.ok()) return std::nullopt;
  uint32_t pid = 0;
  g_variant_get(r.reply.get(), "(u)", &pid);
  return static_cast<int32_t>(pid);
}

std::optional<std::string> AtspiAccessibility::activeWindow(const AppPtr& app) {
  auto [known, isNew] = memo().activeWindows.try_emplace(app);
  if (!isNew) return known->second;
  int32_t n = childCount(app, ROOT_PATH).value_or(0);
  for (int32_t i = 0; i < n; ++i) {
    Element child = childAt(app, ROOT_PATH, i);
    auto* window = static_cast<const AtspiElement*>(child.get());
    if (!window || window->app != app) continue;
    auto s = states(app, window->path);
    if (s && hasState(*s, atspi_state::ACTIVE)) return known->second = window->path;
  }
  return std::nullopt;
}

std::optional<AtspiAccessibility::Frontmost> AtspiAccessibility::findFrontmost() {
  // An application that stopped answering fails at once after its first timeout, so a frozen
  // application costs one timeout here, and the others are still asked.
  for (const AppPtr& app : applications()) {
    if (!activeWindow(app)) continue;
    auto pid = pidOf(app->busName);
    if (!pid) continue;
    lastFrontmost_ = Frontmost{app, *pid};
    return lastFrontmost_;
  }
  return std::nullopt;
}

std::optional<FrontmostApplication> AtspiAccessibility::frontmostApplication() {
  auto front = findFrontmost();
  if (!front) return std::nullopt;
  FrontmostApplication out;
  out.pid = front->pid;
  CallResult name = link_.property(front->app, ROOT_PATH, ACCESSIBLE, "Name");
  if (name.ok() && g_variant_is_of_type(name.reply.get(), G_VARIANT_TYPE_STRING)) {
    std::string id = g_variant_get_string(name.reply.get(), nullptr);
    if (!id.empty()) out.bundleId = id;
  }
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
  std::vector<std::string> stack{root};
  while (!stack.empty() && visited < MAX_SEARCH_NODES) {
    if (handOver && visited >= LOCAL_SEARCH_NODES) break;
    std::string path = std::move(stack.back());
    stack.pop_back();
    ++visited;
    auto s = states(app, path);
    if (!s) continue;
    if (hasState(*s, atspi_state::FOCUSED)) return std::make_shared<AtspiElement>(app, path);
    int32_t n = childCount(app, path).value_or(0);
    if (handOver && n > BIG_CONTAINER) {
      handOver->push_back(path);
      continue;
    }
    std::vector<Element> kids = childrenOf(app, path, n);
    for (auto it = kids.rbegin(); it != kids.rend(); ++it) {
      auto* c = static_cast<const AtspiElement*>(it->get());
      if (c->app == app) stack.push_back(c->path);
    }
  }
  // What the local search did not reach is left to the application's own search.
  if (handOver) handOver->insert(handOver->begin(), stack.rbegin(), stack.rend());
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
                              focusedRule(), "(a(so))", SEARCH_TIMEOUT_MS);
    if (r.error == CallError::TimedOut) return nullptr;
    if (r.ok()) {
      Variant matches = r.reply.child(0);
      if (g_variant_n_children(matches.get()) > 0)
        return elementFromReference(app, matches.child(0));
      continue;
    }
    // No Collection here: read the subtree element by element, within the overall bound.
    if (Element found = searchFocused(app, subtree, visited, nullptr)) return found;
  }
  return nullptr;
}

Element AtspiAccessibility::focusedElement(const AtspiElement& element) {
  if (!element.isApplication()) return focusedIn(element.app, element.path);
  // GTK marks a widget FOCUSED only while its window is active, so only that window is searched.
  auto active = activeWindow(element.app);
  if (!active) return nullptr;
  return focusedIn(element.app, *active);
}
