"""A small GTK 3 application showing the windows a test describes, for the end-to-end tests.

Usage: /usr/bin/python3 fixture.py DESCRIPTION (JSON):
{"name", "title", "root": WIDGET, "focus": widget id, "selection": [start, end] or "caret": n (code
points), "windows": [{"title", "root"}...] further windows, not active}. WIDGET: {"type", "id"} with
type textview, entry, password or label ("text", shown "repeat" times), button ("label"), box
("children"), scroll ("child") or labels ("count" labels "prefix" N). Prints "ready" once the window
is active and the focus in place (the harness waits for the bus to say so too); on SIGUSR1 "gap-ms N",
the longest main-loop stall since the last report. It dies with its parent.
"""
import json
import signal
import sys
import time

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import Atk, GLib, Gtk  # noqa: E402

from toolkit_windows import die_with_parent  # noqa: E402


def build(desc, ids):
    kind, text = desc.get("type", "box"), desc.get("text", "") * desc.get("repeat", 1)
    if kind == "textview":
        widget = Gtk.TextView()
        widget.get_buffer().set_text(text)
    elif kind in ("entry", "password"):  # a hidden text makes GTK's role a password field
        widget = Gtk.Entry(text=text, visibility=kind == "entry")
    elif kind == "label":
        widget = Gtk.Label(label=text)
    elif kind == "button":
        widget = Gtk.Button(label=desc.get("label", "Button"))
    elif kind == "scroll":
        widget = Gtk.ScrolledWindow(min_content_height=200)
        widget.add(build(desc["child"], ids))
    else:
        widget = Gtk.Box(orientation=Gtk.Orientation.VERTICAL)
        children = desc.get("children", []) if kind == "box" else [
            {"type": "label", "text": "%s%d" % (desc.get("prefix", "Label "), i)} for i in range(desc["count"])]
        for child in children:
            widget.pack_start(build(child, ids), False, False, 0)
    ids[desc.get("id")] = widget
    return widget


def main(text):
    die_with_parent()
    desc = json.loads(text)
    GLib.set_prgname(desc.get("name", "fixture"))
    GLib.set_application_name(desc.get("name", "fixture"))
    ids, windows = {}, []
    # Further windows first: without a window manager the last window presented keeps the focus.
    for shown in desc.get("windows", []) + [desc]:
        windows.insert(0, Gtk.Window(title=shown.get("title", "Fixture")))
        windows[0].add(build(shown.get("root", {}), ids))
        windows[0].set_default_size(640, 480)
        windows[0].show_all()
    focus = ids.get(desc.get("focus"), None) if "focus" in desc else None
    if focus is not None:
        focus.grab_focus()
        start, end = desc.get("selection", [desc.get("caret", 0)] * 2)
        if isinstance(focus, Gtk.TextView):
            buf = focus.get_buffer()
            buf.select_range(buf.get_iter_at_offset(end), buf.get_iter_at_offset(start))
        elif isinstance(focus, Gtk.Editable):
            focus.select_region(start, end)
    # Under Xvfb with no window manager, present() falls back to XSetInputFocus, which is enough
    # for GTK to mark the window active (and AT-SPI to report it ACTIVE).
    windows[0].present()
    gap = {"last": time.monotonic(), "longest": 0.0}

    def tick():
        now = time.monotonic()
        gap["longest"], gap["last"] = max(gap["longest"], now - gap["last"]), now
        return True

    def report():
        tick()
        print("gap-ms %.1f" % (gap["longest"] * 1000), flush=True)
        gap["longest"] = 0.0
        return True

    GLib.timeout_add(10, tick)
    GLib.unix_signal_add(GLib.PRIORITY_HIGH, signal.SIGUSR1, report)

    def ready():
        # Focused as the accessibility bus tells it: GTK marks a widget FOCUSED only once its focus-in
        # event is handled, a second or more after grab_focus while it lays a long text out.
        if windows[0].is_active() and (focus is None or focus.get_accessible().ref_state_set().contains_state(
                Atk.StateType.FOCUSED)):
            return print("ready", flush=True)  # None: asked no more
        return True
    GLib.timeout_add(20, ready)
    Gtk.main()


if __name__ == "__main__":
    main(*sys.argv[1:])
