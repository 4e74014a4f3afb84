"""Security end to end: password fields are never read, no tool opens a file of its own, and
hostile texts from another application (huge, NULs, control and format characters) leave every
output valid and bounded.
"""
import json
import os
import re
import select
import subprocess
import tempfile
import time
import unittest

from harness import Fixture, HeadlessSession, run_tool, tool_command, SessionTestCase

TOOL_BOUND_S = 90
SECRET = "hunter2-Pa55phrase"
BULLET = "\u25cf"
PANESCAN_SUMMARY = re.compile(r"^panescan: trusted=true app=(.*) nodes=(\d+) textAreas=(\d+) chars=(\d+)$")


def readers():
    """Every reader with arguments for one short run."""
    return (("selprobe", ()), ("fieldpeek", ("120", "120")), ("panescan", ()))


class PasswordTest(SessionTestCase):
    def window(self, focus):
        return {"name": "login",
                "root": {"type": "box", "children": [
                    {"type": "label", "text": "Sign in with the password of your account"},
                    {"type": "entry", "id": "user", "text": "alice@example.org"},
                    {"type": "password", "id": "pw", "text": SECRET},
                    {"type": "textview", "id": "notes", "text": "A note beside the form, long enough."}]},
                "focus": focus, "caret": 3}

    def test_password_text_never_reaches_any_output(self):
        for focus in ("pw", "notes"):
            with Fixture(self.session, self.window(focus)):
                outputs = {tool: run_tool(self.session, tool, *args, timeout=TOOL_BOUND_S)
                           for tool, args in readers()}
            for tool, result in outputs.items():
                with self.subTest(focus=focus, tool=tool):
                    self.assertFalse(result.timed_out, result)
                    self.assertEqual(result.returncode, 0, result)
                    text = (result.stdout + result.stderr).decode("utf-8")
                    self.assertNotIn(SECRET, text)
                    self.assertNotIn(BULLET, text)  # GTK's stand-in text is not the value either
                    self.assertNotIn(SECRET[:4], text)
            # The tools did read the window: its other texts are there, so the check above bites.
            panescan = outputs["panescan"].stdout.decode("utf-8")
            self.assertIn("Sign in with the password of your account", panescan)
            self.assertIn("A note beside the form, long enough.", panescan)
            selprobe = json.loads(outputs["selprobe"].stdout)
            if focus == "pw":
                self.assertEqual(selprobe, {"ok": False, "reason": "no-value"})
                # fieldpeek falls back to the window's texts, never to the field's own.
                poll = json.loads(outputs["fieldpeek"].stdout)
                self.assertEqual(poll["role"], "AXTextField")
                self.assertIn("Sign in with the password of your account", poll["texts"][0])
            else:
                self.assertEqual(selprobe["before"], "A n")


# What the platform's libraries open on their own: the dynamic loader and the libraries,
# libselinux's probe (pulled in by GIO), Xlib's authority file. Sockets: the X server, the session
# bus, the accessibility bus and an application's own accessibility socket.
PLATFORM_PATHS = re.compile(r"^(/etc/ld\.so\.(cache|preload)|/(usr/)?lib(32|64|x32)?/.*|/proc/filesystems"
                            r"|/etc/selinux/config|/selinux|/sys/fs/selinux|.*/\.Xauthority"
                            r"|@?/tmp/\.X11-unix/X\d+|/tmp/dbus-\w+|.*/at-spi/bus(_\d+)?|.*/at-spi2-\w+/socket"
                            r"|/tmp/headless-\w+/.*)$")
# A sanitizer build's runtime reads these at start; the tool's own code does not.
SANITIZER_PATHS = re.compile(r"^/proc/self/(cmdline|environ|maps|exe|status|auxv)$")
PATH_CALL = re.compile(r'^\d+\s+(\w+)\((?:AT_FDCWD, |\d+, )?"([^"]*)"')
SOCKET_CALL = re.compile(r'^\d+\s+connect\(\d+, \{sa_family=AF_UNIX, sun_path=(@?)"([^"]*)"')


def opened_paths(log):
    paths = set()
    for line in log.splitlines():
        match = SOCKET_CALL.match(line)
        if match:
            paths.add(match.group(1) + match.group(2))
            continue
        match = PATH_CALL.match(line)
        if match and match.group(1) != "execve" and match.group(2):
            paths.add(match.group(2))
    return paths


class OwnFilesTest(unittest.TestCase):
    """strace lists every path each tool touches: only the platform's may appear."""

    def traced(self, session, tool, args, stop_after=None):
        with tempfile.NamedTemporaryFile("r", suffix=".strace") as log:
            command = ["strace", "-f", "-qq", "-e", "trace=%file,connect", "-o", log.name,
                       *tool_command(tool, *args)]
            proc = subprocess.Popen(command, env=session.env, stdin=subprocess.DEVNULL,
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            if stop_after is not None:
                # keyherald: let it reach READY, then end it as the host does, with SIGTERM.
                self.assertEqual(proc.stdout.readline(), b"READY\n")
                time.sleep(stop_after)
                tool_pid = int(re.match(r"^(\d+)", log.read()).group(1))
                os.kill(tool_pid, 15)
            proc.communicate(timeout=TOOL_BOUND_S)
            log.seek(0)
            return opened_paths(log.read())

    @unittest.skipUnless(os.path.exists("/usr/bin/strace"), "strace is not installed")
    def test_every_path_a_tool_touches_belongs_to_the_platform(self):
        with HeadlessSession() as session:
            desc = {"root": {"type": "box", "children": [{"type": "entry", "id": "e", "text": "hello there"}]},
                    "focus": "e"}
            with Fixture(session, desc):
                seen = {tool: self.traced(session, tool, args) for tool, args in readers()}
                seen["keyherald"] = self.traced(session, "keyherald", (), stop_after=0.5)
        for tool, paths in seen.items():
            with self.subTest(tool=tool):
                self.assertTrue(paths, "strace saw nothing: the check would be empty")
                with open(tool_command(tool)[-1], "rb") as binary:
                    sanitized = b"__asan_init" in binary.read()
                own = sorted(p for p in paths if not PLATFORM_PATHS.match(p)
                             and not (sanitized and SANITIZER_PATHS.match(p)))
                self.assertEqual(own, [], "%s touched paths of its own" % tool)
                print("\n%s touches: %s" % (tool, ", ".join(sorted(p for p in paths if "/lib/" not in p))))


# Each of these is one grapheme cluster per code point, so Python's len() counts characters here.
# NUL is left out: GTK cuts a text at its first NUL.
HOSTILE_PIECE = ("plain \x01\x02\x1b[31m \x7f \u202etxet desrever\u202c \u200b\ufeff \U0001F600 "
                 "\u0085 \u2028 \ufffd \x0b\x0c end\n")
# Over 10 MB of UTF-8 in one text view.
HOSTILE_REPEAT = 10 * 1024 * 1024 // len(HOSTILE_PIECE.encode("utf-8")) + 1


class HostileTextTest(SessionTestCase):
    def test_huge_texts_full_of_control_characters(self):
        # A large text the layer reads within its call timeout, and one over 10 MB, which a
        # timeout may turn into no value: either way the output is valid and within its limits.
        for repeat in (4000, HOSTILE_REPEAT):
            with self.subTest(repeat=repeat):
                self.check_readers_over(repeat)

    def check_readers_over(self, repeat):
        size = len(HOSTILE_PIECE) * repeat
        desc = {"root": {"type": "box", "children": [
                    {"type": "label", "text": HOSTILE_PIECE * 3},
                    {"type": "scroll", "child": {"type": "textview", "id": "t", "text": HOSTILE_PIECE,
                                                 "repeat": repeat}}]},
                "focus": "t", "selection": [size // 2, size // 2 + 30000]}
        with Fixture(self.session, desc) as app:
            # GTK lays a huge text out after the window shows; read once its main loop runs again.
            app.longest_gap_ms(timeout=TOOL_BOUND_S)
            results = {tool: run_tool(self.session, tool, *args, timeout=TOOL_BOUND_S)
                       for tool, args in readers()}
        for tool, result in results.items():
            self.assertFalse(result.timed_out, result)
            self.assertEqual(result.returncode, 0, result)
            out = result.stdout.decode("utf-8")  # raises on invalid UTF-8
            err = result.stderr.decode("utf-8")
            print("\n%s over a %d-character text: %d bytes out in %.2f s, %r"
                  % (tool, size, len(result.stdout), result.seconds, (out[:40], err[-80:])))
            if tool == "selprobe":
                obj = json.loads(out)
                if obj["ok"]:
                    self.assertEqual(len(obj["before"]), 600)
                    self.assertEqual(len(obj["selected"]), 20000)
                    self.assertEqual(len(obj["after"]), 600)
                    self.assertIs(obj["truncated"], True)
                    self.assertIn(obj["selected"][:40], HOSTILE_PIECE * 2)
                    self.assertIn(obj["after"][:40], HOSTILE_PIECE * 2)
                else:
                    # A busy application may miss a call timeout at any of the steps.
                    self.assertEqual(set(obj), {"ok", "reason"})
                    self.assertIn(obj["reason"], ("no-value", "no-focused-element", "no-frontmost"))
            elif tool == "fieldpeek":
                # Only a line feed ends a line: U+2028 and U+0085 may stand unescaped in JSON.
                lines = out.split("\n")
                self.assertEqual((len(lines), lines[-1]), (2, ""))
                poll = json.loads(lines[0])
                self.assertIn(poll["role"], ("AXTextArea", "no-frontmost", "?"))
                self.assertLessEqual(len(poll["texts"]), 11)
                for text in poll["texts"]:
                    self.assertLessEqual(len(text), 20000)
                if poll["texts"]:
                    self.assertEqual(poll["texts"], [(HOSTILE_PIECE * repeat)[:20000]])
            else:
                summary = PANESCAN_SUMMARY.match(err.splitlines()[-1])
                self.assertTrue(summary, err)
                self.assertLessEqual(len(out), 16000)
                self.assertTrue(out.startswith(HOSTILE_PIECE * 3 + "\n\n"), out[:200])


class HostileApplication:
    """hostile_app.py in the session: a fake AT-SPI application; ready when the constructor returns."""

    def __init__(self, session, layout):
        self.proc = subprocess.Popen(["/usr/bin/python3", os.path.join(os.path.dirname(__file__), "hostile_app.py"),
                                      json.dumps(layout)], env=session.env, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        ready, _, _ = select.select([self.proc.stdout], [], [], TOOL_BOUND_S)
        line = self.proc.stdout.readline() if ready else b""
        if line != b"ready\n":
            self.close()
            raise RuntimeError("hostile application not ready: %r" % self.proc.stderr.read()[-2000:])

    def close(self):
        if self.proc.poll() is None:
            self.proc.terminate()
        self.proc.communicate(timeout=TOOL_BOUND_S)


# 19999 one-character letters, then one character of 5001 code points (a letter and 5000
# combining accents), then more: exactly 20000 characters reach a reader, the accents included.
FIRST_20000 = "".join(chr(0x41 + i % 26) for i in range(19999)) + "a" + "\u0301" * 5000
LYING_TEXT = FIRST_20000 + " tail \U0001F469\u200d\U0001F4BB end"


class HostileApplicationTest(unittest.TestCase):
    """An application that lies about its tree and its ranges: cycles, a million children, a chain
    300 deep, a selection far outside its text."""

    def test_lying_application(self):
        with HeadlessSession() as session:
            layout = {"text": LYING_TEXT, "label": "A hostile label \u202e with \x1b[2J controls and more",
                    "selection": [-7, 2 ** 31 - 1], "caret": 10 ** 9, "depth": 300}
            app = HostileApplication(session, layout)
            try:
                results = {tool: run_tool(session, tool, *args, timeout=TOOL_BOUND_S)
                           for tool, args in readers()}
            finally:
                app.close()
            layout.update(selection=[0, 0], caret=-1)
            app = HostileApplication(session, layout)
            try:
                no_caret = run_tool(session, "selprobe", timeout=TOOL_BOUND_S)
            finally:
                app.close()
        for tool, result in results.items():
            print("\n%s against the lying application: %.2f s, %d bytes out, %r"
                  % (tool, result.seconds, len(result.stdout), result.stderr[-100:]))
            self.assertFalse(result.timed_out, result)
            self.assertEqual(result.returncode, 0, result)
        # The range is clamped to the whole text, which is cut at 20000 characters.
        self.assertEqual(json.loads(results["selprobe"].stdout),
                         {"ok": True, "role": "AXTextField", "before": "", "selected": FIRST_20000,
                          "after": "", "truncated": False})
        lines = results["fieldpeek"].stdout.decode("utf-8").split("\n")
        self.assertEqual(len(lines), 2, results["fieldpeek"])
        self.assertEqual(json.loads(lines[0]), {"role": "AXTextField", "texts": [FIRST_20000]})
        # The cycles and the chain spend the walk's budgets; it ends with its summary.
        summary = PANESCAN_SUMMARY.match(results["panescan"].stderr.decode("utf-8").strip())
        self.assertTrue(summary, results["panescan"])
        self.assertEqual(summary.group(1), "hostile")
        self.assertLessEqual(int(summary.group(2)), 4000)
        self.assertLessEqual(len(results["panescan"].stdout.decode("utf-8")), 16000 + 5000)
        # An empty selection and AT-SPI's "no caret" give no range at all.
        self.assertEqual((no_caret.returncode, json.loads(no_caret.stdout)),
                         (0, {"ok": False, "reason": "no-caret"}))


if __name__ == "__main__":
    unittest.main()
