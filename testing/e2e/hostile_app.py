"""A fake AT-SPI application that lies: for the security tests, it serves what no toolkit would.

Usage: /usr/bin/python3 hostile_app.py LAYOUT_JSON   (run inside a headless session with a11y)

It connects to the accessibility bus, registers with the registry (Socket.Embed) and exports, over
plain GDBus, the Accessible, Text and Application interfaces for a handful of objects:
  root (application "hostile") -> frame (ACTIVE) -> liar (ChildCount 1000000; its children are the
                                                    frame again, a null reference or an error),
                                                 -> chain of LAYOUT["depth"] nested panels,
                                                 -> label (LAYOUT["label"]),
                                                 -> entry (FOCUSED, the text LAYOUT["text"]).
The entry answers GetSelection with LAYOUT["selection"] and CaretOffset with LAYOUT["caret"]. With
LAYOUT["slow"] = [object, method, ms] ("frame", "GetState", 450), the application is busy for ms
before its first answer to that method of that object (a slow answer, once). With
LAYOUT["listened"], the frame is ACTIVE only once some client has registered for an event, as
Chromium's is. With LAYOUT["unready"] = [ms, counted(, unselected)], the entry's text is not ready
until ms after its first Text read, as Firefox's: GetText answers "" and CharacterCount its length
if counted, else 0; if unselected, there is no selection nor caret either. With
LAYOUT["contenteditable"], the entry is an editable section, as Firefox's <div>. With
LAYOUT["liar"] = 0, the frame has no liar. With LAYOUT["paragraphs"], the liar is a focused panel
holding a document without a Text interface whose children are one paragraph object each, offsets
counted in UTF-16 units (as LibreOffice Writer's), paragraph LAYOUT["focus"] focused. Prints
"ready" once registered. Dies with its parent; SIGTERM ends it.
"""
import ctypes
import json
import signal
import sys
import time

from gi.repository import Gio, GLib

ROOT = "/org/a11y/atspi/accessible/root"
NULL = "/org/a11y/atspi/null"
FRAME, ENTRY, LABEL, LIAR = ROOT + "/frame", ROOT + "/entry", ROOT + "/label", ROOT + "/liar"
ROLE = {"application": 75, "frame": 23, "entry": 79, "label": 29, "panel": 39, "section": 85,
        "paragraph": 73, "document": 94}
ACTIVE, EDITABLE, FOCUSABLE, FOCUSED, SINGLE_LINE, SHOWING, VISIBLE = 1, 7, 11, 12, 25, 26, 30

XML = """<node>
<interface name="org.a11y.atspi.Accessible">
 <method name="GetChildAtIndex"><arg type="i" direction="in"/><arg type="(so)" direction="out"/></method>
 <method name="GetChildren"><arg type="a(so)" direction="out"/></method>
 <method name="GetRole"><arg type="u" direction="out"/></method>
 <method name="GetState"><arg type="au" direction="out"/></method>
 <method name="GetInterfaces"><arg type="as" direction="out"/></method>
 <method name="GetIndexInParent"><arg type="i" direction="out"/></method>
 <property name="Name" type="s" access="read"/>
 <property name="Description" type="s" access="read"/>
 <property name="Parent" type="(so)" access="read"/>
 <property name="ChildCount" type="i" access="read"/>
</interface>
<interface name="org.a11y.atspi.Text">
 <method name="GetText"><arg type="i" direction="in"/><arg type="i" direction="in"/><arg type="s" direction="out"/></method>
 <method name="GetSelection"><arg type="i" direction="in"/><arg type="i" direction="out"/><arg type="i" direction="out"/></method>
 <method name="GetNSelections"><arg type="i" direction="out"/></method>
 <property name="CaretOffset" type="i" access="read"/>
 <property name="CharacterCount" type="i" access="read"/>
</interface>
</node>"""


def states(*bits):
    words = [0, 0]
    for bit in bits:
        words[bit // 32] |= 1 << (bit % 32)
    return words


class Objects:
    def __init__(self, layout, name):
        self.layout = layout
        self.name = name
        depth = layout.get("depth", 0)
        chain = [ROOT + "/chain/%d" % i for i in range(depth)]
        self.nodes = {
            ROOT: {"role": "application", "name": "hostile", "children": [FRAME], "states": []},
            FRAME: {"role": "frame", "name": layout.get("title", "Hostile"),
                    "states": [SHOWING, VISIBLE] + ([] if layout.get("listened") else [ACTIVE]),
                    "children": [LIAR][:layout.get("liar", 1)] + chain[:1] + [LABEL, ENTRY]},
            ENTRY: {"role": "entry", "name": "", "text": layout.get("text", ""),
                    "states": [FOCUSED, FOCUSABLE, EDITABLE, SINGLE_LINE, SHOWING, VISIBLE], "children": []},
            LABEL: {"role": "label", "name": layout.get("label", ""), "text": layout.get("label", ""),
                    "states": [SHOWING, VISIBLE], "children": []},
            LIAR: {"role": "panel", "name": "", "states": [SHOWING, VISIBLE], "children": None},
        }
        if layout.get("contenteditable"):
            self.nodes[ENTRY].update(role="section", states=[FOCUSED, FOCUSABLE, EDITABLE, SHOWING, VISIBLE])
        self.ready_at = None
        kids = [ROOT + "/p/%d" % i for i in range(len(layout.get("paragraphs", [])))]
        if kids:
            self.nodes[ENTRY] = {"role": "document", "name": "", "states": [SHOWING, VISIBLE], "children": kids}
            # No liar to spend the walk's budget: a panel marked focused though not focusable, as
            # LibreOffice's, holds the document.
            self.nodes[LIAR] = {"role": "panel", "name": "", "states": [FOCUSED, SHOWING, VISIBLE], "children": [ENTRY]}
            self.nodes[FRAME]["children"] = [LIAR]
        for i, path in enumerate(kids):
            self.nodes[path] = {"role": "paragraph", "name": "", "text": layout["paragraphs"][i], "utf16": True,
                                "parent": ENTRY, "children": [], "states": [EDITABLE, SHOWING, VISIBLE] + (
                                    [FOCUSED] if i == layout.get("focus") else [])}
        for i, path in enumerate(chain):
            self.nodes[path] = {"role": "panel", "name": "", "states": [SHOWING, VISIBLE],
                                "children": chain[i + 1:i + 2]}

    def ref(self, path):
        return (self.name, path)

    def child_count(self, node):
        return 1000000 if node["children"] is None else len(node["children"])

    def child(self, node, index):
        if node["children"] is not None:
            if 0 <= index < len(node["children"]):
                return self.ref(node["children"][index])
            return ("", NULL)
        # The liar: an ancestor again, a null reference, or (raised) an error.
        if index % 3 == 0:
            return self.ref(FRAME)
        if index % 3 == 1:
            return ("", NULL)
        raise ValueError("no such child")

    def unready(self, path):
        # The first Text read of the entry starts the clock; until it runs out the text is "".
        if path != ENTRY or "unready" not in self.layout:
            return False
        if self.ready_at is None:
            self.ready_at = time.monotonic() + self.layout["unready"][0] / 1000
        return time.monotonic() < self.ready_at

    def method(self, conn, sender, path, iface, method, params, invocation):
        node = self.nodes.get(path)
        if node is None:
            invocation.return_dbus_error("org.freedesktop.DBus.Error.UnknownObject", path)
            return
        slow = self.layout.get("slow")
        if slow and (ROOT + "/" + slow[0], slow[1]) == (path, method):
            del self.layout["slow"]
            time.sleep(slow[2] / 1000)  # the whole application is busy, as a real one would be
        try:
            if method == "GetChildAtIndex":
                reply = GLib.Variant("((so))", (self.child(node, params.unpack()[0]),))
            elif method == "GetChildren":
                count = min(self.child_count(node), 50)
                kids = []
                for i in range(count):
                    try:
                        kids.append(self.child(node, i))
                    except ValueError:
                        pass
                reply = GLib.Variant("(a(so))", (kids,))
            elif method == "GetRole":
                reply = GLib.Variant("(u)", (ROLE[node["role"]],))
            elif method == "GetState":
                reply = GLib.Variant("(au)", (states(*node["states"]),))
            elif method == "GetInterfaces":
                names = ["org.a11y.atspi.Accessible"] + (["org.a11y.atspi.Text"] if "text" in node else [])
                reply = GLib.Variant("(as)", (names,))
            elif method == "GetIndexInParent":
                siblings = self.nodes[node.get("parent", FRAME)]["children"] or []
                reply = GLib.Variant("(i)", (siblings.index(path) if path in siblings else 0,))
            elif method == "GetText" and "text" in node:
                start, end = params.unpack()
                text = "" if self.unready(path) else node["text"]
                if node.get("utf16"):
                    text = text.encode("utf-16-le")[2 * max(0, start):None if end < 0 else 2 * end]
                    reply = GLib.Variant("(s)", (text.decode("utf-16-le", "replace"),))
                else:
                    reply = GLib.Variant("(s)", (text[max(0, start):] if end < 0 else text[max(0, start):end],))
            elif method == "GetSelection" and FOCUSED in node["states"]:
                hidden = self.unready(path) and self.layout["unready"][2:]
                reply = GLib.Variant("(ii)", (0, 0) if hidden else tuple(self.layout.get("selection", [0, 0])))
            elif method == "GetNSelections" and FOCUSED in node["states"]:
                reply = GLib.Variant("(i)", (1,))
            else:
                invocation.return_dbus_error("org.freedesktop.DBus.Error.UnknownMethod", method)
                return
        except ValueError as error:
            invocation.return_dbus_error("org.freedesktop.DBus.Error.Failed", str(error))
            return
        invocation.return_value(reply)

    def prop(self, conn, sender, path, iface, name):
        node = self.nodes.get(path)
        if node is None:
            return None
        if name == "Name":
            return GLib.Variant("s", node["name"])
        if name == "Description":
            return GLib.Variant("s", "")
        if name == "Parent":
            return GLib.Variant("(so)", ("", NULL) if path == ROOT else self.ref(node.get("parent", FRAME)))
        if name == "ChildCount":
            return GLib.Variant("i", self.child_count(node))
        if name == "CaretOffset":
            hidden = self.unready(path) and self.layout["unready"][2:]
            return GLib.Variant("i", -1 if hidden else self.layout.get("caret", 0))
        if name == "CharacterCount":
            text = node.get("text", "")
            counted = not self.unready(path) or self.layout["unready"][1]
            length = len(text.encode("utf-16-le")) // 2 if node.get("utf16") else len(text)
            return GLib.Variant("i", length if counted else 0)
        return None


def main():
    ctypes.CDLL("libc.so.6").prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG: die with the test
    layout = json.loads(sys.argv[1])
    session = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    address = session.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", None,
                                GLib.VariantType("(s)"), Gio.DBusCallFlags.NONE, 10000, None).unpack()[0]
    bus = Gio.DBusConnection.new_for_address_sync(
        address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
        None, None)
    objects = Objects(layout, bus.get_unique_name())
    info = Gio.DBusNodeInfo.new_for_xml(XML)
    for path in objects.nodes:
        for iface in info.interfaces:
            if iface.name == "org.a11y.atspi.Text" and "text" not in objects.nodes[path]:
                continue
            bus.register_object(path, iface, objects.method, objects.prop, None)
    bus.signal_subscribe(None, "org.a11y.atspi.Registry", "EventListenerRegistered", None, None,
                         Gio.DBusSignalFlags.NONE, lambda *_: objects.nodes[FRAME]["states"].append(ACTIVE))
    bus.call_sync("org.a11y.atspi.Registry", ROOT, "org.a11y.atspi.Socket", "Embed",
                  GLib.Variant("((so))", ((objects.name, ROOT),)), GLib.VariantType("((so))"),
                  Gio.DBusCallFlags.NONE, 10000, None)
    loop = GLib.MainLoop()
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, loop.quit)

    def listed():
        # Ready once the registry lists this application: the tools find it from then on.
        def done(conn, result):
            try:
                apps = conn.call_finish(result).unpack()[0]
            except GLib.Error:
                apps = []
            if any(name == objects.name for name, _ in apps):
                print("ready", flush=True)
            else:
                GLib.timeout_add(50, listed)
        bus.call("org.a11y.atspi.Registry", ROOT, "org.a11y.atspi.Accessible", "GetChildren", None,
                 GLib.VariantType("(a(so))"), Gio.DBusCallFlags.NONE, 10000, None, done)
        return False

    listed()
    loop.run()


if __name__ == "__main__":
    main()
