"""Helpers for the end-to-end tests (tests/e2e, run with this folder on PYTHONPATH as ctest does):
a headless session, the GTK fixture, running a tool.

`Fixture(session, desc)` shows the window described in fixture.py and returns once it is active on
the accessibility bus (under Xvfb GTK's present() falls back to XSetInputFocus, which is enough);
`run_tool` runs bin/<tool> (TOOLS_BIN, else build/bin) in the session and never hangs (a tool that
overruns its timeout is killed and the result says so); `reader_output` checks a reader's documented
output; `SilentBus` is a unix socket that accepts connections and never answers.
"""
import json
import os
import queue
import re
import signal
import socket
import subprocess
import tempfile
import threading
import time
import unittest

from session import HeadlessSession  # noqa: F401  (re-exported for the tests)

HERE = os.path.dirname(os.path.abspath(__file__))
PYTHON = "/usr/bin/python3"
# A loaded 2-core CI machine may need several seconds to start GTK and the accessibility bus.
READY_TIMEOUT_S = 90


def tools_bin():
    return os.environ.get("TOOLS_BIN") or os.path.join(HERE, "..", "..", "build", "bin")


def tool_path(name):
    return os.path.join(tools_bin(), name)


class ToolResult:
    def __init__(self, returncode, stdout, stderr, seconds, timed_out):
        self.returncode = returncode
        self.stdout = stdout
        self.stderr = stderr
        self.seconds = seconds
        self.timed_out = timed_out

    def json_lines(self):
        return [json.loads(line) for line in self.stdout.decode("utf-8").splitlines() if line.strip()]

    def __repr__(self):
        return "ToolResult(rc=%r, %.3fs, timed_out=%r, stdout=%r, stderr=%r)" % (
            self.returncode, self.seconds, self.timed_out, self.stdout[:400], self.stderr[:400])


def tool_command(tool, *args):
    """The command line that runs `tool` with `args`: TOOLS_WRAPPER, when set, goes in front of it
    (for instance "valgrind --error-exitcode=99 --leak-check=full"), split on blanks."""
    path = tool if os.sep in tool else tool_path(tool)
    wrapper = os.environ.get("TOOLS_WRAPPER", "").split()
    return [*wrapper, path, *[str(a) for a in args]]


def spawn(session, tool, *args, env=None, stdout=subprocess.PIPE, **kw):
    """Starts a tool (a name in TOOLS_BIN or a path) with `args` inside the session."""
    proc = subprocess.Popen(tool_command(tool, *args), env=env or session.env, stdin=subprocess.DEVNULL,
                            stdout=stdout, stderr=subprocess.PIPE, **kw)
    proc.started = time.monotonic()
    return proc


def finish(proc, timeout=60):
    """The ToolResult of a started tool, killed past `timeout` seconds."""
    timed_out = False
    try:
        out, err = proc.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        timed_out = True
        proc.kill()
        out, err = proc.communicate()
    return ToolResult(proc.returncode, out or b"", err, time.monotonic() - proc.started, timed_out)


def run_tool(session, tool, *args, timeout=60, env=None):
    return finish(spawn(session, tool, *args, env=env), timeout)


def probe(session, *args, env=None, timeout=60):
    """axprobe's one JSON object; raises unless it ended with status 0 and one line."""
    result = run_tool(session, "axprobe", *args, env=env, timeout=timeout)
    if result.timed_out or result.returncode != 0 or result.stdout.count(b"\n") != 1:
        raise AssertionError(result)
    return json.loads(result.stdout)


PANESCAN_SUMMARY = re.compile(r"panescan: trusted=true app=(.*) nodes=(\d+) textAreas=(\d+) chars=(\d+)")
NOT_TRUSTED = {"fieldpeek": "fieldpeek: not trusted for Accessibility \u2014 nothing to do\n",
               "panescan": "panescan: NOT trusted for Accessibility \u2014 grant it in System Settings\n"}


def reader_output(test, tool, result, trusted=True):
    """Asserts `result` is the reader's documented output, status 0 and whole lines, and returns what
    the host parses: selprobe's object, fieldpeek's poll lines, panescan's summary match."""
    test.assertFalse(result.timed_out or result.returncode, result)
    out, err = result.stdout.decode("utf-8"), result.stderr.decode("utf-8")
    if tool == "selprobe":
        test.assertEqual((err, out.count("\n"), out[-1:]), ("", 1, "\n"), result)
        obj = json.loads(out)
        test.assertTrue(trusted or obj == {"ok": False, "reason": "not-trusted"}, result)
        return obj
    if not trusted:
        return test.assertEqual(out + err, NOT_TRUSTED[tool], result)
    if tool == "fieldpeek":
        lines = [json.loads(line) for line in out.split("\n")[:-1]]  # only a line feed ends a line
        test.assertEqual(out[-1:], "\n" if lines else "", result)
        test.assertTrue(all(set(line) == {"role", "texts"} for line in lines), result)
        test.assertEqual(err, "fieldpeek: done polls=%d withText=%d\n"
                         % (len(lines), sum(1 for line in lines if line["texts"])), result)
        return lines
    test.assertLessEqual(len(out), 16000, result)
    *before, summary = err.split("\n")[:-1] or [""]
    test.assertEqual(before, ["panescan: no focused application"] * len(before), result)
    match = PANESCAN_SUMMARY.fullmatch(summary)
    test.assertTrue(match, result)
    return match


class Fixture:
    """The GTK fixture application (fixture.py, or `script`: hostile_app.py) showing `desc`; ready when
    the constructor returns."""

    def __init__(self, session, desc, ready_timeout=READY_TIMEOUT_S, script="fixture.py"):
        self.name = desc.get("name", "fixture")
        self._lines = queue.Queue()
        self.stderr = b""
        self.proc = subprocess.Popen([PYTHON, os.path.join(HERE, script), json.dumps(desc)],
                                     env=session.env, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.pid = self.proc.pid
        threading.Thread(target=self._read_stdout, daemon=True).start()
        threading.Thread(target=self._read_stderr, daemon=True).start()
        try:
            line = self._next_line(ready_timeout)
            if line != "ready":
                raise RuntimeError("fixture did not get ready (got %r); stderr: %r" % (line, self.stderr[-2000:]))
        except BaseException:
            self.stop()
            raise

    def _read_stdout(self):
        for raw in self.proc.stdout:
            self._lines.put(raw.decode("utf-8", "replace").rstrip("\n"))
        self._lines.put(None)

    def _read_stderr(self):
        for raw in self.proc.stderr:
            self.stderr += raw

    def _next_line(self, timeout):
        try:
            return self._lines.get(timeout=timeout)
        except queue.Empty:
            return None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    def freeze(self):
        os.kill(self.pid, signal.SIGSTOP)

    def thaw(self):
        os.kill(self.pid, signal.SIGCONT)

    def longest_gap_ms(self, timeout=30):
        """The fixture's longest main-loop stall since start or the previous call, in ms."""
        os.kill(self.pid, signal.SIGUSR1)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            line = self._next_line(max(0.01, deadline - time.monotonic()))
            if line is None:
                break
            if line.startswith("gap-ms "):
                return float(line.split()[1])
        raise RuntimeError("fixture did not report its gap")

    def stop(self):
        if self.proc.poll() is None:
            try:
                os.kill(self.pid, signal.SIGCONT)
            except ProcessLookupError:
                pass
            self.proc.terminate()
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        for stream in (self.proc.stdout, self.proc.stderr):
            try:
                stream.close()
            except (OSError, ValueError):
                pass  # the reader thread may be closing it at the same moment


class SilentBus:
    """A unix socket that accepts every connection and never says a word: a hung bus."""

    def __init__(self):
        self._dir = tempfile.mkdtemp(prefix="silent-bus-")
        self.path = os.path.join(self._dir, "socket")
        self.address = "unix:path=" + self.path
        self._sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self._sock.bind(self.path)
        self._sock.listen(64)
        self._held = []
        self._stop = False
        self._thread = threading.Thread(target=self._accept, daemon=True)
        self._thread.start()

    def _accept(self):
        self._sock.settimeout(0.1)
        while not self._stop:
            try:
                conn, _ = self._sock.accept()
                self._held.append(conn)  # kept open, never read from or written to
            except socket.timeout:
                continue
            except OSError:
                return

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        self._stop = True
        self._thread.join(timeout=2)
        for conn in self._held:
            conn.close()
        self._sock.close()
        try:
            os.unlink(self.path)
            os.rmdir(self._dir)
        except OSError:
            pass


class BusMonitor:
    """dbus-monitor on the session's accessibility bus: the method calls made while it runs.

    `calls()` stops it and returns each call as (destination, path, interface, member, arguments),
    the arguments as dbus-monitor prints them."""

    def __init__(self, session):
        reply = subprocess.run(["dbus-send", "--session", "--print-reply=literal", "--dest=org.a11y.Bus",
                                "/org/a11y/bus", "org.a11y.Bus.GetAddress"], env=session.env,
                               capture_output=True, text=True, timeout=30, check=True)
        # Into a file, not a pipe: a monitor blocked on a full pipe gets no more messages from the
        # bus, which silently dropped half of a 600-call search.
        self._out = tempfile.TemporaryFile("w+")
        self.proc = subprocess.Popen(["stdbuf", "-oL", "dbus-monitor", "--address", reply.stdout.strip(),
                                      "type='method_call'"],
                                     env=session.env, stdout=self._out, stderr=subprocess.DEVNULL, text=True)
        # It prints the loss of its own name as soon as it is monitoring; a monitor that never
        # starts leaves the call list empty, which the tests' own checks then catch.
        deadline = time.monotonic() + READY_TIMEOUT_S
        while os.fstat(self._out.fileno()).st_size == 0 and time.monotonic() < deadline:
            time.sleep(0.01)

    def calls(self):
        self.proc.terminate()
        self.proc.wait(timeout=30)
        self._out.seek(0)
        calls = []
        for line in self._out.read().splitlines():
            if line.startswith("method call "):
                fields = dict(f.split("=", 1) for f in line.replace(";", "").split() if "=" in f)
                calls.append([fields.get("destination"), fields.get("path"), fields.get("interface"),
                              fields.get("member"), ""])
            elif calls and line.startswith(" "):
                calls[-1][4] += line.strip() + " "
        return [tuple(c) for c in calls]

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self._out.close()


class SessionTestCase(unittest.TestCase):
    """A test class whose tests share one headless session (with the accessibility bus)."""

    @classmethod
    def setUpClass(cls):
        cls.session = HeadlessSession().__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.session.__exit__(None, None, None)
