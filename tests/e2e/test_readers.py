"""The readers end to end: what selprobe, fieldpeek and panescan print for GTK 3 fixture windows and
for windows of real toolkits (GTK 4, Qt 5)."""
import json
import unittest

from harness import BusMonitor, Fixture, SessionTestCase, reader_output, run_tool

BEFORE, SELECTED, AFTER = "Cafe\u0301 au lait \U0001F600 and ", "the cho\u0301sen words", " \U0001F44D\U0001F3FD nai\u0308ve end"


def entry(text, caret, *siblings):
    return {"root": {"type": "box", "children": [*siblings, {"type": "entry", "id": "e", "text": text}]},
            "focus": "e", "caret": caret}


def selection(before, selected, after, role, truncated=False):
    return {"ok": True, "role": role, "before": before, "selected": selected, "after": after, "truncated": truncated}


# A document of paragraph objects counting UTF-16 units (LibreOffice Writer's), "here" selected.
DOC = ["Premi\u00e8re ligne avec caf\u00e9.", "Second line has an emoji \U0001F600 here and more.",
       "\u7b2c\u4e09\u884c\u662f\u4e2d\u6587\u6587\u672c\uff0c\u5305\u542b\u6c49\u5b57\u3002", "Last line.", ""]
PARAGRAPHS = {"script": "hostile_app.py", "paragraphs": DOC, "focus": 1, "selection": [28, 32]}
# The focused entry behind a box of more than 64 children, which the application searches (Collection).
DEEP = "deep \U0001F600 field"
CROWD = {"root": {"type": "box", "children": [{"type": "button", "label": "First"}, {"type": "box", "children": [
    {"type": "label", "text": "Row %d" % i} for i in range(120)] + [{"type": "entry", "id": "d", "text": DEEP}]}]},
    "focus": "d", "selection": [5, 7]}

# A text far longer than what the host reads of it.
LONG = "Lorem ipsum dolor sit amet. " * 1100
# Fixture, selprobe's object, fieldpeek's lines.
FOCUSED_TEXT = [
    ({"root": {"type": "scroll", "child": {"type": "textview", "id": "t", "text": LONG}}, "focus": "t",
      "selection": [15000, 15010]},
     selection(LONG[14400:15000], LONG[15000:15010], LONG[15010:15610], "AXTextArea", True),
     [{"role": "AXTextArea", "texts": [LONG[:20000]]}]),
    ({"root": {"type": "textview", "id": "t", "text": BEFORE + SELECTED + AFTER}, "focus": "t",
      "selection": [len(BEFORE), len(BEFORE) + len(SELECTED)]},
     selection(BEFORE, SELECTED, AFTER, "AXTextArea"), [{"role": "AXTextArea", "texts": [BEFORE + SELECTED + AFTER]}]),
    (CROWD, selection("deep ", "\U0001F600 ", "field", "AXTextField"), [{"role": "AXTextField", "texts": [DEEP]}]),
    (PARAGRAPHS, selection(DOC[0] + "\n" + DOC[1][:27], "here", DOC[1][31:] + "\n" + "\n".join(DOC[2:]),
                           "AXTextArea"), [{"role": "AXTextArea", "texts": ["\n".join(DOC)]}]),
]
# The toolkit windows: a text view holding the document's text, an entry and a label. (Widget and
# selection in code points, tool and its arguments, what the host reads.)
TEXT, ENTRY, LABEL = "\n".join(DOC), "A na\u00efve entry", "A label long enough for panescan to collect it"
HERE = TEXT.index("here")
TOOLKIT_CASES = [
    (("text", HERE, HERE + 4), ("selprobe",), selection(TEXT[:HERE], "here", TEXT[HERE + 4:], "AXTextArea")),
    (("entry", 2, 7), ("selprobe",), selection("A ", "na\u00efve", " entry", "AXTextField")),
    (("text", 0, 0), ("fieldpeek", 100, 100), {"role": "AXTextArea", "texts": [TEXT]}),
    (("text", 0, 0), ("panescan",), TEXT + "\n\n" + LABEL + "\n\n"),
]


class ReadersTest(SessionTestCase):
    def test_focused_text(self):
        for desc, selprobe, fieldpeek in FOCUSED_TEXT:
            with self.subTest(selprobe=selprobe), Fixture(self.session, desc, script=desc.get("script", "fixture.py")):
                # selprobe runs as the user speaks: a question asked twice is a round trip they wait for.
                with BusMonitor(self.session) as monitor:
                    self.assertEqual(reader_output(self, "selprobe", run_tool(self.session, "selprobe")), selprobe)
                    calls = monitor.calls()
                self.assertEqual(sorted({c for c in calls if calls.count(c) > 1}), [], calls)
                self.assertTrue({"GetState", "GetRole", "GetText"} <= {c[3] for c in calls})
                # Only the text around the selection, whatever the length of the whole.
                read = [int(b) - int(a) for *_, member, args in calls if member == "GetText"
                        for a, b in [args.strip("()").split(",")]]
                self.assertLess(sum(read), 3000, calls)
                peek = run_tool(self.session, "fieldpeek", 120, 120)
                self.assertEqual(reader_output(self, "fieldpeek", peek), fieldpeek)
                if desc is PARAGRAPHS:  # one value: no paragraph is lost for being short, none twice
                    self.assertEqual(run_tool(self.session, "panescan").stdout.decode(), "\n".join(DOC) + "\n\n")

    def test_walk_asks_only_for_children_it_enters(self):
        prefix = "A label long enough to be collected, number "
        other = {"root": {"type": "label", "text": "A label in a window that is not active."}}
        with Fixture(self.session, {"name": "cut", "root": {"type": "labels", "count": 600, "prefix": prefix},
                                    "windows": [other]}), BusMonitor(self.session) as monitor:
            scan = run_tool(self.session, "panescan")
            asked = [c[3] for c in monitor.calls()].count("GetChildAtIndex")
        entered, collected = map(int, reader_output(self, "panescan", scan).group(2, 3))
        # Only the active window is read, and the character budget ends the walk early. A box this
        # big has its children asked for one by one as the walk enters them (all at once, GTK stalls
        # for hundreds of ms), plus a read-ahead of at most 64.
        self.assertTrue(scan.stdout.decode().startswith(prefix + "0\n\n"), scan)
        self.assertLess(entered, 600)
        self.assertTrue(collected <= asked <= entered + 64, (collected, asked, entered))

    def test_toolkits(self):
        for toolkit in ("gtk4", "qt5"):
            with Fixture(self.session, [toolkit, TEXT, ENTRY, LABEL], script="toolkit_windows.py") as window:
                for selected, command, expected in TOOLKIT_CASES:
                    with self.subTest(toolkit=toolkit, command=command, selection=selected):
                        self.assertEqual(window.command("select %s %d %d" % selected), "ok")
                        result = run_tool(self.session, *command)
                        self.assertEqual(result.returncode, 0, result)
                        out = result.stdout.decode("utf-8")
                        self.assertEqual(out if command[0] == "panescan" else json.loads(out), expected, result)


if __name__ == "__main__":
    unittest.main()
