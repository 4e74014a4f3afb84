"""The readers against real toolkits (a GTK 4 and a Qt 5 window), one session per toolkit."""
import json
import os
import sys
import unittest

from harness import run_tool

from toolkit_windows import ToolkitSession, ToolkitWindow  # noqa: E402

TEXT = ("Premi\u00e8re ligne avec caf\u00e9.\nSecond line has an emoji \U0001F600 here and more.\n"
        "\u7b2c\u4e09\u884c\u662f\u4e2d\u6587\u6587\u672c\uff0c\u5305\u542b\u6c49\u5b57\u3002\nLast line.\n")
ENTRY = "A na\u00efve entry"
LABEL = "A label long enough for panescan to collect it"
HERE, CJK = TEXT.index("here"), TEXT.index("\u4e2d\u6587")


def probed(before, selected, after, role):
    return {"ok": True, "role": role, "before": before, "selected": selected, "after": after, "truncated": False}


# (case, widget and selection in code points, tool and its arguments, what the host reads)
CASES = [
    ("selection after an emoji", ("text", HERE, HERE + 4), ("selprobe",),
     probed(TEXT[:HERE], "here", TEXT[HERE + 4:], "AXTextArea")),
    ("selection inside CJK text", ("text", CJK, CJK + 2), ("selprobe",),
     probed(TEXT[:CJK], TEXT[CJK:CJK + 2], TEXT[CJK + 2:], "AXTextArea")),
    ("the entry read whole", ("entry", 2, 7), ("selprobe",), probed("A ", "na\u00efve", " entry", "AXTextField")),
    ("fieldpeek's role and text", ("entry", 0, 0), ("fieldpeek", 100, 100),
     {"role": "AXTextField", "texts": [ENTRY]}),
    ("labels collected by panescan", ("text", 0, 0), ("panescan",), TEXT + "\n\n" + LABEL + "\n\n"),
]


class ToolkitCases:
    toolkit = None

    @classmethod
    def setUpClass(cls):
        cls.session = ToolkitSession().__enter__()
        try:
            cls.window = ToolkitWindow(cls.session, cls.toolkit, TEXT, ENTRY, LABEL)
        except BaseException:
            cls.session.__exit__(None, None, None)
            raise

    @classmethod
    def tearDownClass(cls):
        cls.window.stop()
        cls.session.__exit__(None, None, None)

    def test_cases(self):
        for name, selection, command, expected in CASES:
            with self.subTest(name):
                self.window.select(*selection)
                result = run_tool(self.session, *command)
                self.assertEqual(result.returncode, 0, result)
                out = result.stdout.decode("utf-8")
                self.assertEqual(out if command[0] == "panescan" else json.loads(out), expected, result)


class Gtk4Test(ToolkitCases, unittest.TestCase):
    toolkit = "gtk4"


class Qt5Test(ToolkitCases, unittest.TestCase):
    toolkit = "qt5"


if __name__ == "__main__":
    unittest.main()
