"""selprobe end to end: the one JSON line it prints for a GTK fixture in a headless session."""
import json
import time
import unittest

from harness import BusMonitor, Fixture, HeadlessSession, SilentBus, run_tool, SessionTestCase

# Generous: a loaded 2-core CI machine; the tool itself is bounded by the platform's watchdog.
TOOL_TIMEOUT_S = 60


class SelprobeTest(SessionTestCase):
    def probe(self, env=None):
        """Runs selprobe and returns its one object; fails unless the run kept every rule."""
        result = run_tool(self.session, "selprobe", timeout=TOOL_TIMEOUT_S, env=env)
        self.assertFalse(result.timed_out, result)
        self.assertEqual(result.returncode, 0, result)
        self.assertEqual(result.stderr, b"", result)
        self.assertTrue(result.stdout.endswith(b"\n"), result)
        self.assertEqual(result.stdout.count(b"\n"), 1, result)
        return json.loads(result.stdout.decode("utf-8")), result

    def test_selection_between_emoji_and_combining_marks(self):
        before = "Cafe\u0301 au lait \U0001F600 and "
        selected = "the cho\u0301sen words"
        after = " \U0001F44D\U0001F3FD nai\u0308ve end"
        desc = {"root": {"type": "box", "children": [
                    {"type": "textview", "id": "notes", "text": before + selected + after}]},
                "focus": "notes", "selection": [len(before), len(before) + len(selected)]}
        with Fixture(self.session, desc):
            obj, _ = self.probe()
        self.assertEqual(obj, {"ok": True, "role": "AXTextArea", "before": before,
                               "selected": selected, "after": after, "truncated": False})

    def test_each_question_is_asked_once(self):
        # selprobe runs at the moment the user speaks: a read repeated on the way (the window's
        # states by the frontmost search and again by the focus search, the text for the value
        # and again for the selection) is a round trip the user waits for.
        desc = {"root": {"type": "box", "children": [
                    {"type": "label", "text": "Name"},
                    {"type": "entry", "id": "e", "text": "hello world"}]},
                "focus": "e", "caret": 5}
        with Fixture(self.session, desc), BusMonitor(self.session) as monitor:
            obj, _ = self.probe()
            calls = monitor.calls()
        self.assertEqual(obj["before"], "hello", obj)
        members = [c[3] for c in calls]
        for read in ("GetState", "GetRole", "GetText", "GetSelection"):
            self.assertIn(read, members)
        repeated = sorted({c for c in calls if calls.count(c) > 1})
        self.assertEqual(repeated, [], calls)

    def test_601_characters_before_the_caret_are_cut_and_flagged(self):
        text = "y" + "x" * 600 + "tail"
        desc = {"root": {"type": "box", "children": [{"type": "entry", "id": "e", "text": text}]},
                "focus": "e", "caret": 601}
        with Fixture(self.session, desc):
            obj, _ = self.probe()
        self.assertEqual(obj["role"], "AXTextField")
        self.assertEqual(obj["before"], "x" * 600)
        self.assertIs(obj["truncated"], True)
        self.assertEqual(obj["after"], "tail")

    def test_password_entry_gives_no_value(self):
        desc = {"root": {"type": "box", "children": [
                    {"type": "password", "id": "pw", "text": "hunter2-secret"}]},
                "focus": "pw", "caret": 3}
        with Fixture(self.session, desc):
            obj, result = self.probe()
        self.assertEqual(obj, {"ok": False, "reason": "no-value"})
        self.assertNotIn(b"hunter2", result.stdout)

    def test_no_application_window_gives_no_frontmost(self):
        # A fixture started and stopped first leaves the registry running and no application.
        with Fixture(self.session, {"name": "gone"}):
            pass
        obj, _ = self.probe()
        self.assertEqual(obj, {"ok": False, "reason": "no-frontmost"})

    def test_frozen_application_still_ends_with_one_line(self):
        desc = {"root": {"type": "box", "children": [{"type": "entry", "id": "e", "text": "frozen"}]},
                "focus": "e", "caret": 2}
        with Fixture(self.session, desc) as app:
            app.freeze()
            try:
                obj, result = self.probe()
            finally:
                app.thaw()
        self.assertIs(obj["ok"], False, obj)
        self.assertIn(obj["reason"], ("no-frontmost", "no-focused-element", "no-value", "no-caret"))
        print("\nselprobe against a frozen application: %s in %.2f s" % (obj["reason"], result.seconds))

    def test_4000_label_window_timing(self):
        desc = {"root": {"type": "box", "children": [
                    {"type": "entry", "id": "e", "text": "focused text"},
                    {"type": "labels", "count": 4000}]},
                "focus": "e", "caret": 7}
        with Fixture(self.session, desc):
            obj, result = self.probe()
        self.assertEqual(obj["before"], "focused")
        print("\nselprobe with a 4000-label window open: %.3f s" % result.seconds)


class SelprobeWithoutAccessibilityBusTest(unittest.TestCase):
    def test_no_accessibility_bus_gives_not_trusted(self):
        with HeadlessSession(a11y=False) as session:
            result = run_tool(session, "selprobe", timeout=TOOL_TIMEOUT_S)
        self.assertEqual(result.returncode, 0, result)
        self.assertEqual(result.stderr, b"", result)
        self.assertEqual(json.loads(result.stdout), {"ok": False, "reason": "not-trusted"})
        self.assertEqual(result.stdout.count(b"\n"), 1, result)

    def test_silent_session_bus_gives_not_trusted_in_bounded_time(self):
        with HeadlessSession(a11y=False) as session, SilentBus() as bus:
            env = dict(session.env, DBUS_SESSION_BUS_ADDRESS=bus.address)
            result = run_tool(session, "selprobe", timeout=TOOL_TIMEOUT_S, env=env)
        self.assertFalse(result.timed_out, result)
        self.assertEqual(result.stderr, b"", result)
        self.assertEqual(json.loads(result.stdout), {"ok": False, "reason": "not-trusted"})
        print("\nselprobe with a silent session bus: %.2f s" % result.seconds)


class SelprobeInAFreshSessionTest(unittest.TestCase):
    def test_bus_without_registry_is_trusted_with_no_application(self):
        # No application has started the registry yet: the bus answering is the trust. Asked again
        # while the bus launcher is still starting.
        with HeadlessSession() as session:
            deadline = time.monotonic() + 5
            while True:
                result = run_tool(session, "selprobe", timeout=TOOL_TIMEOUT_S)
                if b"not-trusted" not in result.stdout or time.monotonic() > deadline:
                    break
                time.sleep(0.1)
        self.assertEqual(json.loads(result.stdout), {"ok": False, "reason": "no-frontmost"})


if __name__ == "__main__":
    unittest.main()
