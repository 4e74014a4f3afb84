"""make bench's walks: panescan and the Python reference over windows of labels, the fixture's CPU
time and UI gap around each run, and fieldpeek's polls over the largest window."""
import json
import os
import signal
import subprocess
import tempfile
import time

from harness import Fixture
from measure import HERE, PYTHON, RUNS, cpu_ms, limit, longest_gap_ms, optional, run, run_rss, stats, tool

# The smaller windows of the walk-time picture get fewer runs: they only draw its curve.
SWEEP_RUNS = max(3, RUNS // 5)
SWEEP_COUNTS = (250, 500, 1000, 2000)
# Labels 100 to 999 have 47 characters: the walk's 16000-character budget runs out after about 335
# elements, so panescan's cost there is what it reads, not the size of the window.
LONG_PREFIX = "A label long enough for the walk to gather: "


def labels(count, prefix="Label "):
    return {"type": "scroll", "child": {"type": "labels", "count": count, "prefix": prefix}}


def walk_window(count, prefix="Label "):
    return {"name": "bench", "root": {"type": "box", "children": [
        {"type": "button", "id": "b", "label": "Go"}, labels(count, prefix)]}, "focus": "b"}


def walk_point(session, build, desc, runs, with_limit=False):
    """panescan and the Python reference over one window, rounds interleaved so that they share the
    machine's load; the fixture's CPU and longest UI gap are taken around each run."""
    env = session.env
    p = {k: [] for k in ("tool", "app_cpu", "ratio", "gaps", "python", "python_walk", "python_gaps",
                         "python_app_cpu", "limit", "limit_gaps")}
    nodes = set()
    with Fixture(session, desc) as app:
        for _ in range(runs):
            longest_gap_ms(app)
            cpu = cpu_ms(app.pid)
            ms, _, err = run([tool(build, "panescan")], env)
            app_cpu = cpu_ms(app.pid) - cpu
            p["gaps"].append(longest_gap_ms(app))
            p["tool"].append(ms)
            p["app_cpu"].append(app_cpu)
            p["ratio"].append(ms / max(app_cpu, 1000.0 / os.sysconf("SC_CLK_TCK")))
            nodes.add(int(err.decode().split(" nodes=")[1].split()[0]))
            if with_limit:
                lim = optional("the pipelined walk limit", limit, build, env, "walk-pipelined", "1")
                if lim:
                    p["limit"] += lim["ms"]
                    p["limit_gaps"].append(longest_gap_ms(app))
            cpu = cpu_ms(app.pid)
            ms, out, _ = run([PYTHON, os.path.join(HERE, "ref_panescan.py")], env)
            p["python_app_cpu"].append(cpu_ms(app.pid) - cpu)
            p["python_gaps"].append(longest_gap_ms(app))
            p["python"].append(ms)
            p["python_walk"].append(float(out.decode().split()[-1]))
        p["rss"] = max(run_rss([tool(build, "panescan")], env)[1] for _ in range(3))
        if with_limit:
            seq = optional("the sequential walk limit", limit, build, env, "walk-sequential", str(max(3, runs // 10)),
                           timeout=600)
            p["limit_sequential"] = seq["ms"] if seq else []
            fieldpeek_figures(app, build, env, p)
    out = {k: stats(v) for k, v in p.items() if isinstance(v, list)}
    out.update({"nodes": sorted(nodes), "rss": p["rss"], "gap": max(p["gaps"]),
                "app_cpu_total": sum(p["app_cpu"]), "tool_total": sum(p["tool"])})
    if "fieldpeek" in p:
        out["fieldpeek"] = p["fieldpeek"]
    return out


def fieldpeek_figures(app, build, env, p):
    """One fieldpeek poll over the window: the gap between its lines minus its 120 ms pause."""
    longest_gap_ms(app)
    start = time.monotonic()
    with tempfile.NamedTemporaryFile("r") as rss_file:
        proc = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", rss_file.name, tool(build, "fieldpeek"),
                                 "120", str(3600 * 1000)], env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        try:
            stamps = []
            for _ in range(RUNS + 1):
                line = proc.stdout.readline()
                stamps.append(time.monotonic())
                assert json.loads(line)["role"] == "AXButton", line
            gap = longest_gap_ms(app)
        finally:
            # fieldpeek itself (the child of /usr/bin/time) is stopped; time still reports its peak.
            children = subprocess.run(["pgrep", "-P", str(proc.pid)], capture_output=True, text=True).stdout.split()
            for child in children:
                os.kill(int(child), signal.SIGTERM)
            proc.stdout.read()
            proc.wait(timeout=60)
        rss = int(rss_file.read().split()[-1]) / 1024.0
    polls = [(b - a) * 1000 - 120 for a, b in zip(stamps, stamps[1:])]
    p["fieldpeek"] = {"tool": stats(polls), "first": (stamps[0] - start) * 1000, "rss": rss, "gap": gap}


def full_walk_figures(session, build, f):
    f["panescan"] = walk_point(session, build, walk_window(4000), RUNS, with_limit=True)
    f["fieldpeek"] = f["panescan"].pop("fieldpeek")
    f.setdefault("sweep", {})["4000"] = f["panescan"]


def long_walk_figures(session, build, f):
    f["long"] = walk_point(session, build, walk_window(4000, LONG_PREFIX), RUNS)


def sweep_figures(session, build, f):
    for n in SWEEP_COUNTS:
        f.setdefault("sweep", {})[str(n)] = walk_point(session, build, walk_window(n), SWEEP_RUNS)
