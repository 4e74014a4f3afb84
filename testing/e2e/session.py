"""A private headless desktop session: Xvfb, a session D-Bus and (optionally) the accessibility bus.

Used by the end-to-end tests and, through scripts/headless-session, by the demo. Every process it
starts is stopped by its pid; it never touches another display or the user's own session.
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

AT_SPI_LAUNCHER_CANDIDATES = ("/usr/libexec/at-spi-bus-launcher", "/usr/lib/at-spi2-core/at-spi-bus-launcher")


class HeadlessSession:
    """Starts on __enter__, stops on __exit__. `env` is the environment for programs inside it."""

    def __init__(self, a11y=True):
        self.a11y = a11y
        self.env = None
        self.display = None
        self._pids = []
        self._procs = []
        self._runtime = None

    def __enter__(self):
        try:
            self._start()
        except BaseException:
            self.stop()
            raise
        return self

    def __exit__(self, *exc):
        self.stop()

    def _start(self):
        # A private runtime directory: two sessions on one machine must not share the a11y socket.
        self._runtime = tempfile.mkdtemp(prefix="headless-")
        os.chmod(self._runtime, 0o700)
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS", "WAYLAND_DISPLAY")}
        env["XDG_RUNTIME_DIR"] = self._runtime
        env["NO_AT_BRIDGE"] = "0"
        env["GTK_A11Y"] = "atspi"
        # The bus launcher keeps org.a11y.Status IsEnabled in GSettings: a memory backend keeps a
        # test's trust request out of the user's own settings (dconf).
        env["GSETTINGS_BACKEND"] = "memory"

        # Xvfb picks a free display and prints its number when it is ready.
        rfd, wfd = os.pipe()
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(wfd), "-nolisten", "tcp", "-screen", "0", "1280x800x24"],
                                pass_fds=(wfd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
        os.close(wfd)
        self._procs.append(xvfb)
        number = b""
        deadline = time.monotonic() + 10
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            chunk = os.read(rfd, 16)
            if not chunk:
                break
            number += chunk
        os.close(rfd)
        if not number.strip():
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number.decode().strip()
        env["DISPLAY"] = self.display

        # dbus-daemon writes its address and pid to files: reading them from a pipe can hang.
        addr_file = os.path.join(self._runtime, "bus-address")
        pid_file = os.path.join(self._runtime, "bus-pid")
        with open(addr_file, "w") as a, open(pid_file, "w") as p:
            subprocess.run(["dbus-daemon", "--session", "--fork", "--nopidfile",
                            "--print-address=%d" % a.fileno(), "--print-pid=%d" % p.fileno()],
                           pass_fds=(a.fileno(), p.fileno()), env=env, check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=10)
        with open(addr_file) as f:
            env["DBUS_SESSION_BUS_ADDRESS"] = f.read().strip()
        with open(pid_file) as f:
            self._pids.append(int(f.read().strip()))

        if self.a11y:
            launcher = next((p for p in AT_SPI_LAUNCHER_CANDIDATES if os.path.exists(p)), None)
            if launcher is None:
                raise RuntimeError("at-spi-bus-launcher not found (package at-spi2-core)")
            self._procs.append(subprocess.Popen([launcher, "--launch-immediately", "--a11y=1"], env=env,
                                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        self.env = env

    def stop(self):
        for proc in reversed(self._procs):
            if proc.poll() is None:
                proc.terminate()
                try:
                    proc.wait(timeout=3)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()
        self._procs = []
        for pid in self._pids:
            try:
                os.kill(pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
        self._pids = []
        if self._runtime:
            # The registry daemon and bus launched by the session live in its runtime dir's bus;
            # they exit with the session bus.
            shutil.rmtree(self._runtime, ignore_errors=True)
            self._runtime = None


def main(argv):
    """headless-session [--no-a11y] [--] COMMAND...: runs COMMAND inside a fresh session."""
    a11y = True
    args = list(argv)
    while args and args[0].startswith("--"):
        flag = args.pop(0)
        if flag == "--":
            break
        if flag == "--no-a11y":
            a11y = False
        else:
            print("headless-session: unknown option " + flag, file=sys.stderr)
            return 2
    if not args:
        print("usage: headless-session [--no-a11y] [--] COMMAND...", file=sys.stderr)
        return 2
    with HeadlessSession(a11y=a11y) as session:
        return subprocess.run(args, env=session.env).returncode


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
