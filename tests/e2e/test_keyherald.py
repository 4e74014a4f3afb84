"""keyherald end to end: the real binary in a headless X session, keys driven through XTEST.

Keys are pressed by decimal X key code (right Alt 108, right Control 105, left Alt 64, F13 191):
by keysym, xdotool may press the left twin or remap a key.
"""
import os
import select
import signal
import subprocess
import tempfile
import time
import unittest

from session import HeadlessSession

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS_BIN = os.environ.get("TOOLS_BIN", os.path.join(HERE, "..", "..", "build", "bin"))
KEYHERALD = os.path.join(TOOLS_BIN, "keyherald")

RIGHT_ALT, LEFT_ALT, RIGHT_CTRL, F13 = 108, 64, 105, 191
GRANTED = ("Accessibility granted \u2014 key monitor active "
           "(dictate=fn command=right_opt edit=right_ctrl handsfree=none)\n")
# Generous: CI runs this on a loaded two-core machine.
LINE_TIMEOUT = 15


class Herald:
    """One keyherald process: stdout on a pipe read line by line, stderr in a file."""

    def __init__(self, env, args=()):
        self._err = tempfile.TemporaryFile()
        self.proc = subprocess.Popen([KEYHERALD, *args], env=env, stdout=subprocess.PIPE,
                                     stderr=self._err)
        self._buffer = b""

    def line(self, timeout=LINE_TIMEOUT):
        """The next stdout line without its line feed; None at end of file or after the timeout."""
        deadline = time.monotonic() + timeout
        while b"\n" not in self._buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            ready, _, _ = select.select([self.proc.stdout], [], [], left)
            if not ready:
                return None
            chunk = os.read(self.proc.stdout.fileno(), 4096)
            if not chunk:
                return None
            self._buffer += chunk
        line, self._buffer = self._buffer.split(b"\n", 1)
        return line.decode()

    def rest_of_stdout(self):
        """Everything still unread once the process has ended."""
        return self._buffer + self.proc.stdout.read()

    def stderr(self):
        self._err.seek(0)
        return self._err.read().decode()

    def terminate(self, timeout=LINE_TIMEOUT):
        self.proc.send_signal(signal.SIGTERM)
        return self.proc.wait(timeout=timeout)

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        if self.proc.stdout and not self.proc.stdout.closed:
            self.proc.stdout.close()
        self._err.close()


class KeyheraldTest(unittest.TestCase):
    def setUp(self):
        self.assertTrue(os.access(KEYHERALD, os.X_OK), KEYHERALD + " is not built")
        self.session = HeadlessSession(a11y=False).__enter__()
        self.addCleanup(self.session.stop)

    def start(self, *args, env=None):
        herald = Herald(env or self.session.env, args)
        self.addCleanup(herald.close)
        return herald

    def started(self, *args):
        herald = self.start(*args)
        self.assertEqual(herald.line(), "READY")
        return herald

    def key(self, action, code):
        subprocess.run(["xdotool", action, str(code)], env=self.session.env, check=True,
                       timeout=LINE_TIMEOUT, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def expect(self, herald, action, code, line):
        """Moves one key and reads its line before anything else moves."""
        self.key(action, code)
        self.assertEqual(herald.line(), line, "after %s %d" % (action, code))

    def test_defaults_announce_ready_and_the_granted_line(self):
        herald = self.started()
        self.assertEqual(herald.terminate(), 0)
        self.assertEqual(herald.rest_of_stdout(), b"")
        self.assertEqual(herald.stderr(), GRANTED)

    def test_right_alt_and_right_control_give_their_lines(self):
        herald = self.started()
        self.expect(herald, "keydown", RIGHT_ALT, "CMD_DOWN")
        self.expect(herald, "keyup", RIGHT_ALT, "CMD_UP")
        self.expect(herald, "keydown", RIGHT_CTRL, "EDIT_DOWN")
        self.expect(herald, "keyup", RIGHT_CTRL, "EDIT_UP")
        self.assertEqual(herald.terminate(), 0)

    def test_left_alt_alone_gives_nothing(self):
        herald = self.started()
        self.key("keydown", LEFT_ALT)
        self.key("keyup", LEFT_ALT)
        # The next line after left Alt must be right Alt's: left Alt wrote nothing in between.
        self.expect(herald, "keydown", RIGHT_ALT, "CMD_DOWN")
        self.expect(herald, "keyup", RIGHT_ALT, "CMD_UP")

    def test_f13_as_dictation_key(self):
        herald = self.started("f13", "none", "none", "none")
        self.expect(herald, "keydown", F13, "FN_DOWN")
        self.expect(herald, "keyup", F13, "FN_UP")
        self.key("keydown", RIGHT_ALT)
        self.key("keyup", RIGHT_ALT)
        self.expect(herald, "keydown", F13, "FN_DOWN")
        self.assertIn("dictate=f13 command=none edit=none handsfree=none", herald.stderr())

    def test_right_alt_released_while_left_alt_held(self):
        herald = self.started()
        self.expect(herald, "keydown", RIGHT_ALT, "CMD_DOWN")
        self.key("keydown", LEFT_ALT)
        self.expect(herald, "keyup", RIGHT_ALT, "CMD_UP")
        self.key("keyup", LEFT_ALT)
        self.assertEqual(herald.terminate(), 0)
        self.assertEqual(herald.rest_of_stdout(), b"")

    def test_sigterm_with_a_key_held_writes_no_up_line(self):
        herald = self.started()
        self.expect(herald, "keydown", RIGHT_CTRL, "EDIT_DOWN")
        self.assertEqual(herald.terminate(), 0)
        self.assertEqual(herald.rest_of_stdout(), b"")
        self.key("keyup", RIGHT_CTRL)

    def test_host_closing_stdout_ends_it_at_the_next_line(self):
        herald = self.started()
        herald.proc.stdout.close()
        time.sleep(0.5)
        self.assertIsNone(herald.proc.poll(), "ended before it had a line to write")
        self.key("keydown", RIGHT_ALT)
        self.assertEqual(herald.proc.wait(timeout=LINE_TIMEOUT), 0)
        self.key("keyup", RIGHT_ALT)

    def test_unusable_display_waits_quietly_and_ends_on_sigterm(self):
        refusing = ":%d" % unused_display()
        self.addCleanup(stop, refusing_xvfb(refusing, self.session.env["XDG_RUNTIME_DIR"]))
        for name, display in (("no display", ":%d" % unused_display()), ("connection refused", refusing)):
            with self.subTest(name):
                env = dict(self.session.env, DISPLAY=display, XAUTHORITY="/nonexistent")
                herald = self.start(env=env)
                # Several one-second retries pass; none of them may write again or spin.
                self.assertIsNone(herald.line(timeout=4.5))
                self.assertIsNone(herald.proc.poll())
                cpu_seconds = cpu_time(herald.proc.pid)
                self.assertEqual(herald.terminate(), 0)
                self.assertEqual(herald.rest_of_stdout(), b"")
                self.assertEqual(herald.stderr(), "WAITING_FOR_ACCESSIBILITY\n")
                self.assertLess(cpu_seconds, 1.0, "busy while waiting")

    def test_display_that_appears_later_is_picked_up_on_a_tick(self):
        number = unused_display()
        env = dict(self.session.env)
        env["DISPLAY"] = ":%d" % number
        herald = self.start(env=env)
        self.assertIsNone(herald.line(timeout=2.5))
        xvfb = subprocess.Popen(["Xvfb", ":%d" % number, "-nolisten", "tcp"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(stop, xvfb)
        self.assertEqual(herald.line(timeout=30), "READY")
        # The granted line follows "READY"; once SIGTERM is handled it has surely been written.
        self.assertEqual(herald.terminate(), 0)
        self.assertEqual(herald.stderr(), "WAITING_FOR_ACCESSIBILITY\n" + GRANTED)

    def test_lost_display_ends_it_with_status_0(self):
        herald = self.started()
        xvfb = self.session._procs[0]
        xvfb.terminate()
        xvfb.wait(timeout=LINE_TIMEOUT)
        self.assertEqual(herald.proc.wait(timeout=LINE_TIMEOUT), 0)
        self.assertEqual(herald.rest_of_stdout(), b"")
        self.assertTrue(herald.stderr().endswith("X display connection lost \u2014 keyherald ends\n"),
                        herald.stderr())


def unused_display():
    number = 900
    while os.path.exists("/tmp/.X11-unix/X%d" % number) or os.path.exists("/tmp/.X%d-lock" % number):
        number += 1
    return number


def refusing_xvfb(display, directory):
    """An Xvfb that only lets in clients with a cookie nobody else has; ready when it returns."""
    cookie = os.path.join(directory, "cookie")
    field = lambda b: len(b).to_bytes(2, "big") + b  # noqa: E731
    with open(cookie, "wb") as f:  # one Xauthority entry: family Local, address, display, name, data
        f.write((256).to_bytes(2, "big") + field(b"x") + field(display[1:].encode())
                + field(b"MIT-MAGIC-COOKIE-1") + field(os.urandom(16)))
    xvfb = subprocess.Popen(["Xvfb", display, "-auth", cookie, "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + LINE_TIMEOUT
    while not os.path.exists("/tmp/.X11-unix/X" + display[1:]) and time.monotonic() < deadline:
        time.sleep(0.05)
    return xvfb


def stop(proc):
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def cpu_time(pid):
    """User plus system CPU seconds of a running process."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


if __name__ == "__main__":
    unittest.main()
