"""panescan end to end: the collected text and the summary line for a GTK fixture window."""
import re
import unittest

from harness import Fixture, HeadlessSession, run_tool, SessionTestCase
from test_security import HostileApplication

TOOL_TIMEOUT_S = 60
NOT_TRUSTED = "panescan: NOT trusted for Accessibility \u2014 grant it in System Settings\n"


class PanescanTest(SessionTestCase):
    def scan(self):
        result = run_tool(self.session, "panescan", timeout=TOOL_TIMEOUT_S)
        self.assertFalse(result.timed_out, result)
        self.assertEqual(result.returncode, 0, result)
        return result

    def test_window_of_labels(self):
        long_texts = ["The first label is long enough to count.",
                      "Second label: caf\u00e9, na\u00efve and \U0001F600 too!"]
        short_texts = ["Short one", "exactly twenty-four char"]  # 9 and 24 characters
        desc = {"name": "labelfixture",
                "root": {"type": "box", "children": [
                    {"type": "label", "text": long_texts[0]},
                    {"type": "label", "text": short_texts[0]},
                    {"type": "label", "text": short_texts[1]},
                    {"type": "label", "text": long_texts[1]}]},
                "windows": [{"title": "Other", "root": {"type": "label",
                                                        "text": "A label in a window that is not focused."}}]}
        with Fixture(self.session, desc):
            result = self.scan()
        collected = "".join(t + "\n\n" for t in long_texts)
        # The window, its box and the four labels.
        summary = "panescan: trusted=true app=labelfixture nodes=6 textAreas=2 chars=%d\n" % len(collected)
        self.assertEqual(result.stderr.decode("utf-8"), summary)
        self.assertEqual(result.stdout.decode("utf-8"), collected)

    def test_frozen_application_ends_with_a_summary(self):
        desc = {"root": {"type": "label", "text": "A label that nobody will read in time."}}
        with Fixture(self.session, desc) as app:
            app.freeze()
            try:
                result = self.scan()
            finally:
                app.thaw()
        lines = result.stderr.decode("utf-8").splitlines()
        self.assertIn(len(lines), (1, 2), result)
        self.assertTrue(lines[-1].startswith("panescan: trusted=true app="), result)
        print("\npanescan against a frozen application: %r in %.2f s" % (lines[-1], result.seconds))

    def test_4000_label_window_walk_and_timing(self):
        desc = {"name": "big", "root": {"type": "labels", "count": 4000}}
        with Fixture(self.session, desc):
            result = self.scan()
        # The labels are short, so nothing is collected. How far the walk gets also depends on the
        # platform's time budget for one run on a loaded machine, so only the ceiling is asserted
        # here; the element budget itself is pinned by the unit tests.
        match = re.fullmatch(r"panescan: trusted=true app=big nodes=(\d+) textAreas=0 chars=0\n",
                             result.stderr.decode("utf-8"))
        self.assertIsNotNone(match, result)
        nodes = int(match.group(1))
        self.assertTrue(0 < nodes <= 4000, result)
        self.assertEqual(result.stdout, b"")
        print("\npanescan over a 4000-label window: nodes=%d in %.3f s" % (nodes, result.seconds))

    def test_character_budget_cuts_standard_output(self):
        prefix = "A label long enough to be collected, number "
        desc = {"name": "budget", "root": {"type": "labels", "count": 600, "prefix": prefix}}
        with Fixture(self.session, desc):
            result = self.scan()
        # Values are appended until the running text reaches 16000 characters; the last one may
        # carry it past, and the summary counts it all.
        collected = ""
        labels = 0
        while len(collected) < 16000:
            collected += "%s%d\n\n" % (prefix, labels)
            labels += 1
        self.assertEqual(result.stderr.decode("utf-8"),
                         "panescan: trusted=true app=budget nodes=%d textAreas=%d chars=%d\n"
                         % (labels + 2, labels, len(collected)))
        self.assertEqual(result.stdout.decode("utf-8"), collected[:16000])


class PanescanWithoutAccessibilityBusTest(unittest.TestCase):
    def test_not_trusted_line_only(self):
        with HeadlessSession(a11y=False) as session:
            result = run_tool(session, "panescan", timeout=TOOL_TIMEOUT_S)
        self.assertEqual(result.returncode, 0, result)
        self.assertEqual(result.stderr.decode("utf-8"), NOT_TRUSTED)
        self.assertEqual(result.stdout, b"")


class ActiveOnceListenedTest(unittest.TestCase):
    def test_window_active_only_once_a_client_listens_is_found(self):
        # As Chromium's: no window is active until some client registers for an event.
        with HeadlessSession() as session:
            app = HostileApplication(session, {"listened": True})
            try:
                result = run_tool(session, "panescan", timeout=TOOL_TIMEOUT_S)
            finally:
                app.close()
        self.assertRegex(result.stderr.decode(), r"panescan: trusted=true app=hostile ", result)


if __name__ == "__main__":
    unittest.main()
