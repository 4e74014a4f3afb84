// A scripted keyboard platform for unit tests: trust, monitors, ticks and SIGTERM on demand.
#include "testing/fake_keyboard.h"

const char* kindName(EventKind kind) {
  switch (kind) {
    case EventKind::FlagsChanged:
      return "FlagsChanged";
    case EventKind::KeyDown:
      return "KeyDown";
    case EventKind::KeyUp:
      return "KeyUp";
  }
  return "?";
}

void FakeKeyboard::tick() {
  for (auto& tick : ticks_) tick();
}

void FakeKeyboard::send(EventKind kind, const KeyEvent& event) {
  // Copied first: a handler may end the process and remove monitors while we walk them.
  std::vector<KeyHandler> handlers;
  for (const auto& [id, monitor] : monitors_) {
    if (monitor.kind == kind) handlers.push_back(monitor.handler);
  }
  for (auto& handler : handlers) handler(event);
}

void FakeKeyboard::sigterm() {
  if (terminate_) {
    terminate_();
  } else {
    killedBySignal = true;
  }
}

bool FakeKeyboard::isTrusted() {
  calls.push_back("isTrusted");
  return trusted;
}

void FakeKeyboard::requestTrust() {
  calls.push_back("requestTrust");
}

std::optional<MonitorId> FakeKeyboard::addGlobalMonitor(EventKind kind, KeyHandler handler) {
  if (failingKinds.count(kind)) {
    calls.push_back(std::string("add ") + kindName(kind) + " failed");
    return std::nullopt;
  }
  MonitorId id = nextId_++;
  monitors_[id] = Monitor{kind, std::move(handler)};
  calls.push_back(std::string("add ") + kindName(kind) + "=" + std::to_string(id));
  return id;
}

void FakeKeyboard::removeMonitor(MonitorId id) {
  monitors_.erase(id);
  calls.push_back("remove " + std::to_string(id));
}

void FakeKeyboard::addRepeatingTimer(std::chrono::milliseconds interval,
                                     std::function<void()> tick) {
  calls.push_back("timer " + std::to_string(interval.count()) + "ms");
  ticks_.push_back(std::move(tick));
}

void FakeKeyboard::onTerminate(std::function<void()> handler) {
  calls.push_back("onTerminate");
  terminate_ = std::move(handler);
}

void FakeKeyboard::run() {
  calls.push_back("run");
  for (auto& step : script) {
    if (exitStatus || killedBySignal) return;
    step(*this);
  }
}

void FakeKeyboard::exitProcess(int status) {
  calls.push_back("exit " + std::to_string(status));
  exitStatus = status;
}
