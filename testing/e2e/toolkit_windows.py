"""Windows of real toolkits for the end-to-end tests.

Usage: /usr/bin/python3 toolkit_windows.py gtk4|qt5 TEXT ENTRY LABEL: a text view holding TEXT, an
entry holding ENTRY and a label. Prints "ready" once shown (the harness waits for it on the bus); each
stdin line "select text|entry START END" (code points) focuses that widget, selects the range, prints "ok"."""
import ctypes
import signal
import sys


def die_with_parent():
    ctypes.CDLL(None).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


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
    print("ready", flush=True)
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
    print("ready", flush=True)
    app.exec_()


if __name__ == "__main__":
    die_with_parent()
    {"gtk4": gtk4, "qt5": qt5}[sys.argv[1]](*sys.argv[2:5])
