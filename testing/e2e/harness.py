"""Helpers for the end-to-end tests (tests/e2e; this folder on PYTHONPATH, as ctest sets it): run a
tool (TOOLS_BIN, else build/bin) and never hang, check a reader's documented output, run a window."""
import contextlib
import json
import os
import re
import signal
import socket
import subprocess
import tempfile
import threading
import time
import types
import unittest

from session import HeadlessSession, a11y_bus, end_process  # noqa: F401  (re-exported for the tests)

HERE = os.path.dirname(os.path.abspath(__file__))
# A loaded 2-core CI machine may need several seconds to start GTK and the accessibility bus.
READY_TIMEOUT_S = 90
ROOT = "/org/a11y/atspi/accessible/root"


class ToolResult(types.SimpleNamespace):
    """returncode (-9: killed at its timeout), stdout, stderr, seconds"""

    def __repr__(self):
        return "ToolResult(rc=%r, %.3fs, stdout=%r, stderr=%r)" % (
            self.returncode, self.seconds, self.stdout[:400], self.stderr[:400])


def tool_command(tool, *args):
    bin_dir = os.environ.get("TOOLS_BIN") or os.path.join(HERE, "..", "..", "build", "bin")
    return [os.path.join(bin_dir, tool), *map(str, args)]


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
    return ToolResult(returncode=proc.returncode, stdout=out or b"", stderr=err, seconds=time.monotonic() - proc.started)


def run_tool(session, tool, *args, timeout=60, env=None):
    return finish(spawn(session, tool, *args, env=env), timeout)


PANESCAN_SUMMARY = re.compile(r"panescan: trusted=true app=(.*) nodes=(\d+) textAreas=(\d+) chars=(\d+)")
NOT_TRUSTED = {"fieldpeek": "fieldpeek: not trusted for Accessibility \u2014 nothing to do\n",
               "panescan": "panescan: NOT trusted for Accessibility \u2014 grant it in System Settings\n"}


def reader_output(test, tool, result, trusted=True):
    """Asserts `result` is the reader's documented output, status 0 and whole lines, and returns what
    the host parses: selprobe's object, fieldpeek's poll lines, panescan's summary match."""
    test.assertEqual(result.returncode, 0, result)
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


class Program(contextlib.AbstractContextManager):
    """A program running in `session`, its output lines collected on a thread (it never blocks on
    the pipe) and its standard error kept in a file. Killed when the test is done with it."""

    def __init__(self, session, cmd, env=None):
        self._err, self.out, self.taken = tempfile.TemporaryFile(), [], 0
        self.proc = subprocess.Popen(cmd, env=env or session.env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=self._err)
        self.pid = self.proc.pid
        self._reader = threading.Thread(target=lambda: self.out.extend(self.proc.stdout))
        self._reader.start()

    def lines(self, timeout=READY_TIMEOUT_S, count=0):
        """Every whole line, once `count` of them arrived, the output ended or the timeout passed."""
        deadline = time.monotonic() + timeout
        while len(self.out) < count and self._reader.is_alive() and time.monotonic() < deadline:
            time.sleep(0.01)
        return [line.decode().rstrip("\n") for line in self.out if line.endswith(b"\n")]

    def line(self, timeout=READY_TIMEOUT_S):
        """The next line not yet taken; None if none comes in time."""
        lines = self.lines(timeout, self.taken + 1)[self.taken:]
        self.taken += bool(lines)
        return lines[0] if lines else None

    def command(self, text):
        """A line to the program, and its answer."""
        self.proc.stdin.write(text.encode() + b"\n")
        self.proc.stdin.flush()
        return self.line()

    def end(self, sig=signal.SIGTERM, timeout=15):
        """Status and standard error, after `sig` (None: once it ends on its own)."""
        sig and self.proc.send_signal(sig)
        status = self.proc.wait(timeout)
        self._err.seek(0)
        return status, self._err.read().decode()

    def __exit__(self, *exc):
        if self.proc.poll() is None:
            os.kill(self.pid, signal.SIGCONT)  # a frozen program cannot act on SIGTERM
        end_process(self.proc, 5)
        self._reader.join()
        for stream in (self.proc.stdin, self.proc.stdout, self._err):
            stream and stream.close()


class Fixture(Program):
    """A window program of this folder (fixture.py showing the window `desc`; hostile_app.py; or
    toolkit_windows.py with `desc` its argument list) running in `session`, ready once built."""

    def __init__(self, session, desc, script="fixture.py", ready_timeout=READY_TIMEOUT_S):
        args = desc if isinstance(desc, list) else [json.dumps(desc)]
        super().__init__(session, ["/usr/bin/python3", os.path.join(HERE, script), *args])
        deadline = time.monotonic() + ready_timeout
        # The hostile application's window may be active only once listened to: listed is enough.
        if not (self.line(ready_timeout) == "ready" and listed(session, self.pid, script != "hostile_app.py", deadline)):
            self.end(signal.SIGKILL)
            raise RuntimeError("%s did not get ready: %r" % (script, self.end(None)[1][-2000:]))


def listed(session, pid, active, deadline):
    """Whether the registry lists process `pid` (with an ACTIVE top-level window if `active`) by `deadline`."""
    from gi.repository import GLib
    bus = a11y_bus(session.env)

    def call(name, path, method, args=None, reply="(a(so))", iface="org.a11y.atspi.Accessible"):
        return bus.call_sync(name, path, iface, method, args, GLib.VariantType(reply), 0, 2000, None).unpack()[0]

    def shown(name, path):
        return call("org.freedesktop.DBus", "/org/freedesktop/DBus", "GetConnectionUnixProcessID", GLib.Variant(
            "(s)", (name,)), "(u)", "org.freedesktop.DBus") == pid and (not active or any(
                call(*window, "GetState", reply="(au)")[0] & 2 for window in call(name, path, "GetChildren")))
    try:
        while time.monotonic() < deadline:
            with contextlib.suppress(GLib.Error):  # no registry yet, or an application gone meanwhile
                if any(shown(*app) for app in call("org.a11y.atspi.Registry", ROOT, "GetChildren")):
                    return True
            time.sleep(0.05)
        return False
    finally:
        bus.close_sync(None)


def silent_bus(test):
    """The address of a unix socket that takes every connection and never says a word: a hung bus."""
    path = os.path.join(tempfile.mkdtemp(prefix="silent-bus-"), "socket")
    sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    test.addCleanup(sock.close)
    sock.bind(path)
    sock.listen(64)  # connections wait in the backlog, never accepted
    return "unix:path=" + path


class BusMonitor(contextlib.AbstractContextManager):
    """Watches the session's accessibility bus from the moment it is made. `calls()` returns the method
    calls made meanwhile as (destination, path, interface, member, arguments)."""

    def __init__(self, session):
        from gi.repository import Gio, GLib
        self._seen, self._bus, call = [], a11y_bus(session.env), Gio.DBusMessageType.METHOD_CALL
        # A monitor must never send a message: the calls it sees are taken out before GDBus answers them.
        self._bus.add_filter(lambda bus, msg, incoming: msg if not incoming or msg.get_message_type() != call else
                             self._seen.append((msg.get_destination(), msg.get_path(), msg.get_interface(),
                                                msg.get_member(), str(msg.get_body()))))
        self._bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus.Monitoring",
                            "BecomeMonitor", GLib.Variant("(asu)", (["type='method_call'"], 0)), None, 0, 30000, None)

    def calls(self):
        count = -1
        while count != len(self._seen):  # the last ones may still be on their way
            count = len(self._seen)
            time.sleep(0.1)
        return list(self._seen)

    def __exit__(self, *exc):
        self._bus.close_sync(None)


class SessionTestCase(unittest.TestCase):
    """A test class whose tests share one headless session (with the accessibility bus)."""

    @classmethod
    def setUpClass(cls):
        cls.session = cls.enterClassContext(HeadlessSession())
