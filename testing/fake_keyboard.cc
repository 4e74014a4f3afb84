// A scripted keyboard platform for unit tests: trust, monitors, ticks and SIGTERM on demand.
#include "testing/fake_keyboard.h"

static const char* const KIND_NAMES[] = {"FlagsChanged", "KeyDown", "KeyUp"};  // EventKind's order

void FakeKeyboard::send(EventKind kind, const KeyEvent& event) {
  // Copied first: a handler may end the process and remove monitors while we walk them.
  const auto monitors = monitors_;
  for (const auto& [id, monitor] : monitors)
    if (monitor.first == kind) monitor.second(event);
}

void FakeKeyboard::sigterm() {
  if (terminate_) terminate_();
  killedBySignal = !terminate_;
}

bool FakeKeyboard::isTrusted() {
  log("isTrusted");
  return trusted;
}

std::optional<MonitorId> FakeKeyboard::addGlobalMonitor(EventKind kind, KeyHandler handler) {
  const bool fails = failingKinds.count(kind) > 0;
  log(std::string("add:") + KIND_NAMES[static_cast<int>(kind)] + "=" +
      (fails ? "failed" : std::to_string(nextId_)));
  if (fails) return std::nullopt;
  monitors_[nextId_] = {kind, std::move(handler)};
  return nextId_++;
}

void FakeKeyboard::removeMonitor(MonitorId id) {
  monitors_.erase(id);
  log("remove:" + std::to_string(id));
}

void FakeKeyboard::addRepeatingTimer(std::chrono::milliseconds interval,
                                     std::function<void()> tick) {
  log("timer:" + std::to_string(interval.count()) + "ms");
  ticks_.push_back(std::move(tick));
}

void FakeKeyboard::onTerminate(std::function<void()> handler) {
  log("onTerminate");
  terminate_ = std::move(handler);
}

void FakeKeyboard::run() {
  log("run");
  for (auto& step : script)
    if (!exitStatus && !killedBySignal) step(*this);
}

void FakeKeyboard::exitProcess(int status) {
  log("exit:" + std::to_string(status));
  exitStatus = status;
}
