"""The readers against real toolkits: a GTK 4 and a Qt 5 window."""
import json
import unittest

from harness import Fixture, SessionTestCase, run_tool

TEXT = ("Premi\u00e8re ligne avec caf\u00e9.\nSecond line has an emoji \U0001F600 here and more.\n"
        "\u7b2c\u4e09\u884c\u662f\u4e2d\u6587\u6587\u672c\uff0c\u5305\u542b\u6c49\u5b57\u3002\nLast line.\n")
ENTRY, LABEL = "A na\u00efve entry", "A label long enough for panescan to collect it"
HERE = TEXT.index("here")
OK = {"ok": True, "truncated": False}
# (widget and selection in code points, tool and its arguments, what the host reads)
CASES = [
    (("text", HERE, HERE + 4), ("selprobe",),
     dict(OK, role="AXTextArea", before=TEXT[:HERE], selected="here", after=TEXT[HERE + 4:])),
    (("entry", 2, 7), ("selprobe",), dict(OK, role="AXTextField", before="A ", selected="na\u00efve", after=" entry")),
    (("text", 0, 0), ("fieldpeek", 100, 100), {"role": "AXTextArea", "texts": [TEXT]}),
    (("text", 0, 0), ("panescan",), TEXT + "\n\n" + LABEL + "\n\n"),
]


class ToolkitsTest(SessionTestCase):
    def test_toolkits(self):
        for toolkit in ("gtk4", "qt5"):
            with Fixture(self.session, [toolkit, TEXT, ENTRY, LABEL], script="toolkit_windows.py") as window:
                for selection, command, expected in CASES:
                    with self.subTest(toolkit=toolkit, command=command, selection=selection):
                        self.assertEqual(window.command("select %s %d %d" % selection), "ok")
                        result = run_tool(self.session, *command)
                        self.assertEqual(result.returncode, 0, result)
                        out = result.stdout.decode("utf-8")
                        self.assertEqual(out if command[0] == "panescan" else json.loads(out), expected, result)


if __name__ == "__main__":
    unittest.main()
