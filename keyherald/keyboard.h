// The keyboard platform as keyherald sees it: trust, global key monitors, a timer, SIGTERM, run.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

// The three properties of a platform keyboard event that the channels read.
struct KeyEvent {
  uint16_t keyCode = 0;        // macOS virtual key code
  uint64_t modifierFlags = 0;  // NSEventModifierFlags after the event, side bits included
  bool isARepeat = false;      // read for key-down events only
};

enum class EventKind { FlagsChanged, KeyDown, KeyUp };

using MonitorId = int;
using KeyHandler = std::function<void(const KeyEvent&)>;

// Everything runs on one thread: handlers, timer ticks and the termination handler are called from
// run(), one at a time.
class Keyboard {
 public:
  virtual ~Keyboard() = default;
  virtual bool isTrusted() = 0;
  // Asks the system to request trust from the user when it is missing; the result is not used.
  virtual void requestTrust() = 0;
  // A system-wide monitor of one kind of event; nothing when none could be installed.
  virtual std::optional<MonitorId> addGlobalMonitor(EventKind kind, KeyHandler handler) = 0;
  virtual void removeMonitor(MonitorId id) = 0;
  // A timer that calls `tick` every `interval` for the life of the process.
  virtual void addRepeatingTimer(std::chrono::milliseconds interval,
                                 std::function<void()> tick) = 0;
  // From now on SIGTERM no longer ends the process by itself: `handler` runs on the loop thread.
  virtual void onTerminate(std::function<void()> handler) = 0;
  // Services events, ticks and the termination handler; returns only after exitProcess in fakes.
  virtual void run() = 0;
  // Ends the process with `status` (a fake records it and makes run() return).
  virtual void exitProcess(int status) = 0;
};
