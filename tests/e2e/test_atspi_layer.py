"""The Linux accessibility layer against a real GTK application on a headless AT-SPI session.

axprobe (testing/axprobe.cc) calls the layer the way the tools do and prints JSON.
"""
import subprocess
import unittest

from harness import Fixture, HeadlessSession, SessionTestCase, probe

EMOJI = "\U0001F600"
TEXT = "Hello " + EMOJI + " wo\u0308rld\r\nline two"  # an emoji, a combining mark, CR LF
WIDGETS = [
    {"type": "textview", "id": "notes", "text": TEXT}, {"type": "entry", "id": "name", "text": "single line"},
    {"type": "password", "text": "hunter2"}, {"type": "label", "text": "A static label"},
    {"type": "button", "label": "Press"}, {"type": "check", "label": "Tick"}, {"type": "combo", "items": ["one", "two"]},
    {"type": "spin", "value": 7}, {"type": "scroll", "child": {"type": "label", "text": "Scrolled label"}},
    {"type": "textview", "text": "read-only view", "editable": False},
    {"type": "combo", "items": ["one", "two"], "entry": True},
    {"type": "box", "vertical": False, "children": [{"type": "label", "text": "nested %d" % i} for i in range(40)]},
    {"type": "scroll", "child": {"type": "labels", "count": 300, "prefix": "Row "}},
    {"type": "label", "text": "The last label, after the long list"},
]
# In the tree's pre-order: the window, its box, the text view and the entry come first.
ROLES = [("AXWindow", None), ("AXGroup", None), ("AXTextArea", TEXT), ("AXTextField", "single line"),
         ("AXTextField", None),  # the password entry: neither its text nor its bullets
         ("AXStaticText", "A static label"), ("AXButton", None), ("AXCheckBox", None), ("AXComboBox", None),
         ("AXMenuItem", None), ("AXTextField", "7"), ("AXScrollArea", None), ("AXTextArea", "read-only view")]
CROWD = [{"type": "label", "text": "Row %d" % i} for i in range(150)]
CROWD.insert(120, {"type": "entry", "id": "deep", "text": "deep " + EMOJI + " field"})
# The focused text and its range in UTF-16 units, where the emoji counts two.
FOCUSED = [
    ({"focus": "notes", "caret": 11}, ("AXTextArea", TEXT, [12, 0])),  # after "Hello 😀 wo" and its accent
    ({"focus": "name", "caret": 6}, ("AXTextField", "single line", [6, 0])),
    # A box of more than 64 children is searched by the application (Collection), not read here.
    ({"root": {"type": "box", "children": [{"type": "button", "label": "First"}, {"type": "box", "children": CROWD}]},
      "focus": "deep", "selection": [5, 7]}, ("AXTextField", "deep " + EMOJI + " field", [5, 3])),
]
# A freeze guard, not the speed target (make bench): reading a box's children in one call or the
# whole tree stalls GTK for 600 ms and more, while a loaded machine alone may stretch a gap past 50.
MAX_UI_GAP_MS = 300


class LayerTest(SessionTestCase):
    def window(self, **desc):
        return Fixture(self.session, dict({"name": "fixture-app", "title": "Main window",
                                           "root": {"type": "box", "children": WIDGETS}}, **desc))

    def test_window(self):
        with self.window(focus="notes", selection=[7, 9], windows=[{"title": "Second window"}]) as app:
            trust, focus, windows = (probe(self.session, command) for command in ("trust", "focus", "windows"))
            # Walks that hint each element's children to the layer first read what plain walks read.
            walks = {(command, limit): probe(self.session, command, limit)
                     for command in ("tree", "tree-ahead") for limit in (100000, 60, 5)}
        self.assertTrue(trust["trusted"])
        self.assertEqual([focus[k] for k in ("role", "value", "range")], ["AXTextArea", TEXT, [8, 2]])
        windows["windows"].sort(key=lambda w: w["title"])
        self.assertEqual(windows, dict(windows, frontmost={"bundleId": "fixture-app", "pid": app.pid}, appRole="AXApplication",
                         appTitle="fixture-app", focusedWindow={"role": "AXWindow", "title": "Main window"},
                         windows=[{"role": "AXWindow", "title": t} for t in ("Main window", "Second window")],
                         systemRole="AXSystemWide", systemApp={"role": "AXApplication", "title": "fixture-app"}))
        for limit in (100000, 60, 5):
            self.assertEqual(walks["tree-ahead", limit]["nodes"], walks["tree", limit]["nodes"], limit)
        nodes = [(n["role"], n["value"]) for n in walks["tree", 100000]["nodes"] if n["role"] != "AXUnknown"]
        self.assertEqual(nodes[:4], ROLES[:4])
        self.assertEqual([r for r in ROLES if r not in nodes], [])
        values = [v for _, v in nodes]
        self.assertEqual([v for v in values if v and v.startswith("Row ")], ["Row %d" % i for i in range(300)])
        self.assertEqual(values[-1], WIDGETS[-1]["text"])
        self.assertEqual(walks["tree", 5]["count"], 5)

    def test_focused_text_in_utf16_units(self):
        for desc, expected in FOCUSED:
            with self.subTest(expected=expected), self.window(**desc):
                out = probe(self.session, "focus")
            self.assertEqual((out["role"], out["value"], out["range"]), expected)

    def test_4000_labels_are_read_without_freezing_the_application(self):
        with Fixture(self.session, {"name": "big", "root": {"type": "labels", "count": 4000}}) as app:
            app.longest_gap_ms()
            ahead = probe(self.session, "count-ahead", 100000)
            gap = app.longest_gap_ms()
        self.assertEqual(ahead["count"], 4002)  # the window, its box and the labels
        self.assertLess(gap, MAX_UI_GAP_MS)

    def test_request_trust_enables_the_accessibility_status(self):
        # Each session keeps its settings in memory, so this starts from "disabled".
        with HeadlessSession(a11y=False) as session:
            def enabled():
                return subprocess.run(["gdbus", "call", "--session", "-d", "org.a11y.Bus", "-o", "/org/a11y/bus", "-m",
                                       "org.freedesktop.DBus.Properties.Get", "org.a11y.Status", "IsEnabled"],
                                      env=session.env, capture_output=True, text=True, timeout=30).stdout.strip()
            self.assertEqual(enabled(), "(<false>,)")
            self.assertTrue(probe(session, "request-trust")["requested"])
            self.assertEqual(enabled(), "(<true>,)")


if __name__ == "__main__":
    unittest.main()
