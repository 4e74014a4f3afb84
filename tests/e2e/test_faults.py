"""Faults end to end for the readers: the application killed or frozen mid-walk, the accessibility
bus gone or silent, the host gone. Whatever happens, each tool ends in bounded time with its
documented output and status 0 (keyherald's faults: test_keyherald_faults.py).

Bounds are generous on purpose: CI runs this on a loaded two-core machine, and a watchdog or call
timeout of a few seconds must fit many times over.
"""
import json
import os
import re
import signal
import subprocess
import time
import unittest

from harness import Fixture, HeadlessSession, SessionTestCase, SilentBus, run_tool, tool_command
from test_security import HostileApplication

ONE_SHOT_BOUND_S = 30
PANESCAN_SUMMARY = re.compile(r"^panescan: trusted=(true|false) app=.* nodes=\d+ textAreas=\d+ chars=\d+$")
FIELDPEEK_DONE = re.compile(r"^fieldpeek: done polls=(\d+) withText=(\d+)$")
FIELDPEEK_NOT_TRUSTED = "fieldpeek: not trusted for Accessibility \u2014 nothing to do"
PANESCAN_NOT_TRUSTED = "panescan: NOT trusted for Accessibility \u2014 grant it in System Settings"
BIG_WINDOW = {"name": "big",
              "root": {"type": "box", "children": [
                  {"type": "button", "id": "b", "label": "Go"},
                  {"type": "scroll", "child": {"type": "labels", "count": 4000, "prefix": "Label "}}]},
              "focus": "b"}
# fieldpeek runs long enough to poll several times around the fault.
FIELDPEEK_ARGS = ("200", "3000")


def spawn(session, tool, *args, stdout=subprocess.PIPE, env=None, **kw):
    return subprocess.Popen(tool_command(tool, *args), env=env or session.env, stdin=subprocess.DEVNULL,
                            stdout=stdout, stderr=subprocess.PIPE, **kw)


def finish(proc, bound):
    """(stdout, stderr, seconds since the call) of a running tool, killing it past `bound`."""
    start = time.monotonic()
    try:
        out, err = proc.communicate(timeout=bound)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.communicate()
        raise AssertionError("still running after %.0f s" % bound)
    return out or b"", err, time.monotonic() - start


class Checks:
    """The documented output of each reader, whatever the fault."""

    def assertPanescanOutput(self, rc, out, err):
        self.assertEqual(rc, 0)
        lines = err.decode("utf-8").splitlines()
        self.assertTrue(lines and PANESCAN_SUMMARY.match(lines[-1]), err)
        for line in lines[:-1]:
            self.assertEqual(line, "panescan: no focused application", err)
        self.assertLessEqual(len(out.decode("utf-8")), 16000)  # ASCII labels: one unit a character

    def assertFieldpeekOutput(self, rc, out, err):
        self.assertEqual(rc, 0)
        lines = out.decode("utf-8").split("\n")
        self.assertEqual(lines.pop(), "", "the last line is not whole")
        for line in lines:
            obj = json.loads(line)
            self.assertEqual(set(obj), {"role", "texts"}, line)
            self.assertTrue(all(isinstance(t, str) for t in obj["texts"]), line)
        diagnostics = err.decode("utf-8").splitlines()
        self.assertEqual(len(diagnostics), 1, err)
        done = FIELDPEEK_DONE.match(diagnostics[0])
        self.assertTrue(done, err)
        self.assertGreaterEqual(int(done.group(1)), len(lines))
        return lines

    def assertSelprobeOutput(self, rc, out, err):
        self.assertEqual(rc, 0)
        self.assertEqual(err, b"")
        self.assertTrue(out.endswith(b"\n") and out.count(b"\n") == 1, out)
        obj = json.loads(out)
        self.assertIsInstance(obj["ok"], bool)
        return obj


class ReaderFaultsTest(SessionTestCase, Checks):
    def run_against_fault(self, tool, args, fault, delay_s):
        """Starts `tool`, applies `fault` to a fresh big-window fixture after `delay_s`, waits."""
        with Fixture(self.session, BIG_WINDOW) as app:
            proc = spawn(self.session, tool, *args)
            time.sleep(delay_s)
            fault(app)
            bound = ONE_SHOT_BOUND_S + (3 if tool == "fieldpeek" else 0)
            try:
                out, err, seconds = finish(proc, bound)
            finally:
                app.thaw()
        return proc.returncode, out, err, seconds

    def each_reader(self, fault):
        # Delays put the fault inside the walk of the 4000 labels on this machine (the walk alone
        # takes a few hundred ms); on a slower one it lands earlier, which must hold as well.
        for tool, args, delay, check in (("panescan", (), 0.15, self.assertPanescanOutput),
                                         ("selprobe", (), 0.05, self.assertSelprobeOutput),
                                         ("fieldpeek", FIELDPEEK_ARGS, 0.6, self.assertFieldpeekOutput)):
            with self.subTest(tool=tool):
                rc, out, err, seconds = self.run_against_fault(tool, args, fault, delay)
                check(rc, out, err)
                print("\n%s, %s at %.2f s: ended after %.2f s" % (tool, fault.__name__, delay, seconds))

    def test_application_killed_during_each_reader(self):
        def killed(app):
            app.proc.kill()
        self.each_reader(killed)

    def test_application_frozen_during_each_reader(self):
        def frozen(app):
            app.freeze()
        self.each_reader(frozen)

    def test_silent_accessibility_bus_for_fieldpeek_and_panescan(self):
        with SilentBus() as bus:
            env = dict(self.session.env, AT_SPI_BUS_ADDRESS=bus.address,
                       DBUS_SESSION_BUS_ADDRESS=bus.address)
            result = run_tool(self.session, "panescan", env=env, timeout=ONE_SHOT_BOUND_S)
            self.assertFalse(result.timed_out, result)
            self.assertEqual((result.returncode, result.stdout), (0, b""), result)
            self.assertEqual(result.stderr.decode("utf-8"), PANESCAN_NOT_TRUSTED + "\n")
            result = run_tool(self.session, "fieldpeek", "120", "120", env=env, timeout=ONE_SHOT_BOUND_S)
            self.assertFalse(result.timed_out, result)
            self.assertEqual((result.returncode, result.stdout), (0, b""), result)
            self.assertEqual(result.stderr.decode("utf-8"), FIELDPEEK_NOT_TRUSTED + "\n")

    def closed_stdout_runs(self, tool, args):
        """The tool with standard output closed, then with a pipe whose reader has gone."""
        read_end, write_end = os.pipe()
        os.close(read_end)
        try:
            for how, kw in (("closed", {"stdout": subprocess.DEVNULL, "preexec_fn": lambda: os.close(1)}),
                            ("broken pipe", {"stdout": write_end})):
                proc = spawn(self.session, tool, *args, **kw)
                out, err, seconds = finish(proc, ONE_SHOT_BOUND_S)
                yield how, proc.returncode, err, seconds
        finally:
            os.close(write_end)

    def test_host_gone_before_each_reader_starts(self):
        desc = {"root": {"type": "box", "children": [{"type": "entry", "id": "e", "text": "nobody reads"}]},
                "focus": "e"}
        with Fixture(self.session, desc):
            for tool, args in (("panescan", ()), ("selprobe", ()), ("fieldpeek", ("200", "60000"))):
                for how, rc, err, seconds in self.closed_stdout_runs(tool, args):
                    with self.subTest(tool=tool, stdout=how):
                        self.assertEqual(rc, 0, err)
                        if tool == "fieldpeek":
                            # The first line cannot be written: the run ends long before 60 s.
                            self.assertRegex(err.decode("utf-8"), r"^fieldpeek: done polls=1 withText=1\n$")
                        elif tool == "selprobe":
                            self.assertEqual(err, b"")
                        else:
                            self.assertTrue(PANESCAN_SUMMARY.match(err.decode("utf-8").strip()), err)

    def test_host_closing_stdout_during_fieldpeek(self):
        desc = {"root": {"type": "box", "children": [{"type": "entry", "id": "e", "text": "live"}]},
                "focus": "e"}
        with Fixture(self.session, desc):
            proc = spawn(self.session, "fieldpeek", "200", "60000")
            first = proc.stdout.readline()
            self.assertEqual(json.loads(first), {"role": "AXTextField", "texts": ["live"]})
            proc.stdout.close()
            start = time.monotonic()
            try:
                _, status, usage = os.wait4(proc.pid, 0)
            finally:
                if proc.poll() is None:
                    proc.kill()
            proc.returncode = os.waitstatus_to_exitcode(status)
            err = proc.stderr.read().decode("utf-8")
            proc.stderr.close()
        self.assertEqual(proc.returncode, 0, err)
        self.assertLess(time.monotonic() - start, 20, "ran on towards its 60 s deadline")
        self.assertRegex(err, r"^fieldpeek: done polls=\d+ withText=\d+\n$")
        self.assertLess(usage.ru_utime + usage.ru_stime, 5.0, "spun after the host left")


class SlowAnswerTest(unittest.TestCase):
    def test_one_slow_answer_loses_nothing(self):
        # Slower than a call's timeout once, in the search for the frontmost window and in the
        # read of the focused text: the call is asked again and every answer is whole.
        with HeadlessSession() as session:
            for slow in (["frame", "GetState", 450], ["entry", "GetText", 450]):
                app = HostileApplication(session, {"text": "Answered late, but whole.", "slow": slow})
                try:
                    result = run_tool(session, "selprobe", timeout=ONE_SHOT_BOUND_S)
                finally:
                    app.close()
                self.assertEqual(json.loads(result.stdout),
                                 {"ok": True, "role": "AXTextField", "before": "", "selected": "",
                                  "after": "Answered late, but whole.", "truncated": False}, slow)


class BusGoneTest(unittest.TestCase, Checks):
    """The accessibility bus dies while fieldpeek polls: the polls go on until the deadline."""

    def test_accessibility_bus_killed_while_fieldpeek_polls(self):
        with HeadlessSession() as session:
            desc = {"root": {"type": "box", "children": [{"type": "entry", "id": "e", "text": "soon gone"}]},
                    "focus": "e"}
            with Fixture(session, desc):
                proc = spawn(session, "fieldpeek", "200", "4000")
                first = proc.stdout.readline()
                self.assertEqual(json.loads(first)["texts"], ["soon gone"])
                launcher = session._procs[-1]
                for pid in descendants(launcher.pid):
                    os.kill(pid, signal.SIGKILL)
                launcher.kill()
                out, err, seconds = finish(proc, ONE_SHOT_BOUND_S)
        lines = self.assertFieldpeekOutput(proc.returncode, first + out, err)
        self.assertGreaterEqual(len(lines), 3, "polling stopped with the bus")
        print("\nfieldpeek with the accessibility bus killed: %d lines, last %s" % (len(lines), lines[-1]))


def descendants(pid):
    found = []
    for task in os.listdir("/proc/%d/task" % pid):
        with open("/proc/%d/task/%s/children" % (pid, task)) as f:
            for child in f.read().split():
                found.append(int(child))
                found.extend(descendants(int(child)))
    return found


if __name__ == "__main__":
    unittest.main()
