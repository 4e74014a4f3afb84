// The body of keyherald: wait for trust, install the key monitors, feed the channels, end on
// SIGTERM.
#include "keyherald/watcher.h"

#include <string>

#include "common/note.h"

namespace {

std::string grantedLine(const Config& config) {
  return "Accessibility granted \xE2\x80\x94 key monitor active (dictate=" + config.dictateId +
         " command=" + config.commandId + " edit=" + config.editId +
         " handsfree=" + config.agentId + ")";
}

// Offers one event to every channel in list order. A line that cannot be written means the host
// has stopped reading: the watcher ends instead of watching for nobody.
void deliver(Herald& herald, Keyboard& keyboard, EventKind kind, const KeyEvent& event) {
  if (herald.ended) return;
  for (Channel& channel : herald.config.channels) {
    bool written = kind == EventKind::FlagsChanged
                       ? channel.onFlagsChanged(event, herald.outFd)
                       : channel.onKey(event, kind == EventKind::KeyDown, herald.outFd);
    if (!written) {
      stopWatching(herald, keyboard);
      return;
    }
  }
}

void addMonitor(Herald& herald, Keyboard& keyboard, EventKind kind) {
  std::optional<MonitorId> id =
      keyboard.addGlobalMonitor(kind, [&herald, &keyboard, kind](const KeyEvent& event) {
        deliver(herald, keyboard, kind, event);
      });
  // A monitor that could not be installed is left out silently.
  if (id) herald.monitors.push_back(*id);
}

}  // namespace

void installMonitorIfTrusted(Herald& herald, Keyboard& keyboard) {
  if (herald.ended || !herald.monitors.empty()) return;
  if (!keyboard.isTrusted()) return;
  addMonitor(herald, keyboard, EventKind::FlagsChanged);
  if (herald.config.needsKeyMonitor) {
    addMonitor(herald, keyboard, EventKind::KeyDown);
    addMonitor(herald, keyboard, EventKind::KeyUp);
  }
  // Still nothing: the next tick tries again.
  if (herald.monitors.empty()) return;
  if (!emit(READY_LINE, herald.outFd)) {
    stopWatching(herald, keyboard);
    return;
  }
  note(grantedLine(herald.config), herald.errFd);
}

void stopWatching(Herald& herald, Keyboard& keyboard) {
  if (herald.ended) return;
  herald.ended = true;
  for (MonitorId id : herald.monitors) keyboard.removeMonitor(id);
  keyboard.exitProcess(0);
}

void startWatching(Herald& herald, Keyboard& keyboard) {
  keyboard.requestTrust();
  if (!keyboard.isTrusted()) note(WAITING_LINE, herald.errFd);
  // Taken over before the first install attempt: a host that stops us as soon as it reads "READY"
  // must see status 0, not death by SIGTERM.
  keyboard.onTerminate([&herald, &keyboard] { stopWatching(herald, keyboard); });
  installMonitorIfTrusted(herald, keyboard);
  if (herald.ended) return;
  keyboard.addRepeatingTimer(RETRY_INTERVAL,
                             [&herald, &keyboard] { installMonitorIfTrusted(herald, keyboard); });
  keyboard.run();
}
