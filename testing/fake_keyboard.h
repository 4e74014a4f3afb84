// A scripted keyboard platform for unit tests: trust, monitors, ticks and SIGTERM on demand.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "keyherald/keyboard.h"

// run() plays `script` step by step until exitProcess is called or the script ends. Every call the
// logic makes is logged in `calls`, space-separated ("isTrusted add:FlagsChanged=1 remove:1 ...").
class FakeKeyboard : public Keyboard {
 public:
  bool trusted = false;
  std::set<EventKind> failingKinds;  // addGlobalMonitor yields nothing for these
  std::vector<std::function<void(FakeKeyboard&)>> script;

  std::string calls;
  std::optional<int> exitStatus;
  bool killedBySignal = false;  // SIGTERM arrived before onTerminate: the default action

  // Script steps, also callable directly.
  void tick() {
    for (auto& tick : ticks_) tick();
  }
  void send(EventKind kind, const KeyEvent& event);
  void sigterm();
  size_t liveMonitors() const { return monitors_.size(); }

  bool isTrusted() override;
  void requestTrust() override { log("requestTrust"); }
  std::optional<MonitorId> addGlobalMonitor(EventKind kind, KeyHandler handler) override;
  void removeMonitor(MonitorId id) override;
  void addRepeatingTimer(std::chrono::milliseconds interval, std::function<void()> tick) override;
  void onTerminate(std::function<void()> handler) override;
  void run() override;
  void exitProcess(int status) override;

 private:
  void log(const std::string& call) { calls += (calls.empty() ? "" : " ") + call; }

  std::map<MonitorId, std::pair<EventKind, KeyHandler>> monitors_;
  MonitorId nextId_ = 1;
  std::vector<std::function<void()>> ticks_;
  std::function<void()> terminate_;
};
