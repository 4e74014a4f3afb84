"""Helpers for the end-to-end tests: a headless session, the GTK fixture, running a tool.

Typical use (run with /usr/bin/python3, which has python3-gi):

    from harness import HeadlessSession, Fixture, run_tool

    with HeadlessSession() as session:
        desc = {"root": {"type": "box", "children": [
                    {"type": "textview", "id": "notes", "text": "Hello 😀 world"}]},
                "focus": "notes", "caret": 6}
        with Fixture(session, desc) as app:      # returns once the fixture printed "ready"
            result = run_tool(session, "selprobe")
            self.assertEqual(json.loads(result.stdout)["before"], "Hello ")
            app.freeze()                          # SIGSTOP: reads of it must now time out
            ...

`Fixture` takes the window description documented in fixture.py; `fixture.pid` is its process id and
`fixture.name` its application name (what the tools report as the bundle identifier). `run_tool`
runs bin/<tool> (TOOLS_BIN, else build/bin) in the session and returns its stdout and stderr bytes,
exit status and wall time; it never hangs (a tool that overruns its timeout is killed and the
result says so). `SilentBus` is a unix socket that accepts connections and never answers, to point
DBUS_SESSION_BUS_ADDRESS or AT_SPI_BUS_ADDRESS at.

How the fixture becomes active without a window manager: under Xvfb GTK's present() falls back to
XSetInputFocus on its window, which is enough for GTK to report the window active and AT-SPI to give
it STATE_ACTIVE; the fixture prints "ready" only after it saw that state on the accessibility bus.
"""
import json
import os
import queue
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


def run_tool(session, tool, *args, timeout=60, env=None):
    """Runs a tool (a name in TOOLS_BIN or a path) with `args` inside the session."""
    start = time.monotonic()
    proc = subprocess.Popen(tool_command(tool, *args), env=env or session.env,
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    timed_out = False
    try:
        out, err = proc.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        timed_out = True
        proc.kill()
        out, err = proc.communicate()
    return ToolResult(proc.returncode, out, err, time.monotonic() - start, timed_out)


class Fixture:
    """The GTK fixture application (fixture.py) showing `desc`; ready when the constructor returns."""

    def __init__(self, session, desc, ready_timeout=READY_TIMEOUT_S):
        self.name = desc.get("name", "fixture")
        self._lines = queue.Queue()
        self.stderr = b""
        self.proc = subprocess.Popen([PYTHON, os.path.join(HERE, "fixture.py"), json.dumps(desc)],
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
