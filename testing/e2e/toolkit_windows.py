"""Windows of real toolkits (GTK 4, Qt 5) for the end-to-end tests, and the session they need.

Usage: /usr/bin/python3 toolkit_windows.py gtk4|qt5 TEXT ENTRY LABEL
One window: a multi-line text view holding TEXT, a single-line entry holding ENTRY and a label.
It reads stdin line by line: "select text|entry START END" (offsets in code points) focuses that
widget, selects the range and prints "ok". It dies with its parent.
"""
import ctypes
import os
import signal
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
from session import HeadlessSession  # noqa: E402

READY_TIMEOUT_S = 90


class ToolkitSession(HeadlessSession):
    """A headless session as a desktop gives it: Xvfb resets (wiping the root window's AT_SPI_BUS
    property, without which Qt 5 never registers) when its last client leaves, so one X client
    stays connected for the session's life and sets the property to the accessibility bus."""

    def _start(self):
        super()._start()
        self.env.update(QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb", GSK_RENDERER="cairo")
        address = subprocess.run(["dbus-send", "--session", "--print-reply=literal", "--dest=org.a11y.Bus",
                                  "/org/a11y/bus", "org.a11y.Bus.GetAddress"], env=self.env, check=True,
                                 capture_output=True, timeout=30).stdout.strip()
        x11 = self._x11 = ctypes.CDLL("libX11.so.6")
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XDefaultRootWindow.restype = ctypes.c_ulong
        x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x11.XInternAtom.restype = ctypes.c_ulong
        x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        x11.XChangeProperty.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_ulong,
                                        ctypes.c_int, ctypes.c_int, ctypes.c_char_p, ctypes.c_int]
        x11.XSync.argtypes = x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self._display = x11.XOpenDisplay(self.display.encode())
        if not self._display:
            raise RuntimeError("cannot open display " + self.display)
        XA_STRING, MODE_REPLACE = 31, 0
        x11.XChangeProperty(self._display, x11.XDefaultRootWindow(self._display),
                            x11.XInternAtom(self._display, b"AT_SPI_BUS", 0), XA_STRING, 8, MODE_REPLACE,
                            address, len(address))
        x11.XSync(self._display, 0)

    def stop(self):
        if getattr(self, "_display", None):
            self._x11.XCloseDisplay(self._display)  # before Xvfb goes: Xlib would exit on a lost server
            self._display = None
        super().stop()


class ToolkitWindow:
    """toolkit_windows.py running in `session`; ready (active on the bus) when the constructor returns."""

    def __init__(self, session, toolkit, text, entry, label):
        self.proc = subprocess.Popen(["/usr/bin/python3", os.path.abspath(__file__), toolkit, text, entry, label],
                                     env=session.env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, text=True)
        deadline = time.monotonic() + READY_TIMEOUT_S
        while not active_on_bus(self.proc.pid, session.env):
            if time.monotonic() > deadline or self.proc.poll() is not None:
                self.stop()
                raise RuntimeError(toolkit + " window did not get ready")
            time.sleep(0.1)

    def select(self, widget, start, end):
        self.proc.stdin.write("select %s %d %d\n" % (widget, start, end))
        self.proc.stdin.flush()
        timer = threading.Timer(READY_TIMEOUT_S, self.proc.kill)
        timer.start()
        reply = self.proc.stdout.readline().strip()
        timer.cancel()
        if reply != "ok":
            raise RuntimeError("the window did not select %s %d %d" % (widget, start, end))

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()
        self.proc.stdin.close()
        self.proc.stdout.close()


def active_on_bus(pid, env):
    """True once the registry lists process `pid` with an ACTIVE top-level window. Asked from the
    process itself, it must be a thread with its own connections: the main loop answers the bus."""
    from gi.repository import Gio, GLib

    def call(conn, bus, path, iface, method, args=None, reply=None):
        return conn.call_sync(bus, path, iface, method, args, GLib.VariantType(reply) if reply else None,
                              Gio.DBusCallFlags.NONE, 2000, None).unpack()
    flags = Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION
    session = Gio.DBusConnection.new_for_address_sync(env["DBUS_SESSION_BUS_ADDRESS"], flags, None, None)
    address = env.get("AT_SPI_BUS_ADDRESS") or call(session, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus",
                                                     "GetAddress", reply="(s)")[0]
    session.close_sync(None)
    a11y = Gio.DBusConnection.new_for_address_sync(address, flags, None, None)
    try:
        for name, path in call(a11y, "org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root",
                               "org.a11y.atspi.Accessible", "GetChildren", reply="(a(so))")[0]:
            try:
                if call(a11y, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                        "GetConnectionUnixProcessID", GLib.Variant("(s)", (name,)), "(u)")[0] != pid:
                    continue
                for window in call(a11y, name, path, "org.a11y.atspi.Accessible", "GetChildren",
                                   reply="(a(so))")[0]:
                    states = call(a11y, *window, "org.a11y.atspi.Accessible", "GetState", reply="(au)")[0]
                    if states and states[0] & 2:  # ACTIVE
                        return True
            except GLib.Error:
                continue
        return False
    except GLib.Error:
        return False
    finally:
        a11y.close_sync(None)


def command(select):
    """Answers one line of stdin: `select` is {widget name: function(start, end)}."""
    words = sys.stdin.readline().split()
    if not words:
        sys.exit(0)  # the test has gone
    if words[0] == "select" and len(words) == 4:
        select[words[1]](int(words[2]), int(words[3]))
        print("ok", flush=True)
    return True


def gtk4(text, entry_text, label_text):
    import gi
    gi.require_version("Gtk", "4.0")
    from gi.repository import GLib, Gtk
    GLib.set_prgname("gtk4-window")
    win = Gtk.Window(title="GTK 4 window")
    box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL)
    view, entry = Gtk.TextView(), Gtk.Entry(text=entry_text)
    view.get_buffer().set_text(text)
    for widget in (view, entry, Gtk.Label(label=label_text)):
        box.append(widget)
    win.set_child(box)

    def select_text(start, end):
        buffer = view.get_buffer()
        view.grab_focus()
        buffer.select_range(buffer.get_iter_at_offset(start), buffer.get_iter_at_offset(end))

    def select_entry(start, end):
        entry.grab_focus()
        entry.select_region(start, end)
    GLib.io_add_watch(sys.stdin, GLib.IO_IN, lambda *_: command({"text": select_text, "entry": select_entry}))
    win.present()
    GLib.MainLoop().run()


def qt5(text, entry_text, label_text):
    from PyQt5.QtCore import QSocketNotifier
    from PyQt5.QtGui import QTextCursor
    from PyQt5.QtWidgets import QApplication, QLabel, QLineEdit, QTextEdit, QVBoxLayout, QWidget
    app = QApplication(["qt5-window"])
    win = QWidget()
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

    def select_entry(start, end):
        entry.setFocus()
        entry.setSelection(units(entry_text, start), units(entry_text, end) - units(entry_text, start))
    notifier = QSocketNotifier(sys.stdin.fileno(), QSocketNotifier.Read)
    notifier.activated.connect(lambda *_: command({"text": select_text, "entry": select_entry}))
    win.show()
    win.activateWindow()
    app.exec_()


if __name__ == "__main__":
    ctypes.CDLL(None).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG
    {"gtk4": gtk4, "qt5": qt5}[sys.argv[1]](*sys.argv[2:5])
