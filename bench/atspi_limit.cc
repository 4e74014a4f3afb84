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
//                                      start-up (process start, two authenticated buses)
// Prints one JSON object: "ms", the milliseconds of each run, and the "nodes" walked.
#include <systemd/sd-bus.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* ACC = "org.a11y.atspi.Accessible";
constexpr const char* PROPS = "org.freedesktop.DBus.Properties";
constexpr const char* ROOT = "/org/a11y/atspi/accessible/root";
constexpr int MAX_NODES = 4000;
constexpr int MAX_DEPTH = 45;
constexpr size_t IN_FLIGHT = 64;
constexpr uint64_t TIMEOUT_US = 5'000'000;
// AT-SPI roles: text (whose name needs the states), paragraph, password, and the text-bearing ones.
bool needsStates(uint32_t r) {
  return r == 61 || r == 73;
}
bool bearsText(uint32_t r) {
  for (uint32_t t : {61U, 73U, 94U, 96U, 60U, 79U, 52U, 77U, 29U, 116U, 81U, 83U})
    if (r == t) return true;
  return false;
}

// A reply, or null on error; freed by its owner.
using Reply = std::unique_ptr<sd_bus_message, decltype(&sd_bus_message_unref)>;
Reply none() {
  return Reply(nullptr, &sd_bus_message_unref);
}

struct Call {
  std::string path;
  const char* iface;
  const char* method;
  std::function<int(sd_bus_message*)> args;
  std::string dest;  // empty: the application being read
};

sd_bus* bus = nullptr;
std::string app;

sd_bus_message* newCall(const Call& c) {
  sd_bus_message* m = nullptr;
  sd_bus_message_new_method_call(bus, &m, c.dest.empty() ? app.c_str() : c.dest.c_str(),
                                 c.path.c_str(), c.iface, c.method);
  if (m && c.args) c.args(m);
  return m;
}

Reply callSync(const Call& c) {
  sd_bus_message* m = newCall(c);
  sd_bus_message* reply = nullptr;
  if (m) sd_bus_call(bus, m, TIMEOUT_US, nullptr, &reply);
  sd_bus_message_unref(m);
  return Reply(reply, &sd_bus_message_unref);
}

// All of `calls` with up to IN_FLIGHT outstanding; replies (null on error) in order.
std::vector<Reply> callPipelined(const std::vector<Call>& calls) {
  std::vector<Reply> out;
  for (size_t i = 0; i < calls.size(); ++i) out.push_back(none());
  struct Slot {
    std::vector<Reply>* out;
    size_t index;
    size_t* pending;
  };
  std::vector<Slot> slots(calls.size());
  size_t next = 0, pending = 0;
  while (next < calls.size() || pending > 0) {
    while (next < calls.size() && pending < IN_FLIGHT) {
      slots[next] = {&out, next, &pending};
      sd_bus_message* m = newCall(calls[next]);
      ++pending;
      sd_bus_call_async(
          bus, nullptr, m,
          [](sd_bus_message* reply, void* data, sd_bus_error*) {
            auto* s = static_cast<Slot*>(data);
            if (!sd_bus_message_is_method_error(reply, nullptr))
              (*s->out)[s->index].reset(sd_bus_message_ref(reply));
            --*s->pending;
            return 0;
          },
          &slots[next], TIMEOUT_US);
      sd_bus_message_unref(m);
      ++next;
    }
    if (sd_bus_process(bus, nullptr) == 0) sd_bus_wait(bus, UINT64_MAX);
  }
  return out;
}

uint32_t u32(const Reply& v) {
  uint32_t x = 0;
  if (v) sd_bus_message_read(v.get(), "u", &x);
  return x;
}
int32_t childCount(const Reply& v) {
  int32_t n = 0;
  if (v) sd_bus_message_read(v.get(), "v", "i", &n);
  return n;
}
std::string pathOf(const Reply& v) {
  const char* name = nullptr;
  const char* path = nullptr;
  if (!v || sd_bus_message_read(v.get(), "(so)", &name, &path) <= 0) return {};
  return path;
}
Call role(const std::string& p) {
  return {p, ACC, "GetRole", nullptr, {}};
}
Call states(const std::string& p) {
  return {p, ACC, "GetState", nullptr, {}};
}
Call text(const std::string& p) {
  return {p,
          "org.a11y.atspi.Text",
          "GetText",
          [](sd_bus_message* m) { return sd_bus_message_append(m, "ii", 0, -1); },
          {}};
}
Call property(const std::string& p, const char* iface, const char* name) {
  return {p,
          PROPS,
          "Get",
          [iface, name](sd_bus_message* m) { return sd_bus_message_append(m, "ss", iface, name); },
          {}};
}
Call count(const std::string& p) {
  return property(p, ACC, "ChildCount");
}
Call child(const std::string& p, int32_t i) {
  return {p,
          ACC,
          "GetChildAtIndex",
          [i](sd_bus_message* m) { return sd_bus_message_append(m, "i", i); },
          {}};
}
bool hasState(const Reply& v, int bit) {
  const void* words = nullptr;
  size_t bytes = 0;
  if (!v || sd_bus_message_rewind(v.get(), 1) < 0 ||
      sd_bus_message_read_array(v.get(), 'u', &words, &bytes) < 0 || bytes < 4)
    return false;
  return (static_cast<const uint32_t*>(words)[0] >> bit) & 1U;
}

Reply windowStates = none();  // the active window's states, as activeWindow() read them

// The application with an active window, and that window (frontmost, as the layer finds it).
std::string activeWindow() {
  Reply r = callSync({ROOT, ACC, "GetChildren", nullptr, "org.a11y.atspi.Registry"});
  if (!r || sd_bus_message_enter_container(r.get(), 'a', "(so)") <= 0) return {};
  const char* name = nullptr;
  const char* path = nullptr;
  std::string found;
  while (found.empty() && sd_bus_message_read(r.get(), "(so)", &name, &path) > 0) {
    app = name;
    int32_t n = childCount(callSync(count(ROOT)));
    for (int32_t i = 0; i < n && found.empty(); ++i) {
      std::string w = pathOf(callSync(child(ROOT, i)));
      Reply st = w.empty() ? none() : callSync(states(w));
      if (hasState(st, 1)) {
        found = w;
        windowStates = std::move(st);
      }
    }
  }
  return found;
}

void walkOneByOne(const std::string& p, int depth, int& visited) {
  if (visited >= MAX_NODES || depth > MAX_DEPTH) return;
  ++visited;
  uint32_t r = u32(callSync(role(p)));
  if (needsStates(r)) callSync(states(p));
  if (bearsText(r) && r != 40) callSync(text(p));
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
    std::vector<Reply> first = callPipelined(calls);
    calls.clear();
    for (size_t i = 0; i < level.size(); ++i) {
      uint32_t r = u32(first[2 * i]);
      if (needsStates(r)) calls.push_back(states(level[i]));
      if (bearsText(r) && r != 40) calls.push_back(text(level[i]));
      int32_t n = childCount(first[2 * i + 1]);
      for (int32_t c = 0; c < n; ++c) calls.push_back(child(level[i], c));
    }
    std::vector<std::string> next;
    for (const Reply& v : callPipelined(calls)) {
      if (v && sd_bus_message_has_signature(v.get(), "(so)") > 0) next.push_back(pathOf(v));
    }
    level = std::move(next);
  }
  return visited;
}

// What selprobe reads: the frontmost window, the focused element (found as the layer finds it,
// depth first by states), then its role, states, text, selection and caret.
void focusRead() {
  // The trust probe: the registry's child count.
  Call probe = count(ROOT);
  probe.dest = "org.a11y.atspi.Registry";
  callSync(probe);
  std::string window = activeWindow();
  callSync({"/org/freedesktop/DBus", "org.freedesktop.DBus", "GetConnectionUnixProcessID",
            [](sd_bus_message* m) { return sd_bus_message_append(m, "s", app.c_str()); },
            "org.freedesktop.DBus"});
  callSync(property(ROOT, ACC, "Name"));
  std::vector<std::string> stack{window};
  std::string focused;
  while (!stack.empty() && focused.empty()) {
    std::string p = stack.back();
    stack.pop_back();
    // The window's states were read when it was found.
    if (p == window && windowStates ? hasState(windowStates, 12)
                                    : hasState(callSync(states(p)), 12))
      focused = p;
    if (!focused.empty()) break;
    int32_t n = childCount(callSync(count(p)));
    if (n > 64) continue;  // big containers are left to the application's own search
    std::vector<std::string> kids;
    for (int32_t i = 0; i < n; ++i) kids.push_back(pathOf(callSync(child(p, i))));
    for (auto it = kids.rbegin(); it != kids.rend(); ++it) stack.push_back(*it);
  }
  if (focused.empty()) return;
  // Its states are known from the search; the role's name needs nothing more.
  callSync(role(focused));
  callSync(text(focused));
  callSync({focused,
            "org.a11y.atspi.Text",
            "GetSelection",
            [](sd_bus_message* m) { return sd_bus_message_append(m, "i", 0); },
            {}});
  callSync(property(focused, "org.a11y.atspi.Text", "CaretOffset"));
}

double msSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// The accessibility bus, found as the tools find it: its address from org.a11y.Bus.
sd_bus* connectA11y() {
  sd_bus* session = nullptr;
  if (sd_bus_open_user(&session) < 0) return nullptr;
  sd_bus_message* reply = nullptr;
  const char* address = nullptr;
  sd_bus* out = nullptr;
  if (sd_bus_call_method(session, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress",
                         nullptr, &reply, "") >= 0 &&
      sd_bus_message_read(reply, "s", &address) > 0 && sd_bus_new(&out) >= 0) {
    sd_bus_set_address(out, address);
    sd_bus_set_bus_client(out, 1);
    if (sd_bus_start(out) < 0) out = sd_bus_unref(out);
  }
  sd_bus_message_unref(reply);
  sd_bus_unref(session);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "walk-pipelined";
  int runs = argc > 2 ? std::atoi(argv[2]) : 5;
  bus = connectA11y();
  nlohmann::json out;
  if (mode == "connect") {
    // Connected means authenticated and greeted: one call to the bus daemon proves it.
    out["connected"] =
        bus && sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                  "org.freedesktop.DBus", "GetId", nullptr, nullptr, "") >= 0;
    printf("%s\n", out.dump().c_str());
    return 0;
  }
  if (!bus) {
    out["error"] = "no accessibility bus";
    printf("%s\n", out.dump().c_str());
    return 0;
  }
  for (int i = 0; i < runs; ++i) {
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
