"""Faults and security end to end: password fields, a frozen or killed application, a missing or
silent bus, the host gone, files, hostile applications. Every tool ends in bounded time (generous:
CI is a loaded two-core machine) with its documented output and status 0."""
import itertools
import json
import os
import re
import signal
import subprocess
import tempfile
import time
import unittest

from harness import (Fixture, HeadlessSession, SessionTestCase, SilentBus, finish, probe,
                     reader_output, run_tool, spawn, tool_command)
from test_readers import BIG_WINDOW, entry

READERS = (("selprobe",), ("fieldpeek", 120, 120), ("panescan",))
SECRET, BULLET = "hunter2-Pa55phrase", "\u25cf"
LOGIN = [{"type": "label", "text": "Sign in with the password of your account"},
         {"type": "entry", "text": "alice@example.org"}, {"type": "password", "id": "pw", "text": SECRET},
         {"type": "textview", "id": "notes", "text": "A note beside the form, long enough."}]


class FaultsTest(SessionTestCase):
    def test_password_text_reaches_no_output(self):
        for focus in ("pw", "notes"):
            with Fixture(self.session, {"root": {"type": "box", "children": LOGIN}, "focus": focus, "caret": 3}):
                runs = {" ".join(map(str, args)): run_tool(self.session, *args)
                        for args in READERS + (("axprobe", "focus"), ("axprobe", "tree"))}
            for name, result in runs.items():
                with self.subTest(focus=focus, tool=name):
                    self.assertEqual(result.returncode, 0, result)
                    for leak in (SECRET[:4], BULLET):  # GTK's bullets are not the value either
                        self.assertNotIn(leak, (result.stdout + result.stderr).decode("utf-8"))
            # The tools did read the window, so the checks above bite.
            self.assertIn(LOGIN[0]["text"] + "\n\n" + LOGIN[3]["text"], runs["panescan"].stdout.decode())
            if focus == "notes":
                self.assertEqual(json.loads(runs["selprobe"].stdout)["before"], "A n")
                continue
            self.assertEqual(json.loads(runs["selprobe"].stdout), {"ok": False, "reason": "no-value"})
            # fieldpeek falls back to the window's texts, never to the field's own.
            (poll,) = reader_output(self, "fieldpeek", runs["fieldpeek 120 120"])
            self.assertEqual(poll["role"], "AXTextField")
            self.assertIn(LOGIN[0]["text"], poll["texts"][0])
            focused = json.loads(runs["axprobe focus"].stdout)
            self.assertEqual([focused[k] for k in ("found", "role", "value", "range")], [True, "AXTextField", None, None])

    def test_frozen_application(self):
        with Fixture(self.session, entry("frozen", 2)) as app:
            app.freeze()
            try:
                runs = {" ".join(map(str, args)): run_tool(self.session, *args, timeout=30) for args in
                        (("selprobe",), ("fieldpeek", 300, 3000), ("panescan",), ("axprobe", "focus"), ("axprobe", "windows"))}
            finally:
                app.thaw()
            after = probe(self.session, "focus")
        self.assertEqual(after["value"], "frozen", "the application does not answer once thawed")
        self.assertIn(reader_output(self, "selprobe", runs["selprobe"]),
                      [{"ok": False, "reason": r} for r in ("no-frontmost", "no-focused-element", "no-value")])
        reader_output(self, "panescan", runs["panescan"])
        # One call timeout per poll, then the application is skipped: the polls go on to the deadline.
        polls = reader_output(self, "fieldpeek", runs["fieldpeek 300 3000"])
        self.assertGreaterEqual(len(polls), 2, runs["fieldpeek 300 3000"])
        self.assertNotIn(["frozen"], [p["texts"] for p in polls])
        self.assertLess(runs["fieldpeek 300 3000"].seconds, 3.3 + 15)
        focused = json.loads(runs["axprobe focus"].stdout)
        self.assertEqual((focused["frontmost"], focused["found"]), (None, False))
        self.assertLess(focused["totalMs"], 1500)  # one call timeout (300 ms), not one per read
        self.assertEqual(json.loads(runs["axprobe windows"].stdout)["windows"], [])

    def test_application_killed_or_frozen_mid_walk(self):
        # The delays put the fault inside the walk of the 4000 labels here; earlier must hold as well.
        for fault, (tool, args, delay) in itertools.product(("kill", "freeze"), (
                ("panescan", (), 0.15), ("selprobe", (), 0.05), ("fieldpeek", (200, 3000), 0.6))):
            with self.subTest(fault=fault, tool=tool), Fixture(self.session, BIG_WINDOW) as app:
                proc = spawn(self.session, tool, *args)
                time.sleep(delay)
                app.proc.kill() if fault == "kill" else app.freeze()
                result = finish(proc, 33)
                reader_output(self, tool, result)
                # One call timeout, then the application is skipped, where a read each would cost
                # a timeout until the step's 8 s budget is spent.
                self.assertLess(result.seconds, 4 + (3 if tool == "fieldpeek" else 0), result)

    def test_missing_or_silent_bus(self):
        with HeadlessSession(a11y=False) as off, SilentBus() as silent:
            buses = [("accessibility off", off.env, True)] + [
                (variable + " " + how, dict(self.session.env, **{variable: address}), how == "missing")
                for variable in ("DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS")
                for how, address in (("missing", "unix:path=/nonexistent/bus"), ("silent", silent.address))]
            for name, env, missing in buses:
                for tool, *args in READERS:
                    with self.subTest(bus=name, tool=tool):
                        reader_output(self, tool, run_tool(off, tool, *args, env=env, timeout=30), trusted=False)
                trust = probe(off, "trust", env=env)
                self.assertFalse(trust["trusted"], name)
                self.assertTrue(not missing or trust["ms"] < 100, (name, trust))
                # Each connection attempt gives up at its timeout; no entry point waits for ever.
                for command in ("request-trust", "focus", "windows", "count"):
                    start = time.monotonic()
                    out = probe(off, command, env=env, timeout=30)
                    self.assertLess(time.monotonic() - start, 5, (name, command))
                    self.assertIsNone(out.get("frontmost"), (name, command))

    def test_host_gone(self):
        read_end, write_end = os.pipe()
        os.close(read_end)
        self.addCleanup(os.close, write_end)
        with Fixture(self.session, entry("live", 2, {"type": "label", "text": "A label that panescan writes out."})):
            for tool, *args in (("selprobe",), ("fieldpeek", 200, 60000), ("panescan",)):
                for how, kw in (("closed", {"stdout": subprocess.DEVNULL, "preexec_fn": lambda: os.close(1)}),
                                ("broken pipe", {"stdout": write_end})):
                    with self.subTest(tool=tool, stdout=how):
                        result = finish(spawn(self.session, tool, *args, **kw), 30)
                        if tool == "panescan":
                            reader_output(self, tool, result)
                        else:  # fieldpeek cannot write its first line: it ends there, long before 60 s
                            self.assertEqual((result.returncode, result.stderr), (0, b"" if tool == "selprobe"
                                             else b"fieldpeek: done polls=1 withText=1\n"), result)
            # Lines reach the pipe as each poll ends; the host closing it mid-run ends the run.
            proc = spawn(self.session, "fieldpeek", 200, 60000)
            for _ in range(2):
                self.assertEqual(json.loads(proc.stdout.readline()), {"role": "AXTextField", "texts": ["live"]})
            self.assertIsNone(proc.poll(), "ended early")
            proc.stdout.close()
            _, status, usage = os.wait4(proc.pid, 0)
            proc.returncode = os.waitstatus_to_exitcode(status)
            err = proc.stderr.read().decode("utf-8")
            proc.stderr.close()
        self.assertEqual(proc.returncode, 0, err)
        self.assertLess(time.monotonic() - proc.started, 20, "ran on towards its 60 s deadline")
        self.assertRegex(err, r"^fieldpeek: done polls=\d+ withText=\d+\n$")
        self.assertLess(usage.ru_utime + usage.ru_stime, 5.0, "spun after the host left")

    def test_accessibility_bus_killed_while_fieldpeek_polls(self):
        with HeadlessSession() as session, Fixture(session, entry("soon gone", 2)):
            proc = spawn(session, "fieldpeek", 200, 4000)
            first = proc.stdout.readline()
            launcher = session._procs[-1].pid
            for pid in descendants(launcher) + [launcher]:
                os.kill(pid, signal.SIGKILL)
            result = finish(proc, 30)
            result.stdout = first + result.stdout
        self.assertGreaterEqual(len(reader_output(self, "fieldpeek", result)), 3, "polling stopped with the bus")

    @unittest.skipUnless(os.path.exists("/usr/bin/strace"), "strace is not installed")
    def test_every_path_a_tool_touches_belongs_to_the_platform(self):
        with Fixture(self.session, entry("hello there", 2)):
            for tool, *args in READERS + (("keyherald",),):
                with self.subTest(tool=tool), tempfile.NamedTemporaryFile("r") as log:
                    proc = subprocess.Popen(["strace", "-f", "-qq", "-e", "trace=%file,connect", "-o", log.name,
                                             *tool_command(tool, *args)], env=self.session.env,
                                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                    if tool == "keyherald":  # ended as the host ends it, once it listens
                        self.assertEqual(proc.stdout.readline(), b"READY\n")
                        os.kill(int(log.readline().split()[0]), signal.SIGTERM)
                    proc.communicate(timeout=90)
                    with open(tool_command(tool)[-1], "rb") as binary:
                        sanitized = b"__asan_init" in binary.read()
                    log.seek(0)
                    paths = {(m[1] or "") + m[2] for m in PATH_CALL.finditer(log.read()) if m[2]}
                    self.assertTrue(paths, "strace saw nothing: the check would be empty")
                    self.assertEqual(sorted(p for p in paths if not PLATFORM_PATHS.match(p)
                                            and not (sanitized and SANITIZER_PATHS.match(p))), [])

    def test_huge_texts_full_of_control_characters(self):
        # A text the layer reads within its call timeout, and one over 10 MB that a timeout may turn
        # into no value: either way every output is valid UTF-8 and within its limits.
        for repeat in (4000, 10 * 1024 * 1024 // len(HOSTILE.encode()) + 1):
            size = len(HOSTILE) * repeat
            desc = {"root": {"type": "box", "children": [{"type": "label", "text": HOSTILE * 3}, {
                "type": "scroll", "child": {"type": "textview", "id": "t", "text": HOSTILE, "repeat": repeat}}]},
                "focus": "t", "selection": [size // 2, size // 2 + 30000]}
            with self.subTest(repeat=repeat), Fixture(self.session, desc) as app:
                app.longest_gap_ms(timeout=90)  # GTK lays the text out once the window shows
                sel, peek, scan = (run_tool(self.session, *args, timeout=90) for args in READERS)
                obj = reader_output(self, "selprobe", sel)
                if obj["ok"]:  # a busy application may miss a call timeout at any step
                    self.assertEqual([len(obj[k]) for k in ("before", "selected", "after")] + [obj["truncated"]],
                                     [600, 20000, 600, True])
                    for part in (obj["selected"], obj["after"]):
                        self.assertIn(part[:40], HOSTILE * 2)
                (poll,) = reader_output(self, "fieldpeek", peek)
                self.assertIn(poll["texts"], ([], [(HOSTILE * repeat)[:20000]]))
                reader_output(self, "panescan", scan)
                self.assertTrue(scan.stdout.decode().startswith(HOSTILE * 3 + "\n\n"), scan)

    def test_late_answers_fresh_registry_and_a_window_active_once_listened(self):
        # Slower than a call's timeout once, in the search for the frontmost window and in the read
        # of the focused text: the call is asked again and every answer is whole.
        for slow in (["frame", "GetState", 450], ["entry", "GetText", 450]):
            with Fixture(self.session, {"text": "Answered late, but whole.", "slow": slow}, script="hostile_app.py"):
                self.assertEqual(reader_output(self, "selprobe", run_tool(self.session, "selprobe")),
                                 {"ok": True, "role": "AXTextField", "before": "", "selected": "",
                                  "after": "Answered late, but whole.", "truncated": False}, slow)
        # As Chromium's: no window is active until some client registers for an event.
        with Fixture(self.session, {"listened": True}, script="hostile_app.py"):
            self.assertEqual(reader_output(self, "panescan", run_tool(self.session, "panescan")).group(1), "hostile")
        # No application has started the registry yet: the bus answering is the trust. Asked again
        # while the bus launcher may still be starting.
        with HeadlessSession() as fresh:
            deadline = time.monotonic() + 5
            while True:
                result = run_tool(fresh, "selprobe")
                if b"not-trusted" not in result.stdout or time.monotonic() > deadline:
                    break
                time.sleep(0.1)
        self.assertEqual(reader_output(self, "selprobe", result), {"ok": False, "reason": "no-frontmost"})

    def test_gecko_like_answers(self):
        # As Firefox answers: a text filled in only once asked, while its selection (or its count)
        # is already there; a U+FEFF padding each character beyond the BMP; a contenteditable section.
        text, padded = "Ready once asked, and whole.", "Emoji \U0001F600\ufeff here, \U0001F600\ufeff and some more!"
        shown = padded.replace("\ufeff", "")

        def ok(before, selected, after):
            return {"ok": True, "role": "AXTextField", "before": before, "selected": selected, "after": after,
                    "truncated": False}
        rows = [
            ("selprobe", {"unready": [40, False], "selection": [6, 10]}, ok("Ready ", "once", text[10:])),
            ("selprobe", {"unready": [40, False, True], "selection": [6, 10]}, ok("Ready ", "once", text[10:])),
            ("selprobe", {"unready": [60000, False], "selection": [6, 10]}, {"ok": False, "reason": "no-value"}),
            ("fieldpeek", {"unready": [40, True], "contenteditable": True}, [{"role": "AXTextArea", "texts": [text]}]),
            ("selprobe", {"text": padded, "selection": [9, 13]}, ok(shown[:8], "here", shown[12:])),
            ("panescan", {"text": padded, "unready": [40, True], "liar": 0}, shown + "\n\n"),
        ]
        for tool, layout, expected in rows:
            with Fixture(self.session, dict({"text": text}, **layout), script="hostile_app.py"):
                args = (tool, 120, 120) if tool == "fieldpeek" else (tool,)
                result = run_tool(self.session, *args)
                got = reader_output(self, tool, result)
                self.assertEqual(result.stdout.decode() if tool == "panescan" else got[:1] if tool == "fieldpeek"
                                 else got, expected, layout)

    def test_lying_application(self):
        layout = {"text": LYING_TEXT, "label": "A hostile label \u202e with \x1b[2J controls and more",
                  "selection": [-7, 2 ** 31 - 1], "caret": 10 ** 9, "depth": 300}
        with HeadlessSession() as session:
            with Fixture(session, layout, script="hostile_app.py"):
                sel, peek, scan = (run_tool(session, *args, timeout=90) for args in READERS)
            with Fixture(session, dict(layout, selection=[0, 0], caret=-1), script="hostile_app.py"):
                no_caret = run_tool(session, "selprobe", timeout=90)
        # The range is clamped to the whole text, which is cut at 20000 characters.
        self.assertEqual(reader_output(self, "selprobe", sel), {"ok": True, "role": "AXTextField", "before": "",
                         "selected": FIRST_20000, "after": "", "truncated": False})
        self.assertEqual(reader_output(self, "fieldpeek", peek), [{"role": "AXTextField", "texts": [FIRST_20000]}])
        # The cycles, the million children and the chain spend the walk's budgets.
        summary = reader_output(self, "panescan", scan)
        self.assertEqual(summary.group(1), "hostile")
        self.assertLessEqual(int(summary.group(2)), 4000)
        # An empty selection and AT-SPI's "no caret" give no range at all.
        self.assertEqual(reader_output(self, "selprobe", no_caret), {"ok": False, "reason": "no-caret"})


def descendants(pid):
    children = []
    for task in os.listdir("/proc/%d/task" % pid):
        with open("/proc/%d/task/%s/children" % (pid, task)) as f:
            children += [int(c) for c in f.read().split()]
    return [d for c in children for d in [c] + descendants(c)]


# What the platform's libraries open on their own: the loader and the libraries, libselinux's probe
# (through GIO), Xlib's authority file; the X server's, the buses' and an application's sockets.
PLATFORM_PATHS = re.compile(r"^(/etc/ld\.so\.(cache|preload)|/(usr/)?lib(32|64|x32)?/.*|/proc/filesystems"
                            r"|/etc/selinux/config|/selinux|/sys/fs/selinux|.*/\.Xauthority"
                            r"|@?/tmp/\.X11-unix/X\d+|/tmp/dbus-\w+|.*/at-spi/bus(_\d+)?|.*/at-spi2-\w+/socket"
                            r"|/tmp/headless-\w+/.*)$")
# A sanitizer build's runtime reads these at start; the tool's own code does not.
SANITIZER_PATHS = re.compile(r"^/proc/self/(cmdline|environ|maps|exe|status|auxv)$")
PATH_CALL = re.compile(r'^\d+\s+(?!execve)(?:\w+\((?:AT_FDCWD, |\d+, )?|connect\(\d+, \{sa_family=AF_UNIX, '
                       r'sun_path=(@?))"([^"]*)"', re.M)
# One grapheme cluster per code point, so len() counts characters; no NUL, where GTK cuts a text.
HOSTILE = ("plain \x01\x02\x1b[31m \x7f \u202etxet desrever\u202c \u200b\ufeff \U0001F600 "
           "\u0085 \u2028 \ufffd \x0b\x0c end\n")
# 19999 letters, then one character of 5001 code points (a letter and 5000 accents) at the cut.
FIRST_20000 = "".join(chr(0x41 + i % 26) for i in range(19999)) + "a" + "\u0301" * 5000
LYING_TEXT = FIRST_20000 + " tail \U0001F469\u200d\U0001F4BB end"


if __name__ == "__main__":
    unittest.main()
