// The connections to the accessibility bus and to each application, with their time budgets.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ax/atspi/dbus.h"

// Every ordinary call may take this long. A healthy GTK application answers in about 0.1 ms; the
// slack covers a loaded machine.
// The AT-SPI interfaces the readers call.
inline constexpr const char* ACCESSIBLE = "org.a11y.atspi.Accessible";
inline constexpr const char* TEXT = "org.a11y.atspi.Text";
inline constexpr const char* PROPERTIES = "org.freedesktop.DBus.Properties";

inline constexpr int CALL_TIMEOUT_MS = 300;
// An application that times out is asked again; once it has timed out this often in a step (a
// one-shot tool's run, or one poll), every further call to it fails at once until the next step.
// So one slow answer (a large document, a busy moment of up to about two timeouts) loses nothing,
// while a frozen application costs at most two call timeouts (0.6 s) per run or poll.
inline constexpr int MAX_TIMEOUTS_PER_STEP = 2;
// The trust probe (connect, look up the bus, its daemon answering Hello). A loaded machine must not
// make a healthy session look untrusted; a missing bus fails at once anyway.
inline constexpr int TRUST_TIMEOUT_MS = 250;
// The watchdog of one step (a one-shot tool's whole run, or one poll): once it is spent every call
// fails at once and each call's timeout is cut to what is left, so no sequence of slow answers can
// hang a tool. Walking a window of 4000 labels read by read (role, value, children of each) takes
// 3-5 s here over the bus; 8 s lets such a walk finish on a loaded machine.
inline constexpr int STEP_BUDGET_MS = 8000;

// Pipelined calls: how many are in flight at once, and how many share one timeout. GTK handles the
// queued requests of one read of the socket in one go, so a small window keeps its UI responsive.
// A chunk's timeout grows with its size: GTK needs up to about 0.3 ms for a child it has not
// exposed before, and a healthy application must not be taken for a frozen one.
inline constexpr size_t PIPELINE_WINDOW = 16;
inline constexpr size_t PIPELINE_CHUNK = 128;
inline constexpr int PIPELINE_MS_PER_CALL = 2;

// Up to this many children are asked for in one GetChildren call instead of one call each. GTK
// builds the whole list in one go with its UI frozen meanwhile, growing with the square of the
// count: measured on a loaded machine, its longest UI gap for one first GetChildren was 2-15 ms
// for 16 children, 4-14 ms for 64, 12-42 ms for 256 and 43-168 ms for 1000. Bigger parents get
// lazy children asked for by index as the walk enters them. Kept well below the gap's limit, as a
// walk that stops early has asked for up to this many less one children it never entered.
inline constexpr int32_t FEW_CHILDREN = 16;

inline constexpr const char* ROOT_PATH = "/org/a11y/atspi/accessible/root";

// Accessible.GetChildAtIndex: the reference of child `index` of `path`; GetChildren: all of them.
MethodCall childAtCall(const std::string& path, int32_t index);
MethodCall childrenCall(const std::string& path);

// One application (or the registry, or the bus daemon) on the accessibility bus.
struct AtspiApp {
  std::string busName;      // its unique name on the accessibility bus
  Connection connection;    // the bus it is reached over
  int64_t timeoutStep = 0;  // the step of its last timeout (0: never)
  int timeouts = 0;         // how often it timed out in that step
  Destination destination() const { return {connection.get(), busName}; }
};
using AppPtr = std::shared_ptr<AtspiApp>;

class AtspiLink {
 public:
  // Whether the accessibility bus answers, within TRUST_TIMEOUT_MS (its registry need not run
  // yet). Not charged to the step budget: a tool waiting for trust asks again and again.
  bool probe();
  // Asks toolkits to expose their trees (org.a11y.Status IsEnabled on the session bus).
  void requestTrust();

  // A new step: a fresh budget, and applications that timed out are asked again.
  void beginStep();
  int64_t step() const { return step_; }

  // Registers this connection with the registry for focus events, once per connection; true when
  // it did so now. Chromium and Electron mark their window ACTIVE only once some client has
  // registered for an event (and then keep doing so). It costs the session dearly, so only a
  // search that found no active window asks for it: every application on the AT-SPI bridge (GTK 3,
  // Chromium) then builds its whole-tree cache, once in its life (measured: GTK 3 with 4000
  // labels froze for 0.6-1.1 s), keeps it up to date from then on, and sends its focus changes
  // over the bus while this process lives.
  bool listenForFocus();

  // The registry, the bus daemon, or an application by its bus name (nothing without a bus).
  AppPtr registry();
  AppPtr busDaemon();
  AppPtr app(const std::string& busName);

  // A call to `app`, asked again when it times out, failing at once when the app is gone for
  // this step (MAX_TIMEOUTS_PER_STEP) or the budget is spent.
  CallResult call(const AppPtr& app, const std::string& path, const char* interface,
                  const char* method, const Args& args, const char* replyType,
                  int timeoutMs = CALL_TIMEOUT_MS);
  // Any calls to `app`, pipelined in chunks of PIPELINE_CHUNK calls; a chunk's calls that time out
  // are asked again together, and count as one timeout.
  std::vector<CallResult> callAhead(const AppPtr& app, const std::vector<MethodCall>& calls);
  CallResult property(const AppPtr& app, const std::string& path, const char* interface,
                      const char* name);
  // One call to each of several applications (the bus daemon among them), pipelined over the bus;
  // each answered as `call` would answer it, what timed out being asked again on its own.
  std::vector<CallResult> callEach(const std::vector<std::pair<AppPtr, MethodCall>>& calls);

 private:
  using Clock = std::chrono::steady_clock;
  int remainingMs() const;
  bool gone(const AppPtr& app) const;
  void noteTimeout(AtspiApp& app);
  Connection sessionBus();
  Connection a11yBus(int timeoutMs);
  AppPtr busApp(const std::string& name);

  int64_t step_ = 1;
  Clock::time_point deadline_ = Clock::now() + std::chrono::milliseconds(STEP_BUDGET_MS);
  Connection session_;
  Connection bus_;
  bool listening_ = false;   // this connection is registered for focus events
  int64_t busFailedIn_ = 0;  // a bus that could not be reached is not tried again in the step
  std::map<std::string, AppPtr> apps_;
};
