// The body of keyherald: wait for trust, install the key monitors, feed the channels, end on
// SIGTERM.
#pragma once

#include <unistd.h>

#include <chrono>
#include <vector>

#include "keyherald/config.h"
#include "keyherald/keyboard.h"

constexpr const char* READY_LINE = "READY";
constexpr const char* WAITING_LINE = "WAITING_FOR_ACCESSIBILITY";
constexpr std::chrono::milliseconds RETRY_INTERVAL{1000};

// Process-wide state: built in main, touched only on the keyboard's one thread.
struct Herald {
  Config config;
  std::vector<MonitorId> monitors;  // installed once, in order; never shrinks before the end
  bool ended = false;               // set once the end has begun; later events are dropped
  int outFd = STDOUT_FILENO;
  int errFd = STDERR_FILENO;
};

// The start sequence after configuration: the trust request, the waiting line when untrusted, the
// SIGTERM handler, the first install attempt, the one-second retry timer, then the run loop.
void startWatching(Herald& herald, Keyboard& keyboard);

// Installs the monitors once trust is present: flags changed, then key down and key up when a
// channel needs them. Writes "READY" and the granted line once at least one monitor exists.
void installMonitorIfTrusted(Herald& herald, Keyboard& keyboard);

// Removes the monitors in order and ends the process with status 0, writing nothing: a channel
// that is down gets no up line.
void stopWatching(Herald& herald, Keyboard& keyboard);
