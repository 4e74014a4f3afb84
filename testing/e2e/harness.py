"""Helpers for the end-to-end tests (tests/e2e, run with this folder on PYTHONPATH as ctest does).

`Fixture` runs a window program in a session and returns once it printed "ready"; `run_tool` runs
bin/<tool> (TOOLS_BIN, else build/bin) and never hangs (a tool past its timeout is killed and the
result says so); `reader_output` checks a reader's documented output.
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
# A loaded 2-core CI machine may need several seconds to start GTK and the accessibility bus.
READY_TIMEOUT_S = 90


class ToolResult:
    def __init__(self, returncode, stdout, stderr, seconds, timed_out):
        self.returncode, self.stdout, self.stderr, self.seconds, self.timed_out = (
            returncode, stdout, stderr, seconds, timed_out)

    def json_lines(self):
        return [json.loads(line) for line in self.stdout.decode("utf-8").splitlines() if line.strip()]

    def __repr__(self):
        return "ToolResult(rc=%r, %.3fs, timed_out=%r, stdout=%r, stderr=%r)" % (
            self.returncode, self.seconds, self.timed_out, self.stdout[:400], self.stderr[:400])


def tool_command(tool, *args):
    """`tool` with `args`, behind TOOLS_WRAPPER when set (e.g. "valgrind --error-exitcode=99")."""
    bin_dir = os.environ.get("TOOLS_BIN") or os.path.join(HERE, "..", "..", "build", "bin")
    return [*os.environ.get("TOOLS_WRAPPER", "").split(), os.path.join(bin_dir, tool), *map(str, args)]


def spawn(session, tool, *args, env=None, stdout=subprocess.PIPE, **kw):
    proc = subprocess.Popen(tool_command(tool, *args), env=env or session.env, stdin=subprocess.DEVNULL,
                            stdout=stdout, stderr=subprocess.PIPE, **kw)
    proc.started = time.monotonic()
    return proc


def finish(proc, timeout=60):
    """The ToolResult of a started tool, killed past `timeout` seconds."""
    try:
        out, err = proc.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        out, err = proc.communicate()
        return ToolResult(proc.returncode, out or b"", err, time.monotonic() - proc.started, True)
    return ToolResult(proc.returncode, out or b"", err, time.monotonic() - proc.started, False)


def run_tool(session, tool, *args, timeout=60, env=None):
    return finish(spawn(session, tool, *args, env=env), timeout)


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
    """A window program of this folder (fixture.py showing the window `desc`; hostile_app.py; or
    toolkit_windows.py with `desc` its argument list) running in `session`, ready once built."""

    def __init__(self, session, desc, script="fixture.py"):
        args = desc if isinstance(desc, list) else [json.dumps(desc)]
        self.proc = subprocess.Popen(["/usr/bin/python3", os.path.join(HERE, script), *args], env=session.env,
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.pid, self._lines = self.proc.pid, queue.Queue()
        self._reader = threading.Thread(target=lambda: [*map(self._lines.put, self.proc.stdout), self._lines.put("")])
        self._reader.start()
        if self.line() != "ready":
            self.stop()
            raise RuntimeError(script + " did not get ready")

    def line(self, timeout=READY_TIMEOUT_S):
        try:
            return self._lines.get(timeout=timeout).strip()
        except queue.Empty:
            return None

    def command(self, text):
        """A line to the window program, and its answer."""
        self.proc.stdin.write(text + "\n")
        self.proc.stdin.flush()
        return self.line()

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
        while (line := self.line(max(0.01, deadline - time.monotonic()))) and not line.startswith("gap-ms "):
            pass
        if not line:
            raise RuntimeError("fixture did not report its gap")
        return float(line.split()[1])

    def stop(self):
        if self.proc.poll() is None:
            self.thaw()
            self.proc.terminate()
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self._reader.join()
        self.proc.stdin.close()
        self.proc.stdout.close()


def silent_bus(test):
    """The address of a unix socket that takes every connection and never says a word: a hung bus."""
    path = os.path.join(tempfile.mkdtemp(prefix="silent-bus-"), "socket")
    sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    test.addCleanup(sock.close)
    sock.bind(path)
    sock.listen(64)  # connections wait in the backlog, never accepted
    return "unix:path=" + path


class BusMonitor:
    """dbus-monitor on the session's accessibility bus. `calls()` stops it and returns the method
    calls made meanwhile as (destination, path, interface, member, arguments)."""

    def __init__(self, session):
        address = subprocess.run(["xprop", "-root", "AT_SPI_BUS"], env=session.env, capture_output=True,
                                 text=True, timeout=30).stdout.split("=", 1)[1].strip().strip('"')
        # Into a file, not a pipe: a monitor blocked on a full pipe gets no more messages from the bus.
        self._out = tempfile.TemporaryFile("w+")
        self.proc = subprocess.Popen(["stdbuf", "-oL", "dbus-monitor", "--address", address, "type='method_call'"],
                                     stdout=self._out, stderr=subprocess.DEVNULL, text=True)
        # It prints the loss of its own name once it monitors; one that never starts leaves the call
        # list empty, which the tests' own checks catch.
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
                calls.append([fields.get(k) for k in ("destination", "path", "interface", "member")] + [""])
            elif calls and line.startswith(" "):
                calls[-1][4] += line.strip() + " "
        return [tuple(c) for c in calls]

    def __enter__(self):
        return self

    def __exit__(self, *exc):
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
