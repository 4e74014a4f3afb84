"""Windows of real toolkits for the end-to-end tests, and the readiness check of every window program.

Usage: /usr/bin/python3 toolkit_windows.py gtk4|qt5 TEXT ENTRY LABEL: a text view holding TEXT, an
entry holding ENTRY and a label. Prints "ready" once active on the accessibility bus; each stdin line
"select text|entry START END" (code points) focuses that widget, selects the range, prints "ok"."""
import ctypes
import os
import signal
import sys
import threading
import time


def die_with_parent():
    ctypes.CDLL(None).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


def a11y_bus():
    """A connection of its own to the session's accessibility bus."""
    from gi.repository import Gio, GLib
    address = Gio.bus_get_sync(Gio.BusType.SESSION).call_sync(
        "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", None, GLib.VariantType("(s)"), 0, 10000, None)
    flags = Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION
    return Gio.DBusConnection.new_for_address_sync(address.unpack()[0], flags, None, None)


def active_on_bus(pid):
    """True once the registry lists process `pid` with an ACTIVE top-level window. Asked from the
    process itself, it must be a thread with its own connection: the main loop answers the bus."""
    from gi.repository import GLib

    def call(name, path, iface, method, args=None, reply="(a(so))"):
        return bus.call_sync(name, path, iface, method, args, GLib.VariantType(reply), 0, 2000, None).unpack()[0]
    bus = a11y_bus()
    try:
        for name, path in call("org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root",
                               "org.a11y.atspi.Accessible", "GetChildren"):
            try:
                if call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                        "GetConnectionUnixProcessID", GLib.Variant("(s)", (name,)), "(u)") == pid and any(
                        call(*w, "org.a11y.atspi.Accessible", "GetState", reply="(au)")[0] & 2  # ACTIVE
                        for w in call(name, path, "org.a11y.atspi.Accessible", "GetChildren")):
                    return True
            except GLib.Error:
                continue
    except GLib.Error:
        pass
    finally:
        bus.close_sync(None)
    return False


def announce_ready(check=lambda: True, on_main=None):
    """Prints "ready" once `check()` (run on the main loop through `on_main`) holds and this process
    has an active window on the bus; gives up after 60 s."""
    def wait():
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            done = threading.Event()
            result = {}
            (on_main or (lambda f: f()))(lambda: result.update(ok=check()) or done.set())
            done.wait(5)
            if result.get("ok") and active_on_bus(os.getpid()):
                return print("ready", flush=True)
            time.sleep(0.05)
    threading.Thread(target=wait, daemon=True).start()


def command(select):
    """Answers one line of stdin: `select` is {widget name: function(start, end)}."""
    words = sys.stdin.readline().split()
    if not words:
        sys.exit(0)  # the test has gone
    select[words[1]](int(words[2]), int(words[3]))
    print("ok", flush=True)
    return True


def gtk4(text, entry_text, label_text):
    import gi
    gi.require_version("Gtk", "4.0")
    from gi.repository import GLib, Gtk
    GLib.set_prgname("gtk4-window")
    win, box = Gtk.Window(title="GTK 4 window"), Gtk.Box(orientation=Gtk.Orientation.VERTICAL)
    view, entry = Gtk.TextView(), Gtk.Entry(text=entry_text)
    view.get_buffer().set_text(text)
    for widget in (view, entry, Gtk.Label(label=label_text)):
        box.append(widget)
    win.set_child(box)
    buffer = view.get_buffer()
    select = {"text": lambda start, end: (view.grab_focus(), buffer.select_range(
        buffer.get_iter_at_offset(start), buffer.get_iter_at_offset(end))),
        "entry": lambda start, end: (entry.grab_focus(), entry.select_region(start, end))}
    GLib.io_add_watch(sys.stdin, GLib.IO_IN, lambda *_: command(select))
    win.present()
    announce_ready()
    GLib.MainLoop().run()


def qt5(text, entry_text, label_text):
    from PyQt5.QtCore import QSocketNotifier
    from PyQt5.QtGui import QTextCursor
    from PyQt5.QtWidgets import QApplication, QLabel, QLineEdit, QTextEdit, QVBoxLayout, QWidget
    app, win = QApplication(["qt5-window"]), QWidget()
    layout = QVBoxLayout(win)
    view, entry = QTextEdit(), QLineEdit(entry_text)
    view.setPlainText(text)
    for widget in (view, entry, QLabel(label_text)):
        layout.addWidget(widget)

    def units(s, n):  # Qt counts UTF-16 units
        return len(s[:n].encode("utf-16-le")) // 2

    def select_text(start, end):
        view.setFocus()
        cursor = view.textCursor()
        cursor.setPosition(units(text, start))
        cursor.setPosition(units(text, end), QTextCursor.KeepAnchor)
        view.setTextCursor(cursor)
    notifier = QSocketNotifier(sys.stdin.fileno(), QSocketNotifier.Read)
    notifier.activated.connect(lambda *_: command({"text": select_text, "entry": lambda start, end: (
        entry.setFocus(), entry.setSelection(units(entry_text, start), units(entry_text, end) - units(entry_text, start)))}))
    win.show()
    win.activateWindow()
    announce_ready()
    app.exec_()


if __name__ == "__main__":
    die_with_parent()
    {"gtk4": gtk4, "qt5": qt5}[sys.argv[1]](*sys.argv[2:5])
