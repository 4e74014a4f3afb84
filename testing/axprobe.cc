// axprobe: drives the platform accessibility layer from the command line and prints JSON, for
// tests.
//
//   axprobe trust            {"trusted": bool, "ms": n}
//   axprobe request-trust    {"requested": true, "ms": n}
//   axprobe focus [N]        frontmost application, its focused element's role, value and range,
//                            the time to find and read them, and (N > 0) the mean of N value reads
//   axprobe windows          focused window, window list, the system-wide focused application
//   axprobe tree [MAX]       a pre-order walk of the focused window: depth, role, value per element
//   axprobe count [MAX]      the same walk, counting only (no per-element output)
//   axprobe tree-ahead [MAX], count-ahead [MAX]   the same walks, hinting each element's children
//                            to the layer first as the tools' walks do (its answers must not
//                            change)
#include <chrono>
#include <cstdlib>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "ax/attr.h"
#include "ax/platform.h"
#include "common/output.h"
#include "common/text.h"

namespace {

using Clock = std::chrono::steady_clock;
using nlohmann::json;

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

json textOr(Accessibility& ax, const Element& e, std::string_view name) {
  auto t = textAttr(ax, e, name);
  return t ? json(*t) : json(nullptr);
}

json rangeOf(Accessibility& ax, const Element& e) {
  auto v = attr(ax, e, "AXSelectedTextRange");
  if (!v || !v->range()) return nullptr;
  return json::array({v->range()->location, v->range()->length});
}

Element frontmostApp(Accessibility& ax, json& out) {
  auto front = ax.frontmostApplication();
  if (!front) {
    out["frontmost"] = nullptr;
    return nullptr;
  }
  out["frontmost"] = {{"bundleId", front->bundleId ? json(*front->bundleId) : json(nullptr)},
                      {"pid", front->pid}};
  return ax.applicationElement(front->pid);
}

json focus(Accessibility& ax, int repeat) {
  json out;
  auto start = Clock::now();
  Element app = frontmostApp(ax, out);
  Element focused = elementAttr(ax, app, "AXFocusedUIElement");
  out["found"] = focused != nullptr;
  out["role"] = textOr(ax, focused, "AXRole");
  out["value"] = textOr(ax, focused, "AXValue");
  out["range"] = rangeOf(ax, focused);
  out["ms"] = msSince(start);
  if (repeat > 0 && focused) {
    auto loop = Clock::now();
    int ok = 0;
    for (int i = 0; i < repeat; ++i) ok += attr(ax, focused, "AXValue").has_value();
    out["readMs"] = msSince(loop) / repeat;
    out["readsOk"] = ok;
  }
  return out;
}

json describe(Accessibility& ax, const Element& e) {
  if (!e) return nullptr;
  return {{"role", textOr(ax, e, "AXRole")}, {"title", textOr(ax, e, "AXTitle")}};
}

json windows(Accessibility& ax) {
  json out;
  Element app = frontmostApp(ax, out);
  out["appRole"] = textOr(ax, app, "AXRole");
  out["appTitle"] = textOr(ax, app, "AXTitle");
  out["focusedWindow"] = describe(ax, elementAttr(ax, app, "AXFocusedWindow"));
  json list = json::array();
  if (auto v = attr(ax, app, "AXWindows"); v && v->list())
    for (const AttrValue& w : *v->list())
      list.push_back(w.element() ? describe(ax, *w.element()) : json(nullptr));
  out["windows"] = list;
  Element system = ax.systemWideElement();
  out["systemRole"] = textOr(ax, system, "AXRole");
  out["systemApp"] = describe(ax, elementAttr(ax, system, "AXFocusedApplication"));
  return out;
}

void walk(Accessibility& ax, const Element& e, int depth, int max, int& count, json* nodes,
          bool ahead) {
  if (count >= max || !e) return;
  ++count;
  json role = textOr(ax, e, "AXRole");
  if (nodes) nodes->push_back({{"d", depth}, {"role", role}, {"value", textOr(ax, e, "AXValue")}});
  auto children = attr(ax, e, "AXChildren");
  if (!children || !children->list()) return;
  if (ahead) {
    PrefetchHint hint{{}, {"AXRole", "AXValue", "AXChildren"}};
    for (const AttrValue& c : *children->list())
      if (c.element() && count + static_cast<int>(hint.elements.size()) < max)
        hint.elements.push_back(*c.element());
    ax.prefetch(hint);
  }
  for (const AttrValue& c : *children->list())
    if (c.element()) walk(ax, *c.element(), depth + 1, max, count, nodes, ahead);
}

json tree(Accessibility& ax, int max, bool withNodes, bool ahead) {
  json out;
  auto start = Clock::now();
  Element app = frontmostApp(ax, out);
  Element window = elementAttr(ax, app, "AXFocusedWindow");
  json nodes = json::array();
  int count = 0;
  walk(ax, window, 0, max, count, withNodes ? &nodes : nullptr, ahead);
  out["count"] = count;
  out["ms"] = msSince(start);
  if (withNodes) out["nodes"] = nodes;
  return out;
}

}  // namespace

int main(int argc, char** argv) try {
  ignoreBrokenPipe();
  std::string_view command = argc > 1 ? argv[1] : "focus";
  int number = argc > 2 ? std::atoi(argv[2]) : 0;
  auto ax = makePlatformAccessibility();
  json out;
  auto start = Clock::now();
  if (command == "trust") {
    out["trusted"] = ax->isTrusted();
    out["ms"] = msSince(start);
  } else if (command == "request-trust") {
    ax->requestTrust();
    out["requested"] = true;
    out["ms"] = msSince(start);
  } else if (command == "focus") {
    out = focus(*ax, number);
  } else if (command == "windows") {
    out = windows(*ax);
  } else if (command == "tree" || command == "count" || command == "tree-ahead" ||
             command == "count-ahead") {
    out = tree(*ax, number > 0 ? number : 100000, command.starts_with("tree"),
               command.ends_with("-ahead"));
  } else {
    out["error"] = "unknown command";
  }
  out["totalMs"] = msSince(start);
  writeRecord(out.dump() + "\n");
  return 0;
} catch (...) {
  return 0;
}
