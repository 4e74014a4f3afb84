// Reaching the accessibility bus and the applications on it within the call and step budgets.
#include "ax/atspi/link.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace {

constexpr const char* REGISTRY_NAME = "org.a11y.atspi.Registry";
constexpr const char* DAEMON_NAME = "org.freedesktop.DBus";

int elapsedMs(std::chrono::steady_clock::time_point since) {
  return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - since)
                              .count());
}

}  // namespace

MethodCall childAtCall(const std::string& path, int32_t index) {
  return {path, ACCESSIBLE, "GetChildAtIndex", intArgs(index), "(so)"};
}

MethodCall childrenCall(const std::string& path) {
  return {path, ACCESSIBLE, "GetChildren", nullptr, "a(so)"};
}

int AtspiLink::remainingMs() const {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
  return static_cast<int>(std::max<int64_t>(0, left.count()));
}

void AtspiLink::beginStep() {
  ++step_;
  deadline_ = Clock::now() + std::chrono::milliseconds(STEP_BUDGET_MS);
  // Events this process registered for arrive between steps; nobody reads them.
  drain(bus_);
}

Connection AtspiLink::sessionBus() {
  if (isOpen(session_)) return session_;
  // Only an address already known: looking one up could start an X11 autolaunch of a second bus.
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  session_ = address ? openConnection(address, true) : nullptr;
  return session_;
}

Connection AtspiLink::a11yBus(int timeoutMs) {
  if (isOpen(bus_)) return bus_;
  bus_ = nullptr;
  apps_.clear();  // their connections and names belonged to the old bus
  auto start = Clock::now();
  std::string address;
  if (const char* given = std::getenv("AT_SPI_BUS_ADDRESS"); given && *given) {
    address = given;
  } else {
    Connection session = sessionBus();
    if (!session) return nullptr;
    CallResult r = callMethod({session.get(), "org.a11y.Bus"}, "/org/a11y/bus", "org.a11y.Bus",
                              "GetAddress", nullptr, "s", timeoutMs);
    address = readString(r).value_or(std::string());
  }
  bus_ = openConnection(address, true);
  // The bus daemon's answer to Hello: what the trust probe waits for.
  if (!awaitHandshake(bus_, timeoutMs - elapsedMs(start))) bus_ = nullptr;
  listening_ = false;
  return bus_;
}

bool AtspiLink::probe() {
  // The bus answering (its daemon's reply to Hello) is the trust: its registry starts only with the
  // first application that registers, and until then the session is trusted and simply has no
  // application.
  return a11yBus(TRUST_TIMEOUT_MS) != nullptr;
}

void AtspiLink::requestTrust() {
  Connection session = sessionBus();
  if (!session) return;
  callMethod(
      {session.get(), "org.a11y.Bus"}, "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
      [](sd_bus_message* m) {
        return sd_bus_message_append(m, "ssv", "org.a11y.Status", "IsEnabled", "b", 1);
      },
      nullptr, TRUST_TIMEOUT_MS);
}

AppPtr AtspiLink::busApp(const std::string& name) {
  if (busFailedIn_ == step_) return nullptr;
  Connection bus = a11yBus(std::min(CALL_TIMEOUT_MS, remainingMs()));
  if (!bus) {
    busFailedIn_ = step_;
    return nullptr;
  }
  auto it = apps_.find(name);
  if (it != apps_.end()) return it->second;
  auto app = std::make_shared<AtspiApp>();
  app->busName = name;
  app->connection = bus;
  apps_.emplace(name, app);
  return app;
}

bool AtspiLink::listenForFocus() {
  AppPtr registry = this->registry();
  if (listening_ || !registry) return false;
  listening_ = true;
  CallResult r = call(
      registry, "/org/a11y/atspi/registry", "org.a11y.atspi.Registry", "RegisterEvent",
      [](sd_bus_message* m) {
        return sd_bus_message_append(m, "sass", "object:state-changed:focused", 0, "");
      },
      nullptr);
  return r.ok();
}

AppPtr AtspiLink::registry() {
  return busApp(REGISTRY_NAME);
}
AppPtr AtspiLink::busDaemon() {
  return busApp(DAEMON_NAME);
}

AppPtr AtspiLink::app(const std::string& busName) {
  // Always over the bus, never over the application's own socket: GTK answers the first
  // GetApplicationBusAddress of its life by walking its whole tree (0.35 s for 2000 labels, 0.8 s
  // for 4000, its UI frozen meanwhile), which would cost the first reader of every application a
  // timeout. Over the bus a read costs about twice the round trip, still well under a millisecond.
  return busApp(busName);
}

bool AtspiLink::gone(const AppPtr& app) const {
  return !app || (app->timeoutStep == step_ && app->timeouts >= MAX_TIMEOUTS_PER_STEP);
}

void AtspiLink::noteTimeout(AtspiApp& app) {
  if (app.timeoutStep != step_) {
    app.timeoutStep = step_;
    app.timeouts = 0;
  }
  ++app.timeouts;
}

CallResult AtspiLink::call(const AppPtr& app, const std::string& path, const char* interface,
                           const char* method, const Args& args, const char* replyType,
                           int timeoutMs) {
  // A call that times out is asked once more: an application busy for a moment answers the
  // second one, and only a frozen one makes it the step's last (see MAX_TIMEOUTS_PER_STEP).
  while (true) {
    int budget = std::min(timeoutMs, remainingMs());
    if (gone(app) || budget <= 0) return {Message(), CallError::TimedOut};
    CallResult r =
        callMethod(app->destination(), path.c_str(), interface, method, args, replyType, budget);
    if (r.error != CallError::TimedOut) return r;
    noteTimeout(*app);
  }
}

std::vector<CallResult> AtspiLink::callAhead(const AppPtr& app,
                                             const std::vector<MethodCall>& calls) {
  std::vector<CallResult> out(calls.size(), CallResult{Message(), CallError::TimedOut});
  for (size_t begin = 0; begin < calls.size(); begin += PIPELINE_CHUNK) {
    std::vector<size_t> pending;
    for (size_t i = begin; i < std::min(calls.size(), begin + PIPELINE_CHUNK); ++i)
      pending.push_back(i);
    // As in call: what timed out is asked once more, and counts as one timeout per chunk.
    while (!pending.empty()) {
      int budget = std::min(
          CALL_TIMEOUT_MS + PIPELINE_MS_PER_CALL * static_cast<int>(pending.size()), remainingMs());
      if (gone(app) || budget <= 0) break;
      std::vector<MethodCall> chunk;
      chunk.reserve(pending.size());
      for (size_t i : pending) chunk.push_back(calls[i]);
      std::vector<CallResult> got = callMany(app->destination(), chunk, budget, PIPELINE_WINDOW);
      std::vector<size_t> late;
      for (size_t k = 0; k < got.size(); ++k) {
        if (got[k].error == CallError::TimedOut)
          late.push_back(pending[k]);
        else
          out[pending[k]] = std::move(got[k]);
      }
      if (!late.empty()) noteTimeout(*app);
      pending = std::move(late);
    }
  }
  return out;
}

CallResult AtspiLink::property(const AppPtr& app, const std::string& path, const char* interface,
                               const char* name) {
  CallResult r = call(app, path, PROPERTIES, "Get", stringArgs(interface, name), "v");
  r.boxed = r.ok();
  return r;
}

std::vector<CallResult> AtspiLink::callEach(
    const std::vector<std::pair<AppPtr, MethodCall>>& calls) {
  std::vector<CallResult> out(calls.size(), CallResult{Message(), CallError::TimedOut});
  std::vector<MethodCall> batch;
  std::vector<size_t> asked;
  for (size_t i = 0; i < calls.size(); ++i) {
    const auto& [app, c] = calls[i];
    // Every application of the bus shares its connection; a gone one fails at once.
    if (gone(app) || app->connection != bus_) continue;
    batch.push_back(c);
    batch.back().destination = app->busName;
    asked.push_back(i);
  }
  int budget = std::min(CALL_TIMEOUT_MS, remainingMs());
  if (batch.empty() || budget <= 0) return out;
  std::vector<CallResult> got =
      callMany({bus_.get(), std::string()}, batch, budget, PIPELINE_WINDOW);
  for (size_t k = 0; k < got.size(); ++k) {
    const auto& [app, c] = calls[asked[k]];
    if (got[k].error != CallError::TimedOut) {
      out[asked[k]] = std::move(got[k]);
      continue;
    }
    noteTimeout(*app);
    out[asked[k]] = call(app, c.path, c.interface, c.method, c.args, c.replyType);
    out[asked[k]].boxed = c.property && out[asked[k]].ok();
  }
  return out;
}
