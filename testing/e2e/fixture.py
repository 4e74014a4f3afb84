"""A small GTK 3 application whose windows a test describes in JSON, for the end-to-end tests.

Usage: /usr/bin/python3 fixture.py DESCRIPTION   (DESCRIPTION is JSON text or the path of a JSON file)

Description (every key optional):
  {"name": "fixture",              the application name (AT-SPI application Name, the bundle id)
   "title": "Fixture",             the window title
   "root": WIDGET,                 the window content (default: an empty vertical box)
   "focus": "id",                  the widget that gets the keyboard focus
   "selection": [start, end],      selection in the focused widget, in characters (code points)
   "caret": n,                     caret in the focused widget, in characters (when no selection)
   "windows": [{"title": ..., "root": WIDGET}, ...]   further windows, shown but not active
  }
WIDGET is one of (each may carry "id"):
  {"type": "textview", "text": "..."}        multi-line text      ({"editable": false} allowed)
  {"type": "entry", "text": "..."}           single-line text
  {"type": "password", "text": "..."}        password entry (shows bullets)
  {"type": "spin", "value": 3}               spin button
  {"type": "label", "text": "..."}           static text
  {"type": "button", "label": "..."}         push button
  {"type": "check", "label": "..."}          check box
  {"type": "combo", "items": [...], "entry": false}   combo box (with an entry when "entry")
  {"type": "box", "vertical": true, "children": [WIDGET, ...]}
  {"type": "scroll", "child": WIDGET}        scrolled window
  {"type": "labels", "count": 4000, "prefix": "Label "}   a vertical box of generated labels
A "repeat": n next to a "text" shows that text n times over (a huge text without a huge description).

Protocol: prints "ready" on stdout once the window is mapped and active, the focus widget has the
focus, and the application and its active window are visible on the accessibility bus. On SIGUSR1
it prints "gap-ms N" (the longest main-loop gap since start or since the last SIGUSR1, measured by a
10 ms timer) and starts a new measurement; on SIGTERM or SIGINT it prints the gap and exits. It dies
with its parent (PR_SET_PDEATHSIG), so a crashed test leaves no fixture behind. A test may freeze it
with SIGSTOP.
"""
import ctypes
import json
import os
import signal
import sys
import threading
import time

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import GLib, Gtk  # noqa: E402

from toolkit_windows import active_on_bus  # noqa: E402

READY = "ready"
# The readiness probe waits this long for the accessibility bus to list the window as active.
READY_TIMEOUT_S = 60


def text_of(desc):
    return desc.get("text", "") * desc.get("repeat", 1)


def build(desc, ids):
    kind = desc.get("type", "box")
    if kind == "textview":
        widget = Gtk.TextView()
        widget.get_buffer().set_text(text_of(desc))
        widget.set_editable(desc.get("editable", True))
    elif kind in ("entry", "password"):
        widget = Gtk.Entry()
        widget.set_text(text_of(desc))
        if kind == "password":
            widget.set_visibility(False)
            widget.set_input_purpose(Gtk.InputPurpose.PASSWORD)
    elif kind == "spin":
        widget = Gtk.SpinButton.new_with_range(0, 1000, 1)
        widget.set_value(desc.get("value", 0))
    elif kind == "label":
        widget = Gtk.Label(label=text_of(desc))
        widget.set_selectable(desc.get("selectable", False))
    elif kind == "button":
        widget = Gtk.Button(label=desc.get("label", "Button"))
    elif kind == "check":
        widget = Gtk.CheckButton(label=desc.get("label", "Check"))
    elif kind == "combo":
        widget = Gtk.ComboBoxText.new_with_entry() if desc.get("entry") else Gtk.ComboBoxText()
        for item in desc.get("items", []):
            widget.append_text(item)
        if desc.get("items"):
            widget.set_active(0)
    elif kind == "scroll":
        widget = Gtk.ScrolledWindow()
        widget.set_min_content_height(desc.get("height", 200))
        widget.add(build(desc.get("child", {"type": "box"}), ids))
    elif kind == "labels":
        widget = Gtk.Box(orientation=Gtk.Orientation.VERTICAL)
        prefix = desc.get("prefix", "Label ")
        for i in range(desc.get("count", 0)):
            widget.pack_start(Gtk.Label(label="%s%d" % (prefix, i)), False, False, 0)
    elif kind == "box":
        vertical = desc.get("vertical", True)
        widget = Gtk.Box(orientation=Gtk.Orientation.VERTICAL if vertical else Gtk.Orientation.HORIZONTAL)
        for child in desc.get("children", []):
            widget.pack_start(build(child, ids), False, False, 0)
    else:
        raise ValueError("unknown widget type %r" % kind)
    if "id" in desc:
        ids[desc["id"]] = widget
    return widget


def place_cursor(widget, start, end):
    if isinstance(widget, Gtk.TextView):
        buf = widget.get_buffer()
        buf.select_range(buf.get_iter_at_offset(end), buf.get_iter_at_offset(start))
    elif isinstance(widget, Gtk.Editable):
        widget.select_region(start, end)


class GapMeter:
    """Records the longest interval between ticks of a 10 ms timer: how long the UI stalled."""

    def __init__(self):
        self.last = time.monotonic()
        self.longest = 0.0
        GLib.timeout_add(10, self.tick)

    def tick(self):
        now = time.monotonic()
        self.longest = max(self.longest, now - self.last)
        self.last = now
        return True

    def report(self):
        self.tick()
        print("gap-ms %.1f" % (self.longest * 1000), flush=True)
        self.longest = 0.0


def wait_until_ready(windows, focus):
    deadline = time.monotonic() + READY_TIMEOUT_S
    while time.monotonic() < deadline:
        local = {}

        def check():
            local["ok"] = windows[0].is_active() and (focus is None or focus.has_focus())
            local["done"] = True
            return False

        GLib.idle_add(check)
        while "done" not in local:
            time.sleep(0.02)
        try:
            if local["ok"] and active_on_bus(os.getpid(), os.environ):
                print(READY, flush=True)
                return
        except GLib.Error:
            pass
        time.sleep(0.05)
    print("fixture: not ready after %d s" % READY_TIMEOUT_S, file=sys.stderr, flush=True)


def die_with_parent():
    PR_SET_PDEATHSIG = 1
    try:
        ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)
    except (OSError, AttributeError):
        pass


def main(argv):
    die_with_parent()
    if len(argv) != 1:
        print("usage: fixture.py DESCRIPTION-JSON-OR-FILE", file=sys.stderr)
        return 2
    text = argv[0]
    if not text.lstrip().startswith("{"):
        with open(text, encoding="utf-8") as f:
            text = f.read()
    desc = json.loads(text)
    GLib.set_prgname(desc.get("name", "fixture"))
    GLib.set_application_name(desc.get("name", "fixture"))
    ids = {}
    windows = []
    # Further windows first: without a window manager the last window presented keeps the focus.
    for extra in desc.get("windows", []):
        win = Gtk.Window(title=extra.get("title", "Other"))
        win.add(build(extra.get("root", {"type": "box"}), ids))
        win.set_default_size(400, 300)
        win.show_all()
        windows.append(win)
    main_window = Gtk.Window(title=desc.get("title", "Fixture"))
    main_window.add(build(desc.get("root", {"type": "box"}), ids))
    main_window.set_default_size(640, 480)
    main_window.connect("destroy", Gtk.main_quit)
    main_window.show_all()
    windows.insert(0, main_window)

    focus = ids.get(desc["focus"]) if "focus" in desc else None
    if focus is not None:
        focus.grab_focus()
        if "selection" in desc:
            place_cursor(focus, *desc["selection"])
        elif "caret" in desc:
            place_cursor(focus, desc["caret"], desc["caret"])
    # Under Xvfb with no window manager, present() falls back to XSetInputFocus on the window, and
    # that is enough for GTK to mark it active (and AT-SPI to report STATE_ACTIVE).
    main_window.present()

    meter = GapMeter()

    def on_usr1():
        meter.report()
        return True

    def on_quit():
        meter.report()
        Gtk.main_quit()
        return False

    GLib.unix_signal_add(GLib.PRIORITY_HIGH, signal.SIGUSR1, on_usr1)
    GLib.unix_signal_add(GLib.PRIORITY_HIGH, signal.SIGTERM, on_quit)
    GLib.unix_signal_add(GLib.PRIORITY_HIGH, signal.SIGINT, on_quit)
    threading.Thread(target=wait_until_ready, args=(windows, focus), daemon=True).start()
    Gtk.main()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
