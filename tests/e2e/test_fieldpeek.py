"""fieldpeek end to end: its JSON poll lines and done line for a GTK fixture in a headless session."""
import json
import os
import select
import subprocess
import time
import unittest

from harness import Fixture, SessionTestCase, run_tool, tool_path

# Generous for a loaded 2-core CI machine; every fieldpeek run is bounded by its own deadline.
TOOL_TIMEOUT_S = 90
DONE = b"fieldpeek: done polls="


def done_counts(stderr):
    """(polls, withText) from the one done line, which must be all of standard error."""
    text = stderr.decode("utf-8")
    lines = text.split("\n")
    assert len(lines) == 2 and lines[1] == "", "one line expected on stderr: %r" % text
    words = dict(word.split("=") for word in lines[0].split()[2:])
    return int(words["polls"]), int(words["withText"])


class FieldpeekTest(SessionTestCase):
    def peek(self, *args, env=None):
        """Runs fieldpeek and returns its parsed lines; fails unless the run kept every rule."""
        result = run_tool(self.session, "fieldpeek", *args, timeout=TOOL_TIMEOUT_S, env=env)
        self.assertFalse(result.timed_out, result)
        self.assertEqual(result.returncode, 0, result)
        self.assertTrue(result.stderr.startswith(DONE), result)
        lines = result.json_lines()
        polls, with_text = done_counts(result.stderr)
        self.assertEqual(polls, len(lines), result)
        self.assertEqual(with_text, sum(1 for line in lines if line["texts"]), result)
        for line in lines:
            self.assertEqual(sorted(line), ["role", "texts"], result)
        return lines, result

    def test_one_poll_prints_exactly_one_json_line(self):
        desc = {"root": {"type": "box", "children": [{"type": "entry", "id": "e", "text": "x"}]},
                "focus": "e"}
        with Fixture(self.session, desc):
            lines, result = self.peek(120, 120)
        self.assertEqual(result.stdout.count(b"\n"), 1, result)
        self.assertTrue(result.stdout.endswith(b"\n"), result)
        self.assertEqual(len(lines), 1)

    def test_focused_entry_gives_its_own_short_value(self):
        desc = {"root": {"type": "box", "children": [
                    {"type": "entry", "id": "e", "text": "hi"},
                    {"type": "label", "text": "a label that must not appear"}]},
                "focus": "e"}
        with Fixture(self.session, desc):
            lines, result = self.peek(120, 120)
        self.assertEqual(lines, [{"role": "AXTextField", "texts": ["hi"]}], result)
        self.assertEqual(result.stderr, b"fieldpeek: done polls=1 withText=1\n")

    def test_focused_button_gives_its_role_and_the_window_texts(self):
        desc = {"root": {"type": "box", "children": [
                    {"type": "label", "text": "Save changes?"},
                    {"type": "textview", "id": "notes", "text": "Meeting notes\nsecond line"},
                    {"type": "button", "id": "ok", "label": "OK"}]},
                "focus": "ok"}
        with Fixture(self.session, desc):
            lines, result = self.peek(120, 120)
        self.assertEqual(len(lines), 1, result)
        line = lines[0]
        self.assertEqual(line["role"], "AXButton", result)
        texts = line["texts"]
        self.assertGreaterEqual(len(texts), 3, result)
        # The combined text first (in tree order), then the single texts longest first.
        self.assertIn("Save changes?", texts[0])
        self.assertIn("Meeting notes\nsecond line", texts[0])
        self.assertLess(texts[0].index("Save changes?"), texts[0].index("Meeting notes"))
        singles = texts[1:]
        self.assertIn("Meeting notes\nsecond line", singles)
        self.assertIn("Save changes?", singles)
        self.assertEqual([len(t) for t in singles], sorted((len(t) for t in singles), reverse=True))
        self.assertNotIn("OK", singles)  # a button is not a text role, and two letters are too few

    def test_no_accessibility_bus_is_not_trusted(self):
        env = dict(self.session.env)
        # A bus address nothing listens on: neither the session bus nor the accessibility bus answers.
        env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=/nonexistent/fieldpeek-test-bus"
        env["AT_SPI_BUS_ADDRESS"] = "unix:path=/nonexistent/fieldpeek-test-a11y"
        result = run_tool(self.session, "fieldpeek", 120, 120, timeout=TOOL_TIMEOUT_S, env=env)
        self.assertFalse(result.timed_out, result)
        self.assertEqual(result.returncode, 0, result)
        self.assertEqual(result.stdout, b"", result)
        self.assertEqual(result.stderr,
                         "fieldpeek: not trusted for Accessibility \u2014 nothing to do\n".encode("utf-8"))

    def test_lines_reach_a_pipe_as_each_poll_ends(self):
        desc = {"root": {"type": "box", "children": [{"type": "entry", "id": "e", "text": "live"}]},
                "focus": "e"}
        with Fixture(self.session, desc):
            proc = subprocess.Popen([tool_path("fieldpeek"), "200", "60000"], env=self.session.env,
                                    stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE)
            try:
                got = b""
                deadline = time.monotonic() + 45
                while got.count(b"\n") < 2 and time.monotonic() < deadline:
                    ready, _, _ = select.select([proc.stdout], [], [], 1.0)
                    if ready:
                        chunk = os.read(proc.stdout.fileno(), 65536)
                        if not chunk:
                            break
                        got += chunk
                # Two whole lines arrived while the run (60 s) still goes on.
                self.assertIsNone(proc.poll(), "fieldpeek ended early")
                self.assertGreaterEqual(got.count(b"\n"), 2, got)
                for raw in got.split(b"\n")[:2]:
                    self.assertEqual(json.loads(raw), {"role": "AXTextField", "texts": ["live"]})
            finally:
                proc.terminate()
                proc.communicate(timeout=30)

    def test_frozen_application_still_ends_by_the_deadline(self):
        desc = {"root": {"type": "box", "children": [{"type": "entry", "id": "e", "text": "frozen"}]},
                "focus": "e"}
        with Fixture(self.session, desc) as app:
            app.freeze()
            try:
                lines, result = self.peek(300, 3000)
            finally:
                app.thaw()
        # The deadline, one pause and the platform's call timeouts; generous for a loaded machine.
        self.assertLess(result.seconds, 3.0 + 0.3 + 15.0, result)
        # A frozen application costs at most one call timeout per poll, so the run keeps polling.
        self.assertGreaterEqual(len(lines), 2, result)
        for line in lines:
            self.assertNotEqual(line["texts"], ["frozen"], result)
        print("\nfieldpeek 300 3000 against a frozen application: %d polls in %.2f s"
              % (len(lines), result.seconds))

    def test_one_poll_over_4000_labels(self):
        desc = {"root": {"type": "box", "children": [
                    {"type": "button", "id": "b", "label": "Go"},
                    {"type": "scroll", "child": {"type": "labels", "count": 4000, "prefix": "Label "}}]},
                "focus": "b"}
        with Fixture(self.session, desc):
            lines, result = self.peek(120, 120)
        self.assertEqual(len(lines), 1, result)
        self.assertEqual(lines[0]["role"], "AXButton", result)
        texts = lines[0]["texts"]
        self.assertEqual(len(texts), 11, result)
        # The combined text is cut to 20000 characters, in tree order.
        self.assertTrue(texts[0].startswith("Label 0\nLabel 1\n"), texts[0][:100])
        self.assertEqual(len(texts[0]), 20000)
        # The ten longest labels, equal lengths in tree order: the first four-digit ones.
        self.assertEqual(texts[1:], ["Label %d" % i for i in range(1000, 1010)])
        print("\nfieldpeek 120 120 over 4000 labels: %.3f s for the whole run" % result.seconds)


if __name__ == "__main__":
    unittest.main()
