"""The Linux accessibility layer against a real GTK application on a headless AT-SPI session.

Each case runs axprobe (tests/axprobe.cc), which calls the layer the way the tools do and prints
JSON; the fixture's window content is chosen per case.
"""
import json
import subprocess
import sys
import time
import unittest

from harness import Fixture, HeadlessSession, SilentBus, run_tool, SessionTestCase

EMOJI = "\U0001F600"
TEXT = "Hello " + EMOJI + " wo\u0308rld\r\nline two"  # an emoji, a combining mark, CR LF
WIDGETS = [
    {"type": "textview", "id": "notes", "text": TEXT},
    {"type": "entry", "id": "name", "text": "single line"},
    {"type": "password", "id": "secret", "text": "hunter2"},
    {"type": "label", "text": "A static label"},
    {"type": "button", "label": "Press"},
    {"type": "check", "label": "Tick"},
    {"type": "combo", "items": ["one", "two"]},
    {"type": "spin", "value": 7},
    {"type": "scroll", "child": {"type": "label", "text": "Scrolled label"}},
]


def probe(session, *args, env=None, timeout=60):
    result = run_tool(session, "axprobe", *args, env=env, timeout=timeout)
    assert not result.timed_out, result
    assert result.returncode == 0, result
    lines = result.json_lines()
    assert len(lines) == 1, result
    return lines[0], result


class LiveSession(SessionTestCase):
    def fixture(self, focus="notes", **extra):
        desc = {"name": "fixture-app", "title": "Main window",
                "root": {"type": "box", "children": WIDGETS}, "focus": focus}
        desc.update(extra)
        return Fixture(self.session, desc)

    def test_trusted_in_a_live_session(self):
        with self.fixture():
            out, _ = probe(self.session, "trust")
        self.assertTrue(out["trusted"])

    def test_every_mapped_role_and_value(self):
        with self.fixture():
            out, _ = probe(self.session, "tree")
        nodes = [(n["role"], n["value"]) for n in out["nodes"]]
        expected = [
            ("AXWindow", None), ("AXGroup", None), ("AXTextArea", TEXT), ("AXTextField", "single line"),
            ("AXTextField", None),  # the password entry: neither its text nor its bullets
            ("AXStaticText", "A static label"), ("AXButton", None), ("AXCheckBox", None),
            ("AXComboBox", None), ("AXMenuItem", None), ("AXMenuItem", None), ("AXTextField", "7"),
            ("AXScrollArea", None), ("AXGroup", None), ("AXStaticText", "Scrolled label"),
        ]
        without_unknown = [n for n in nodes if n[0] != "AXUnknown"]
        for row in expected:
            self.assertIn(row, without_unknown)
        # Order is the tree's pre-order: the window first, its box next, the text view after.
        self.assertEqual(without_unknown[:4], expected[:4])
        self.assertNotIn("hunter2", json.dumps(out))
        self.assertNotIn("\u25cf", json.dumps(out, ensure_ascii=False))

    def test_focused_text_and_selection_in_utf16_units(self):
        # Characters 7..9 are " w" after "Hello " and the emoji: UTF-16 puts them at 8..10.
        with self.fixture(selection=[7, 9]):
            out, _ = probe(self.session, "focus")
        self.assertEqual(out["role"], "AXTextArea")
        self.assertEqual(out["value"], TEXT)
        self.assertEqual(out["range"], [8, 2])

    def test_caret_after_emoji_is_a_two_unit_shift(self):
        with self.fixture(caret=11):  # after "Hello 😀 wo" and its combining diaeresis
            out, _ = probe(self.session, "focus")
        self.assertEqual(out["range"], [12, 0])

    def test_caret_in_single_line_entry(self):
        with self.fixture(focus="name", caret=6):
            out, _ = probe(self.session, "focus")
        self.assertEqual((out["role"], out["value"], out["range"]), ("AXTextField", "single line", [6, 0]))

    def test_focus_inside_a_crowded_container(self):
        # A box of more than 64 children is searched by the application (Collection), not read here.
        crowd = [{"type": "label", "text": "Row %d" % i} for i in range(150)]
        crowd.insert(120, {"type": "entry", "id": "deep", "text": "deep " + EMOJI + " field"})
        desc = {"name": "crowd", "root": {"type": "box", "children": [
            {"type": "button", "label": "First"}, {"type": "box", "children": crowd}]},
            "focus": "deep", "selection": [5, 7]}
        with Fixture(self.session, desc):
            out, _ = probe(self.session, "focus")
        self.assertEqual((out["role"], out["value"], out["range"]), ("AXTextField", "deep " + EMOJI + " field", [5, 3]))

    def test_password_entry_yields_no_text_and_no_range(self):
        with self.fixture(focus="secret", caret=3):
            out, result = probe(self.session, "focus")
        self.assertTrue(out["found"])
        self.assertEqual(out["role"], "AXTextField")
        self.assertIsNone(out["value"])
        self.assertIsNone(out["range"])
        self.assertNotIn(b"hunter2", result.stdout)

    def test_frontmost_windows_and_system_wide_application(self):
        with self.fixture(windows=[{"title": "Second window"}]) as app:
            out, _ = probe(self.session, "windows")
        self.assertEqual(out["frontmost"], {"bundleId": "fixture-app", "pid": app.pid})
        self.assertEqual((out["appRole"], out["appTitle"]), ("AXApplication", "fixture-app"))
        self.assertEqual(out["focusedWindow"], {"role": "AXWindow", "title": "Main window"})
        self.assertCountEqual(out["windows"], [{"role": "AXWindow", "title": "Main window"},
                                               {"role": "AXWindow", "title": "Second window"}])
        self.assertEqual(out["systemRole"], "AXSystemWide")
        self.assertEqual(out["systemApp"], {"role": "AXApplication", "title": "fixture-app"})

    def test_frozen_application_fails_reads_within_the_timeout(self):
        with self.fixture() as app:
            app.freeze()
            try:
                out, result = probe(self.session, "focus", timeout=30)
                windows, _ = probe(self.session, "windows", timeout=30)
            finally:
                app.thaw()
            # Still alive and answering once thawed.
            after, _ = probe(self.session, "focus")
        self.assertIsNone(out["frontmost"])
        self.assertFalse(out["found"])
        # One call timeout (300 ms) for the frozen application, then it is skipped.
        self.assertLess(out["totalMs"], 1500, result)
        self.assertEqual(windows["windows"], [])
        self.assertEqual(after["value"], TEXT)

    def test_large_window_focus_reads_and_responsiveness(self):
        # Measurements for the report: printed, not asserted (speed targets live in bench/).
        desc_widgets = WIDGETS + [{"type": "labels", "count": 4000}]
        for where, children in (("before", desc_widgets), ("after", [desc_widgets[-1]] + WIDGETS)):
            desc = {"name": "big", "root": {"type": "box", "children": children}, "focus": "notes", "caret": 0}
            with Fixture(self.session, desc) as app:
                app.longest_gap_ms()
                out, _ = probe(self.session, "focus", "200")
                gap = app.longest_gap_ms()
                walk, _ = probe(self.session, "count")
                walk_gap = app.longest_gap_ms()
            self.assertEqual((out["role"], out["value"]), ("AXTextArea", TEXT))
            self.assertEqual(out["readsOk"], 200)
            # The walk's length depends on the machine's speed; the step watchdog (8 s) bounds it.
            self.assertGreater(walk["count"], 100)
            self.assertLess(walk["ms"], 8000 + 2000)
            print("\n  focus %s 4000 labels: found+read %.1f ms, %.3f ms per value read, UI gap %.1f ms;"
                  " walk of %d elements %.0f ms, UI gap %.1f ms"
                  % (where, out["ms"], out["readMs"], gap, walk["count"], walk["ms"], walk_gap),
                  file=sys.stderr)


class NoAccessibilityBus(unittest.TestCase):
    def test_request_trust_enables_the_accessibility_status(self):
        def enabled(env):
            return subprocess.run(
                ["gdbus", "call", "--session", "-d", "org.a11y.Bus", "-o", "/org/a11y/bus", "-m",
                 "org.freedesktop.DBus.Properties.Get", "org.a11y.Status", "IsEnabled"],
                env=env, capture_output=True, text=True, timeout=30).stdout.strip()

        # Each session keeps its settings in memory, so this starts from "disabled".
        with HeadlessSession(a11y=False) as session:
            self.assertEqual(enabled(session.env), "(<false>,)")
            out, _ = probe(session, "request-trust")
            self.assertTrue(out["requested"])
            self.assertEqual(enabled(session.env), "(<true>,)")

    def test_untrusted_within_100ms_when_the_bus_is_missing(self):
        with HeadlessSession(a11y=False) as session:
            for variable in ("DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS"):
                env = dict(session.env)
                env.pop("AT_SPI_BUS_ADDRESS", None)
                env[variable] = "unix:path=/nonexistent/bus-socket"
                out, _ = probe(session, "trust", env=env)
                self.assertFalse(out["trusted"], variable)
                self.assertLess(out["ms"], 100, variable)

    def test_silent_bus_cannot_hang_the_caller(self):
        with HeadlessSession(a11y=False) as session, SilentBus() as silent:
            for variable in ("DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS"):
                env = dict(session.env)
                env[variable] = silent.address
                for command in ("trust", "request-trust", "focus", "windows", "count"):
                    start = time.monotonic()
                    out, result = probe(session, command, env=env, timeout=30)
                    # Each connection attempt gives up at its timeout; nothing waits for ever.
                    self.assertLess(time.monotonic() - start, 5, (variable, command, result))
                    if command == "trust":
                        self.assertFalse(out["trusted"])
                    if command == "focus":
                        self.assertIsNone(out["frontmost"])


if __name__ == "__main__":
    unittest.main()
