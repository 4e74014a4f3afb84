// The floor for the tools' AT-SPI reads: the same calls on an open connection, one by one and
// pipelined.
//
//   atspi_limit walk-sequential RUNS   panescan's walk of the focused window (role, states, text,
//                                      child count, children by index; 4000 elements, 45 levels),
//                                      read by read
//   atspi_limit walk-pipelined RUNS    the same calls with up to 64 in flight, level by level
//   atspi_limit focus RUNS             selprobe's reads (the registry's trust probe, frontmost
//                                      window, its pid and name, focused element, its role, text,
//                                      selection and caret), one by one
//   atspi_limit connect                connects to both buses and ends: the floor of any tool's
//                                      start-up (process start, GLib, two authenticated buses)
// Prints one JSON object: "ms", the milliseconds of each run, and the "nodes" walked.
#include <gio/gio.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* ACC = "org.a11y.atspi.Accessible";
constexpr const char* ROOT = "/org/a11y/atspi/accessible/root";
constexpr int MAX_NODES = 4000;
constexpr int MAX_DEPTH = 45;
constexpr size_t IN_FLIGHT = 64;
// AT-SPI roles: text (whose name needs the states), paragraph, password, and the text-bearing ones.
bool needsStates(uint32_t r) {
  return r == 61 || r == 73;
}
bool bearsText(uint32_t r) {
  for (uint32_t t : {61U, 73U, 94U, 96U, 60U, 79U, 52U, 77U, 29U, 116U, 81U, 83U})
    if (r == t) return true;
  return false;
}

struct Call {
  std::string path;
  const char* iface;
  const char* method;
  GVariant* args;
  const char* type;
};

GDBusConnection* bus = nullptr;
std::string app;

GVariant* callSync(const Call& c) {
  return g_dbus_connection_call_sync(bus, app.c_str(), c.path.c_str(), c.iface, c.method, c.args,
                                     G_VARIANT_TYPE(c.type), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr,
                                     nullptr);
}

// All of `calls` with up to IN_FLIGHT outstanding; replies (null on error) in order.
std::vector<GVariant*> callPipelined(const std::vector<Call>& calls) {
  std::vector<GVariant*> out(calls.size(), nullptr);
  size_t next = 0, pending = 0;
  struct Slot {
    std::vector<GVariant*>* out;
    size_t index;
    size_t* pending;
  };
  while (next < calls.size() || pending > 0) {
    while (next < calls.size() && pending < IN_FLIGHT) {
      const Call& c = calls[next];
      ++pending;
      g_dbus_connection_call(
          bus, app.c_str(), c.path.c_str(), c.iface, c.method, c.args, G_VARIANT_TYPE(c.type),
          G_DBUS_CALL_FLAGS_NONE, 5000, nullptr,
          [](GObject* src, GAsyncResult* res, gpointer data) {
            auto* s = static_cast<Slot*>(data);
            (*s->out)[s->index] =
                g_dbus_connection_call_finish(G_DBUS_CONNECTION(src), res, nullptr);
            --*s->pending;
            delete s;
          },
          new Slot{&out, next, &pending});
      ++next;
    }
    g_main_context_iteration(nullptr, TRUE);
  }
  return out;
}

uint32_t u32(GVariant* v) {
  uint32_t x = 0;
  if (v) g_variant_get(v, "(u)", &x);
  return x;
}
int32_t childCount(GVariant* v) {
  if (!v) return 0;
  GVariant* inner = nullptr;
  g_variant_get(v, "(v)", &inner);
  int32_t n = g_variant_is_of_type(inner, G_VARIANT_TYPE_INT32) ? g_variant_get_int32(inner) : 0;
  g_variant_unref(inner);
  return n;
}
std::string pathOf(GVariant* v) {
  if (!v) return {};
  const char* name = nullptr;
  const char* path = nullptr;
  g_variant_get(v, "((&s&o))", &name, &path);
  return path;
}
Call role(const std::string& p) {
  return {p, ACC, "GetRole", nullptr, "(u)"};
}
Call states(const std::string& p) {
  return {p, ACC, "GetState", nullptr, "(au)"};
}
Call text(const std::string& p) {
  return {p, "org.a11y.atspi.Text", "GetText", g_variant_new("(ii)", 0, -1), "(s)"};
}
Call count(const std::string& p) {
  return {p, "org.freedesktop.DBus.Properties", "Get", g_variant_new("(ss)", ACC, "ChildCount"),
          "(v)"};
}
Call child(const std::string& p, int32_t i) {
  return {p, ACC, "GetChildAtIndex", g_variant_new("(i)", i), "((so))"};
}
void unref(GVariant* v) {
  if (v) g_variant_unref(v);
}
bool hasState(GVariant* v, int bit) {
  if (!v) return false;
  GVariantIter* it = nullptr;
  g_variant_get(v, "(au)", &it);
  uint32_t w = 0, word0 = 0;
  for (int i = 0; g_variant_iter_next(it, "u", &w); ++i)
    if (i == 0) word0 = w;
  g_variant_iter_free(it);
  return (word0 >> bit) & 1U;
}

GVariant* windowStates = nullptr;  // the active window's states, as activeWindow() read them

// The application with an active window, and that window (frontmost, as the layer finds it).
std::string activeWindow() {
  GVariant* r = g_dbus_connection_call_sync(bus, "org.a11y.atspi.Registry", ROOT, ACC,
                                            "GetChildren", nullptr, G_VARIANT_TYPE("(a(so))"),
                                            G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
  if (!r) return {};
  GVariantIter* it = nullptr;
  g_variant_get(r, "(a(so))", &it);
  const char* name = nullptr;
  const char* path = nullptr;
  std::string found;
  while (found.empty() && g_variant_iter_next(it, "(&s&o)", &name, &path)) {
    app = name;
    int32_t n = childCount(callSync(count(ROOT)));
    for (int32_t i = 0; i < n && found.empty(); ++i) {
      std::string w = pathOf(callSync(child(ROOT, i)));
      GVariant* st = w.empty() ? nullptr : callSync(states(w));
      if (hasState(st, 1)) {
        found = w;
        unref(windowStates);
        windowStates = st;
      } else {
        unref(st);
      }
    }
  }
  g_variant_iter_free(it);
  g_variant_unref(r);
  return found;
}

void walkOneByOne(const std::string& p, int depth, int& visited) {
  if (visited >= MAX_NODES || depth > MAX_DEPTH) return;
  ++visited;
  uint32_t r = u32(callSync(role(p)));
  if (needsStates(r)) unref(callSync(states(p)));
  if (bearsText(r) && r != 40) unref(callSync(text(p)));
  int32_t n = childCount(callSync(count(p)));
  std::vector<std::string> kids;
  for (int32_t i = 0; i < n; ++i) kids.push_back(pathOf(callSync(child(p, i))));
  for (const std::string& k : kids) walkOneByOne(k, depth + 1, visited);
}

// Level by level: every element's role and child count in flight at once, then its states,
// text and children; the first MAX_NODES elements in breadth-first order.
int walkPipelined(const std::string& window) {
  std::vector<std::string> level{window};
  int visited = 0;
  for (int depth = 0; depth <= MAX_DEPTH && !level.empty() && visited < MAX_NODES; ++depth) {
    if (static_cast<int>(level.size()) > MAX_NODES - visited) level.resize(MAX_NODES - visited);
    visited += static_cast<int>(level.size());
    std::vector<Call> calls;
    for (const std::string& p : level) {
      calls.push_back(role(p));
      calls.push_back(count(p));
    }
    std::vector<GVariant*> first = callPipelined(calls);
    calls.clear();
    std::vector<std::pair<size_t, bool>> kidsOf;  // level index, whether a child call
    for (size_t i = 0; i < level.size(); ++i) {
      uint32_t r = u32(first[2 * i]);
      if (needsStates(r)) calls.push_back(states(level[i]));
      if (bearsText(r) && r != 40) calls.push_back(text(level[i]));
      int32_t n = childCount(first[2 * i + 1]);
      for (int32_t c = 0; c < n; ++c) calls.push_back(child(level[i], c));
      unref(first[2 * i]);
      unref(first[2 * i + 1]);
    }
    std::vector<std::string> next;
    for (GVariant* v : callPipelined(calls)) {
      if (v && g_variant_is_of_type(v, G_VARIANT_TYPE("((so))"))) next.push_back(pathOf(v));
      unref(v);
    }
    level = std::move(next);
  }
  return visited;
}

// What selprobe reads: the frontmost window, the focused element (found as the layer finds it,
// depth first by states), then its role, states, text, selection and caret.
void focusRead() {
  // The trust probe: the registry's child count.
  unref(g_dbus_connection_call_sync(bus, "org.a11y.atspi.Registry", ROOT,
                                    "org.freedesktop.DBus.Properties", "Get",
                                    g_variant_new("(ss)", ACC, "ChildCount"), G_VARIANT_TYPE("(v)"),
                                    G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr));
  std::string window = activeWindow();
  unref(g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                    "org.freedesktop.DBus", "GetConnectionUnixProcessID",
                                    g_variant_new("(s)", app.c_str()), G_VARIANT_TYPE("(u)"),
                                    G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr));
  unref(callSync(
      {ROOT, "org.freedesktop.DBus.Properties", "Get", g_variant_new("(ss)", ACC, "Name"), "(v)"}));
  std::vector<std::string> stack{window};
  std::string focused;
  while (!stack.empty() && focused.empty()) {
    std::string p = stack.back();
    stack.pop_back();
    // The window's states were read when it was found.
    GVariant* s = p == window && windowStates ? g_variant_ref(windowStates) : callSync(states(p));
    if (hasState(s, 12)) focused = p;
    unref(s);
    if (!focused.empty()) break;
    int32_t n = childCount(callSync(count(p)));
    if (n > 64) continue;  // big containers are left to the application's own search
    std::vector<std::string> kids;
    for (int32_t i = 0; i < n; ++i) kids.push_back(pathOf(callSync(child(p, i))));
    for (auto it = kids.rbegin(); it != kids.rend(); ++it) stack.push_back(*it);
  }
  if (focused.empty()) return;
  // Its states are known from the search; the role's name needs nothing more.
  unref(callSync(role(focused)));
  unref(callSync(text(focused)));
  unref(
      callSync({focused, "org.a11y.atspi.Text", "GetSelection", g_variant_new("(i)", 0), "(ii)"}));
  unref(callSync({focused, "org.freedesktop.DBus.Properties", "Get",
                  g_variant_new("(ss)", "org.a11y.atspi.Text", "CaretOffset"), "(v)"}));
}

double msSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "walk-pipelined";
  int runs = argc > 2 ? std::atoi(argv[2]) : 5;
  GDBusConnection* session = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  GVariant* a = session ? g_dbus_connection_call_sync(session, "org.a11y.Bus", "/org/a11y/bus",
                                                      "org.a11y.Bus", "GetAddress", nullptr,
                                                      G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE,
                                                      5000, nullptr, nullptr)
                        : nullptr;
  nlohmann::json out;
  if (mode == "connect") {
    const char* address = nullptr;
    if (a) g_variant_get(a, "(&s)", &address);
    bus =
        address
            ? g_dbus_connection_new_for_address_sync(
                  address,
                  static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                    G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                  nullptr, nullptr, nullptr)
            : nullptr;
    out["connected"] = bus != nullptr;
    printf("%s\n", out.dump().c_str());
    return 0;
  }
  if (!a) {
    out["error"] = "no accessibility bus";
    printf("%s\n", out.dump().c_str());
    return 0;
  }
  const char* address = nullptr;
  g_variant_get(a, "(&s)", &address);
  bus = g_dbus_connection_new_for_address_sync(
      address,
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr);
  for (int i = 0; i < runs && bus; ++i) {
    auto t = Clock::now();
    if (mode == "focus") {
      focusRead();
    } else if (mode == "walk-pipelined") {
      out["nodes"] = walkPipelined(activeWindow());
    } else {
      int visited = 0;
      walkOneByOne(activeWindow(), 0, visited);
      out["nodes"] = visited;
    }
    out["ms"].push_back(msSince(t));
  }
  printf("%s\n", out.dump().c_str());
  return 0;
}
