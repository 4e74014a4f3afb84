"""A fake AT-SPI application that serves what no toolkit would, for the fault tests.

Usage: /usr/bin/python3 hostile_app.py LAYOUT_JSON. Objects: root ("hostile") -> frame (ACTIVE) ->
liar (ChildCount 1000000; children: the frame again, a null reference, an error), a chain of "depth"
panels, entry (FOCUSED; "text", GetSelection "selection", CaretOffset "caret").
"slow": [object, method, ms]: busy for ms before its first answer; "listened": the frame ACTIVE only
once a client registered for an event (Chromium); "unready": [ms, counted(, unselected)]: the text
"" until ms after its first read, CharacterCount 0 unless counted, no range if unselected (Firefox);
"liar": 0 drops the liar; "paragraphs": a focused panel holding a document of paragraphs in
UTF-16 offsets, paragraph "focus" focused (LibreOffice).
"""
import json
import os
import signal
import sys
import time

from gi.repository import Gio, GLib

from session import a11y_bus
from toolkit_windows import die_with_parent

ROOT = "/org/a11y/atspi/accessible/root"
NULL = "/org/a11y/atspi/null"
FRAME, ENTRY, LIAR = ROOT + "/frame", ROOT + "/entry", ROOT + "/liar"
ROLE = {"application": 75, "frame": 23, "entry": 79, "panel": 39, "paragraph": 73, "document": 94}
ACTIVE, EDITABLE, FOCUSABLE, FOCUSED, SINGLE_LINE, SHOWING, VISIBLE = 1, 7, 11, 12, 25, 26, 30
SHOWN = [SHOWING, VISIBLE]
ARGS = {"GetChildAtIndex": "i", "GetText": "ii", "GetSelection": "i"}
REPLY = {"GetChildAtIndex": "(so)", "GetChildren": "a(so)", "GetRole": "u", "GetState": "au",
         "GetIndexInParent": "i", "GetText": "s", "GetSelection": "ii"}
PROPS = {"Accessible": {"Name": "s", "Parent": "(so)", "ChildCount": "i"},
         "Text": {"CaretOffset": "i", "CharacterCount": "i"}}


def interface(name, methods):
    def args(types, direction):
        return "".join('<arg type="%s" direction="%s"/>' % (t, direction) for t in types)
    return '<interface name="org.a11y.atspi.%s">%s%s</interface>' % (name, "".join(
        '<method name="%s">%s%s</method>' % (m, args(ARGS.get(m, ""), "in"), args(REPLY[m] if m == "GetSelection"
                                                                                  else [REPLY[m]], "out"))
        for m in methods), "".join('<property name="%s" type="%s" access="read"/>' % p for p in PROPS[name].items()))


INTERFACES = Gio.DBusNodeInfo.new_for_xml("<node>%s%s</node>" % (
    interface("Accessible", list(REPLY)[:5]), interface("Text", list(REPLY)[5:]))).interfaces


def node(role, children=(), states=SHOWN, name="", **more):
    return dict(role=role, name=name, children=None if children is None else list(children), states=states, **more)


class Objects:
    def __init__(self, layout, name):
        self.layout, self.name, self.ready_at = layout, name, None
        chain = [ROOT + "/chain/%d" % i for i in range(layout.get("depth", 0))]
        kids = [ROOT + "/p/%d" % i for i in range(len(layout.get("paragraphs", [])))]
        entry_states = [FOCUSED, FOCUSABLE, EDITABLE] + SHOWN
        self.nodes = {
            ROOT: node("application", [FRAME], [], name="hostile"),
            FRAME: node("frame", [LIAR][:layout.get("liar", 1)] + chain[:1] + [ENTRY],
                        SHOWN + ([] if layout.get("listened") else [ACTIVE])),
            ENTRY: node("entry", states=entry_states + [SINGLE_LINE], text=layout.get("text", "")),
            LIAR: node("panel", None),
        }
        if kids:
            # A panel marked focused though not focusable, as LibreOffice's, holds the document.
            self.nodes.update({ENTRY: node("document", kids), LIAR: node("panel", [ENTRY], [FOCUSED] + SHOWN)})
            self.nodes[FRAME]["children"] = [LIAR]
        for i, path in enumerate(kids):
            self.nodes[path] = node("paragraph", states=[EDITABLE] + SHOWN + [FOCUSED] * (i == layout.get("focus")),
                                    text=layout["paragraphs"][i], utf16=True, parent=ENTRY)
        for i, path in enumerate(chain):
            self.nodes[path] = node("panel", chain[i + 1:i + 2])

    def child(self, n, index):
        if n["children"] is not None:
            return (self.name, n["children"][index]) if 0 <= index < len(n["children"]) else ("", NULL)
        if index % 3 == 2:  # the liar: an ancestor again, a null reference, or an error
            raise ValueError("no such child")
        return [(self.name, FRAME), ("", NULL)][index % 3]

    def unready(self, path):
        # The first Text read of the entry starts the clock; until it runs out the text is "".
        if path != ENTRY or "unready" not in self.layout:
            return False
        self.ready_at = self.ready_at or time.monotonic() + self.layout["unready"][0] / 1000
        return time.monotonic() < self.ready_at

    def answer(self, path, method, params):
        n = self.nodes[path]
        count = 1000000 if n["children"] is None else len(n["children"])
        hidden = method in ("GetSelection", "CaretOffset") and self.unready(path) and self.layout["unready"][2:]
        siblings = self.nodes[n.get("parent", FRAME)]["children"] or []
        if method == "GetChildren":
            return [self.child(n, i) for i in range(min(count, 50)) if n["children"] is not None or i % 3 != 2]
        if method == "GetText":
            text, start, end = "" if self.unready(path) else n["text"], max(0, params[0]), params[1]
            if n.get("utf16"):
                return text.encode("utf-16-le")[2 * start:None if end < 0 else 2 * end].decode("utf-16-le", "replace")
            return text[start:None if end < 0 else end]
        if method == "CharacterCount":
            text = n.get("text", "")
            counted = not self.unready(path) or self.layout["unready"][1]
            return (len(text.encode("utf-16-le")) // 2 if n.get("utf16") else len(text)) if counted else 0
        return {"GetChildAtIndex": lambda: self.child(n, params and params[0]), "GetRole": lambda: ROLE[n["role"]],
                "GetIndexInParent": lambda: siblings.index(path) if path in siblings else 0,
                "GetState": lambda: [sum(1 << b for b in n["states"]), 0],
                "GetSelection": lambda: (0, 0) if hidden else tuple(self.layout.get("selection", [0, 0])),
                "Name": lambda: n["name"],
                "ChildCount": lambda: count, "CaretOffset": lambda: -1 if hidden else self.layout.get("caret", 0),
                "Parent": lambda: ("", NULL) if path == ROOT else (self.name, n.get("parent", FRAME))}[method]()

    def method(self, conn, sender, path, iface, method, params, invocation):
        slow = self.layout.get("slow")
        if slow and (ROOT + "/" + slow[0], slow[1]) == (path, method):
            del self.layout["slow"]
            time.sleep(slow[2] / 1000)  # the whole application is busy, as a real one would be
        if method == "GetSelection" and FOCUSED not in self.nodes[path]["states"]:
            return invocation.return_dbus_error("org.freedesktop.DBus.Error.UnknownMethod", method)
        try:
            reply = self.answer(path, method, params.unpack())
        except ValueError as error:
            return invocation.return_dbus_error("org.freedesktop.DBus.Error.Failed", str(error))
        invocation.return_value(GLib.Variant("(%s)" % REPLY[method], reply if method == "GetSelection" else (reply,)))

    def prop(self, conn, sender, path, iface, name):
        return GLib.Variant(PROPS[iface.rsplit(".", 1)[1]][name], self.answer(path, name, ()))


def main():
    die_with_parent()
    layout, bus = json.loads(sys.argv[1]), a11y_bus(os.environ)
    objects = Objects(layout, bus.get_unique_name())
    for path, n in objects.nodes.items():
        for iface in INTERFACES[:1 + ("text" in n)]:
            bus.register_object(path, iface, objects.method, objects.prop, None)
    bus.signal_subscribe(None, "org.a11y.atspi.Registry", "EventListenerRegistered", None, None,
                         Gio.DBusSignalFlags.NONE, lambda *_: objects.nodes[FRAME]["states"].append(ACTIVE))
    bus.call_sync("org.a11y.atspi.Registry", ROOT, "org.a11y.atspi.Socket", "Embed", GLib.Variant(
        "((so))", ((objects.name, ROOT),)), GLib.VariantType("((so))"), 0, 10000, None)
    print("ready", flush=True)  # the harness waits until the registry lists it
    loop = GLib.MainLoop()
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, loop.quit)
    loop.run()


if __name__ == "__main__":
    main()
