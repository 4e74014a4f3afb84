"""keyherald's faults end to end: SIGTERM at every moment of its life and repeated quickly, the
host gone before READY, and a burst of 100000 key events through XTEST, every line present and
strictly alternating.
"""
import ctypes
import os
import signal
import subprocess
import threading
import time
import unittest

from harness import HeadlessSession
from test_faults import finish, spawn

LINE_TIMEOUT = 15


class XTest:
    """Key events straight into the X server through XTEST, far faster than one xdotool a key."""

    def __init__(self, display):
        self.x11 = ctypes.CDLL("libX11.so.6")
        self.xtst = ctypes.CDLL("libXtst.so.6")
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XFlush.argtypes = [ctypes.c_void_p]
        self.x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
        self.dpy = self.x11.XOpenDisplay(display.encode())
        if not self.dpy:
            raise RuntimeError("cannot open display " + display)

    def presses(self, keycode, count, stop=None):
        """`count` press/release pairs of `keycode`, flushed in batches; returns pairs sent."""
        for i in range(count):
            if stop is not None and stop.is_set():
                self.x11.XSync(self.dpy, 0)
                return i
            self.xtst.XTestFakeKeyEvent(self.dpy, keycode, 1, 0)
            self.xtst.XTestFakeKeyEvent(self.dpy, keycode, 0, 0)
            if i % 500 == 499:
                self.x11.XSync(self.dpy, 0)
        self.x11.XSync(self.dpy, 0)
        return count

    def close(self):
        self.x11.XCloseDisplay(self.dpy)


class LineReader:
    """Drains a tool's standard output on a thread, so that the tool never blocks on the pipe."""

    def __init__(self, stream):
        self.data = bytearray()
        self._stream = stream
        self._thread = threading.Thread(target=self._read, daemon=True)
        self._thread.start()

    def _read(self):
        while True:
            chunk = os.read(self._stream.fileno(), 1 << 16)
            if not chunk:
                return
            self.data += chunk

    def lines(self):
        return bytes(self.data).decode().splitlines()

    def wait_for(self, count, timeout):
        deadline = time.monotonic() + timeout
        while self.data.count(b"\n") < count and time.monotonic() < deadline:
            time.sleep(0.05)
        return self.data.count(b"\n")

    def join(self, timeout=LINE_TIMEOUT):
        self._thread.join(timeout)


RIGHT_ALT = 108
# Press and release pairs of right Alt, so 2 * BURST_PAIRS lines. Measured: the whole burst takes a
# few seconds here, far inside the bound below.
BURST_PAIRS = 50000
BURST_BOUND_S = 120


class KeyheraldFaultsTest(unittest.TestCase):
    def setUp(self):
        self.session = HeadlessSession(a11y=False).__enter__()
        self.addCleanup(self.session.stop)

    def start(self, **kw):
        proc = spawn(self.session, "keyherald", **kw)
        self.addCleanup(self.reap, proc)
        return proc

    @staticmethod
    def reap(proc):
        if proc.poll() is None:
            proc.kill()
        proc.wait()
        for stream in (proc.stdout, proc.stderr):
            if stream:
                stream.close()

    def started(self):
        proc = self.start()
        reader = LineReader(proc.stdout)
        self.assertEqual(reader.wait_for(1, LINE_TIMEOUT), 1)
        self.assertEqual(reader.lines(), ["READY"])
        return proc, reader

    def assertAlternating(self, lines, down="CMD_DOWN", up="CMD_UP"):
        for i, line in enumerate(lines):
            self.assertEqual(line, down if i % 2 == 0 else up, "line %d of %d" % (i, len(lines)))

    def test_sigterm_at_every_moment_of_the_start(self):
        # Before the handler is installed SIGTERM takes its default action; from then on it ends
        # the run with status 0. Neither may hang, and nothing but READY may have been written.
        for delay in (0, 0.001, 0.005, 0.02, 0.05, 0.1, 0.3):
            with self.subTest(delay=delay):
                proc = self.start()
                time.sleep(delay)
                proc.send_signal(signal.SIGTERM)
                out, err, _ = finish(proc, LINE_TIMEOUT)
                self.assertIn(proc.returncode, (0, -signal.SIGTERM), err)
                self.assertIn(out, (b"", b"READY\n"))

    def test_sigterm_repeated_quickly_while_listening(self):
        proc, reader = self.started()
        for _ in range(200):
            try:
                proc.send_signal(signal.SIGTERM)
            except ProcessLookupError:
                break
        self.assertEqual(proc.wait(timeout=LINE_TIMEOUT), 0)
        reader.join()
        self.assertEqual(reader.lines(), ["READY"])

    def test_sigterm_during_a_burst_of_key_events(self):
        proc, reader = self.started()
        xtest = XTest(self.session.env["DISPLAY"])
        self.addCleanup(xtest.close)
        stop = threading.Event()
        sender = threading.Thread(target=xtest.presses, args=(RIGHT_ALT, BURST_PAIRS, stop), daemon=True)
        sender.start()
        self.addCleanup(sender.join)
        self.addCleanup(stop.set)
        reader.wait_for(2000, BURST_BOUND_S)
        for _ in range(20):
            try:
                proc.send_signal(signal.SIGTERM)
            except ProcessLookupError:
                break
        self.assertEqual(proc.wait(timeout=LINE_TIMEOUT), 0)
        stop.set()
        reader.join()
        lines = reader.lines()
        self.assertEqual(lines[0], "READY")
        self.assertGreater(len(lines), 1)
        self.assertAlternating(lines[1:])

    def test_burst_of_key_events_gives_every_line(self):
        proc, reader = self.started()
        xtest = XTest(self.session.env["DISPLAY"])
        self.addCleanup(xtest.close)
        start = time.monotonic()
        xtest.presses(RIGHT_ALT, BURST_PAIRS)
        sent = time.monotonic() - start
        got = reader.wait_for(1 + 2 * BURST_PAIRS, BURST_BOUND_S)
        seconds = time.monotonic() - start
        self.assertEqual(got, 1 + 2 * BURST_PAIRS)
        self.assertEqual(proc.send_signal(signal.SIGTERM), None)
        self.assertEqual(proc.wait(timeout=LINE_TIMEOUT), 0)
        reader.join()
        lines = reader.lines()
        self.assertEqual(len(lines), 1 + 2 * BURST_PAIRS)
        self.assertAlternating(lines[1:])
        print("\nkeyherald: %d key events sent in %.2f s, every line read after %.2f s"
              % (2 * BURST_PAIRS, sent, seconds))

    def test_host_gone_before_the_ready_line(self):
        read_end, write_end = os.pipe()
        os.close(read_end)
        self.addCleanup(os.close, write_end)
        for how, kw in (("closed", {"stdout": subprocess.DEVNULL, "preexec_fn": lambda: os.close(1)}),
                        ("broken pipe", {"stdout": write_end})):
            with self.subTest(stdout=how):
                proc = self.start(**kw)
                # READY is its first line: it cannot be written, so the run ends there.
                out, err, seconds = finish(proc, LINE_TIMEOUT)
                self.assertEqual(proc.returncode, 0, err)


if __name__ == "__main__":
    unittest.main()
