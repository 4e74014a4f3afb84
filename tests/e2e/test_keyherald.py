"""keyherald end to end: the real binary in a headless X session, keys driven through XTEST by X key
code. Bounds are generous for a loaded CI machine."""
import os
import signal
import subprocess
import threading
import time
import unittest

from harness import Program, SessionTestCase, end_process, tool_command
from xtest import XTest

RIGHT_ALT, LEFT_ALT, RIGHT_CTRL = 108, 64, 105
DEFAULTS = "Accessibility granted \u2014 key monitor active (dictate=fn command=right_opt edit=right_ctrl handsfree=none)\n"
BURST_PAIRS = 50000  # right Alt pressed and released: 100000 lines, a few seconds here

# Each key moved (+ down, - up) with the line it must give (None: none before the next one's). The
# channels' logic and twins are the unit tests'; here the X layer's key codes: left Alt is no trigger.
MOVES = [(RIGHT_ALT, "CMD_DOWN"), (-RIGHT_ALT, "CMD_UP"), (RIGHT_CTRL, "EDIT_DOWN"), (-RIGHT_CTRL, "EDIT_UP"),
         (LEFT_ALT, None), (-LEFT_ALT, None), (RIGHT_CTRL, "EDIT_DOWN")]  # held to the end: no up line


class KeyheraldTest(SessionTestCase):
    def setUp(self):
        self.xtest = XTest(self.session.env["DISPLAY"])
        self.addCleanup(self.xtest.close)

    def herald(self, **kw):
        return self.enterContext(Program(self.session, tool_command("keyherald"), **kw))

    def test_channels_then_a_burst_and_sigterm_during_it(self):
        herald = self.herald()
        self.assertEqual(herald.line(), "READY")
        for key, line in MOVES:
            self.xtest.move(key)
            line and self.assertEqual(herald.line(), line, key)
        # Every event of a burst is seen, right Control still held; then SIGTERM, repeated quickly
        # while it writes, ends the run with status 0 and whole lines, no up line for the held key.
        taken = herald.taken
        self.xtest.presses(RIGHT_ALT, BURST_PAIRS)
        self.assertEqual(len(herald.lines(120, taken + 2 * BURST_PAIRS)), taken + 2 * BURST_PAIRS)
        stop = threading.Event()
        sender = threading.Thread(target=self.xtest.presses, args=(RIGHT_ALT, BURST_PAIRS, stop))
        sender.start()
        herald.lines(120, taken + 2 * BURST_PAIRS + 2000)
        for _ in range(20):
            herald.proc.send_signal(signal.SIGTERM)
        self.assertEqual(herald.end(None), (0, DEFAULTS))
        stop.set()
        sender.join()
        self.xtest.move(-RIGHT_CTRL)
        lines = herald.lines(1)[taken:]
        self.assertGreater(len(lines), 2 * BURST_PAIRS)
        self.assertEqual(lines, (["CMD_DOWN", "CMD_UP"] * len(lines))[:len(lines)])

    def test_display_that_comes_and_goes(self):
        number = unused_display(900)
        env = dict(self.session.env, DISPLAY=":%d" % number)
        # A display that refuses the connection (Xlib's own complaint must not reach stderr).
        refusing = dict(env, DISPLAY=":%d" % unused_display(number + 1), XAUTHORITY="/nonexistent")
        self.addCleanup(end_process, refusing_xvfb(refusing["DISPLAY"], self.session.env["XDG_RUNTIME_DIR"]))
        stopped, refused, waiting = self.herald(env=env), self.herald(env=refusing), self.herald(env=env)
        # Several one-second retries pass; none of them may write again or spin.
        self.assertIsNone(waiting.line(timeout=4.5))
        for herald in (stopped, refused):
            with open("/proc/%d/stat" % herald.proc.pid) as f:
                self.assertLess(sum(map(int, f.read().rsplit(")", 1)[1].split()[11:13])), os.sysconf("SC_CLK_TCK"))
            self.assertEqual(herald.end(), (0, "WAITING_FOR_ACCESSIBILITY\n"))
        xvfb = subprocess.Popen(["Xvfb", env["DISPLAY"], "-nolisten", "tcp"], stderr=subprocess.DEVNULL)
        self.addCleanup(end_process, xvfb)
        self.assertEqual(waiting.line(timeout=30), "READY")
        time.sleep(0.5)
        xvfb.terminate()
        self.assertEqual(waiting.end(None), (0, "WAITING_FOR_ACCESSIBILITY\n" + DEFAULTS
                                             + "X display connection lost \u2014 keyherald ends\n"))
        self.assertEqual(waiting.lines(0.3, 2), ["READY"])


def unused_display(number):
    while os.path.exists("/tmp/.X11-unix/X%d" % number) or os.path.exists("/tmp/.X%d-lock" % number):
        number += 1
    return number


def refusing_xvfb(display, directory):
    """An Xvfb that only lets in clients with a cookie nobody else has; ready when it returns."""
    cookie = os.path.join(directory, "cookie")
    subprocess.run(["xauth", "-q", "-f", cookie, "add", display, ".", os.urandom(16).hex()], check=True, timeout=30)
    xvfb = subprocess.Popen(["Xvfb", display, "-auth", cookie, "-nolisten", "tcp"], stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 30
    while not os.path.exists("/tmp/.X11-unix/X" + display[1:]) and time.monotonic() < deadline:
        time.sleep(0.05)
    return xvfb


if __name__ == "__main__":
    unittest.main()
