"""A fake AT-SPI application that serves what no toolkit would, for the fault tests.

Usage: /usr/bin/python3 hostile_app.py LAYOUT_JSON. Objects: root ("hostile") -> frame (ACTIVE) ->
liar (ChildCount 1000000; children: the frame again, a null reference, an error), a chain of "depth"
panels, entry (FOCUSED; "text", GetSelection "selection", CaretOffset "caret").
"slow": [object, method, ms]: busy for ms before its first answer; "listened": the frame ACTIVE only
once a client registered for an event (Chromium); "unready": [ms, counted(, unselected)]: the text
"" until ms after its first read, CharacterCount 0 unless counted, no range if unselected (Firefox);
"liar": 0 drops the liar; "paragraphs": a focused panel holding a document of paragraphs in
UTF-16 offsets, paragraph "focus" focused (LibreOffice); "name": the application's name.
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
# What the tools ask of the Accessible and Text interfaces (properties through Properties.Get): reply types.
REPLY = {"GetChildAtIndex": "(so)", "GetChildren": "a(so)", "GetRole": "u", "GetState": "au", "GetIndexInParent": "i",
         "Name": "s", "Parent": "(so)", "ChildCount": "i", "GetText": "s", "GetSelection": "(ii)", "CaretOffset": "i",
         "CharacterCount": "i"}
TEXT_MEMBERS = ("GetText", "GetSelection", "CaretOffset", "CharacterCount")


def node(role, children=(), states=SHOWN, name="", **more):
    return dict(role=role, name=name, children=None if children is None else list(children), states=states, **more)


class Objects:
    def __init__(self, layout, name):
        self.layout, self.name, self.ready_at = layout, name, None
        chain = [ROOT + "/chain/%d" % i for i in range(layout.get("depth", 0))]
        kids = [ROOT + "/p/%d" % i for i in range(len(layout.get("paragraphs", [])))]
        entry_states = [FOCUSED, FOCUSABLE, EDITABLE] + SHOWN
        self.nodes = {
            ROOT: node("application", [FRAME], [], name=layout.get("name", "hostile")),
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

    def filter(self, bus, msg, incoming):
        """Answers every call to its objects itself, on GDBus's own thread (a slow answer holds up all)."""
        if incoming and msg.get_message_type() == Gio.DBusMessageType.METHOD_CALL and msg.get_path() in self.nodes:
            bus.send_message(self.reply(msg), Gio.DBusSendMessageFlags.NONE)
            return None
        return msg

    def reply(self, msg):
        path, member, params = msg.get_path(), msg.get_member(), msg.get_body().unpack() if msg.get_body() else ()
        method, n, slow = params[1] if member == "Get" else member, self.nodes[path], self.layout.get("slow")
        if slow and (ROOT + "/" + slow[0], slow[1]) == (path, method):
            del self.layout["slow"]
            time.sleep(slow[2] / 1000)  # the whole application is busy, as a real one would be
        if method not in REPLY or (method in TEXT_MEMBERS and "text" not in n) or (
                method == "GetSelection" and FOCUSED not in n["states"]):
            return msg.new_method_error_literal("org.freedesktop.DBus.Error.UnknownMethod", method)
        try:
            value = GLib.Variant(REPLY[method], self.answer(path, method, params))
        except ValueError as error:
            return msg.new_method_error_literal("org.freedesktop.DBus.Error.Failed", str(error))
        reply = msg.new_method_reply()
        reply.set_body(value if method == "GetSelection" else GLib.Variant.new_tuple(
            GLib.Variant("v", value) if member == "Get" else value))
        return reply


def main():
    die_with_parent()
    layout, bus = json.loads(sys.argv[1]), a11y_bus(os.environ)
    objects = Objects(layout, bus.get_unique_name())
    bus.add_filter(objects.filter)
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
