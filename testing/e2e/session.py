"""A private headless desktop session: Xvfb, a session D-Bus and (optionally) the accessibility bus.

Used by the end-to-end tests and, as `scripts/headless-session [--no-a11y] [--] COMMAND...`, by the
demo. Every process it starts is stopped by its pid; it never touches the user's own session.
"""
import os
import shutil
import subprocess
import sys
import tempfile

LAUNCHER = "/usr/libexec/at-spi-bus-launcher"  # Debian's, from at-spi2-core


class HeadlessSession:
    """Starts on __enter__, stops on __exit__. `env` is the environment for programs inside it."""

    def __init__(self, a11y=True):
        self.a11y, self._procs, self._runtime = a11y, [], None

    def __enter__(self):
        try:
            self._start()
        except BaseException:
            self.stop()
            raise
        return self

    def __exit__(self, *exc):
        self.stop()

    def start(self, cmd, **kw):
        kw.setdefault("stdout", subprocess.DEVNULL)
        proc = subprocess.Popen(cmd, env=self.env, stderr=subprocess.DEVNULL, **kw)
        self._procs.append(proc)
        return proc

    def _start(self):
        # A private runtime directory: two sessions on one machine must not share the a11y socket.
        self._runtime = tempfile.mkdtemp(prefix="headless-")
        drop = ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS", "WAYLAND_DISPLAY")
        self.env = {k: v for k, v in os.environ.items() if k not in drop}
        # A memory GSettings backend keeps org.a11y.Status IsEnabled out of the user's own settings.
        self.env.update(XDG_RUNTIME_DIR=self._runtime, NO_AT_BRIDGE="0", GTK_A11Y="atspi", GSETTINGS_BACKEND="memory",
                        QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb", GSK_RENDERER="cairo")
        # Xvfb picks a free display and prints its number when ready. -noreset: a server that resets
        # when its last client leaves wipes the AT_SPI_BUS property, without which Qt 5 never registers.
        rfd, wfd = os.pipe()
        self.start(["Xvfb", "-displayfd", str(wfd), "-noreset", "-nolisten", "tcp", "-screen", "0", "1280x800x24"],
                   pass_fds=(wfd,))
        os.close(wfd)
        with os.fdopen(rfd) as f:
            self.display = self.env["DISPLAY"] = ":" + f.readline().strip()
        if self.display == ":":
            raise RuntimeError("Xvfb did not start")
        # dbus-daemon prints its address once it listens; it ends with the session when its pid is stopped.
        bus = self.start(["dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address"],
                         stdout=subprocess.PIPE, text=True)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().strip()
        bus.stdout.close()
        if self.a11y:
            self.start([LAUNCHER, "--launch-immediately", "--a11y=1"])
            address = subprocess.run(["dbus-send", "--session", "--print-reply=literal", "--dest=org.a11y.Bus",
                                      "/org/a11y/bus", "org.a11y.Bus.GetAddress"], env=self.env, check=True,
                                     capture_output=True, text=True, timeout=30).stdout.strip()
            subprocess.run(["xprop", "-root", "-f", "AT_SPI_BUS", "8s", "-set", "AT_SPI_BUS", address],
                           env=self.env, check=True, timeout=30)

    def stop(self):
        for proc in reversed(self._procs):
            end_process(proc)
        self._procs = []
        if self._runtime:
            shutil.rmtree(self._runtime, ignore_errors=True)
            self._runtime = None


def end_process(proc, grace=3):
    """Terminates `proc`, kills it after `grace` seconds, and reaps it."""
    proc.terminate()
    try:
        proc.wait(timeout=grace)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def a11y_bus(env):
    """A connection of its own to the accessibility bus of the session `env` belongs to."""
    from gi.repository import Gio
    address = subprocess.run(["xprop", "-root", "AT_SPI_BUS"], env=env, capture_output=True, text=True,
                             timeout=30).stdout.split("=", 1)[1].strip().strip('"')
    flags = Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION
    return Gio.DBusConnection.new_for_address_sync(address, flags, None, None)


def main(args):
    a11y = args[:1] != ["--no-a11y"]
    command = args[0 if a11y else 1:]
    command = command[1:] if command[:1] == ["--"] else command
    if not command:
        return print("usage: headless-session [--no-a11y] [--] COMMAND...", file=sys.stderr) or 2
    with HeadlessSession(a11y=a11y) as session:
        return subprocess.run(command, env=session.env).returncode


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
