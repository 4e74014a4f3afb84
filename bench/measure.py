"""Measuring one process for make bench: wall time, peak RSS, the CPU another process spends meanwhile,
and where the tools and the references are."""
import json
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time

TICKS_PER_S = os.sysconf("SC_CLK_TCK")
HERE = os.path.dirname(os.path.abspath(__file__))
PYTHON = "/usr/bin/python3"
RUNS = int(os.environ.get("BENCH_RUNS", "30"))


def stats(values):
    """Median, p90, max and count of the values; None when there are none."""
    values = sorted(values)
    if not values:
        return None
    return {"median": statistics.median(values), "p90": values[min(len(values) - 1, int(0.9 * len(values)))],
            "max": values[-1], "n": len(values)}


def run(cmd, env, timeout=120):
    """Wall ms, stdout and stderr of one run. A run that hangs is killed and raises TimeoutExpired."""
    start = time.monotonic()
    proc = subprocess.run(cmd, env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)
    return (time.monotonic() - start) * 1000, proc.stdout, proc.stderr


def run_rss(cmd, env, timeout=120):
    """As run(), with the tool's peak RSS in MB as /usr/bin/time reports it (the rusage of a child
    that Python forked keeps the forking interpreter's high-water mark across exec). The wall time
    includes /usr/bin/time's own start, so figures of speed come from run()."""
    with tempfile.NamedTemporaryFile("r") as rss_file:
        ms, out, err = run(["/usr/bin/time", "-f", "%M", "-o", rss_file.name] + cmd, env, timeout)
        return ms, int(rss_file.read().split()[-1]) / 1024.0, out, err


def cpu_ms(pid):
    """User plus system CPU time the process has spent so far, in ms (clock-tick resolution)."""
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) * 1000.0 / TICKS_PER_S


def status_field(pid, name):
    """A numeric field of /proc/PID/status (kB for the memory fields), 0 when absent."""
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith(name + ":"):
                return int(line.split()[1])
    return 0


def optional(what, fn, *args, **kw):
    """fn's result, or None with a note on standard error when it fails: a reference figure that
    cannot be taken (a helper missing or changed) leaves its cell empty instead of ending the run."""
    try:
        return fn(*args, **kw)
    except Exception as e:  # noqa: BLE001 -- any failure of a reference only empties its cell
        print("bench: %s not measured: %s" % (what, str(e)[:300]), file=sys.stderr, flush=True)
        return None


def tool(build, name):
    return os.path.join(build, "bin", name)


def limit(build, env, *args, timeout=120):
    """The floor program's JSON answer (bench/atspi_limit)."""
    return json.loads(run([tool(build, "atspi_limit"), *args], env, timeout)[1])


def longest_gap_ms(app, timeout=30):
    """The fixture's longest main-loop stall since its start or the previous call, in ms."""
    os.kill(app.pid, signal.SIGUSR1)
    while (line := app.line(timeout)) and not line.startswith("gap-ms "):
        pass
    if not line:
        raise RuntimeError("fixture did not report its gap")
    return float(line.split()[1])
