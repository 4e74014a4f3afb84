"""make bench: the core benchmarks, then the tools in a headless session beside their references.

Usage: /usr/bin/python3 bench/run.py BUILD_DIR   (scripts/bench calls it; BENCH_RUNS sets the runs
per figure, 30 by default). Prints the table and writes bench/results.md, bench/results.json and the
pictures bench/*.svg; `bench/run.py --report` writes the table and pictures again from results.json.
"""
import json
import os
import platform
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "testing", "e2e"))
from harness import Fixture, HeadlessSession  # noqa: E402
from xtest import XTest  # noqa: E402
from measure import PYTHON, RUNS, cpu_ms, limit, longest_gap_ms, optional, run, run_rss, stats, status_field, tool  # noqa: E402
from walks import SWEEP_RUNS, full_walk_figures, labels, long_walk_figures, sweep_figures  # noqa: E402
import report  # noqa: E402

KEY_EVENTS = int(os.environ.get("BENCH_KEY_EVENTS", "100000"))
RIGHT_CONTROL = 105  # keyherald's default edit key under Xvfb
# Fifty characters a line; documents of 1000 and 3,000,000 characters, the selection in the middle.
DOC_LINE = "The quick brown fox jumps over the lazy dog, 012.\n"
DOC_SIZES = (1000, 3000000)
DOC_SELECTION = 10
# A GTK 3 text editor's tree is mostly closed menus (mousepad: 300 of 321 elements).
EDITOR_TEXT = ("Premi\u00e8re ligne avec caf\u00e9.\nSecond line has an emoji \U0001F600 here and more.\n"
               "\u7b2c\u4e09\u884c\u662f\u4e2d\u6587\u6587\u672c\uff0c\u5305\u542b\u6c49\u5b57\u3002\nLast line.\n")


SELPROBE_WINDOW = {"name": "bench", "root": {"type": "box", "children": [
    {"type": "entry", "id": "e", "text": "The quick brown fox jumps over the lazy dog"}, labels(4000)]},
    "focus": "e", "caret": 10}


def connect_floor(build, env):
    """The wall ms of a process that only connects to both buses and ends."""
    ms, out, _ = run([tool(build, "atspi_limit"), "connect"], env)
    if not json.loads(out)["connected"]:
        raise RuntimeError("atspi_limit did not connect: %r" % out[:200])
    return ms


def core(build):
    results = {}
    for exe in ("core_bench", "walk_bench"):
        out = subprocess.run([tool(build, exe), "--benchmark_format=json", "--benchmark_min_time=0.2"],
                             capture_output=True, text=True, check=True).stdout
        for b in json.loads(out)["benchmarks"]:
            results[b["name"]] = b
    return results


def selprobe_figures(session, build, f):
    env = session.env
    with Fixture(session, SELPROBE_WINDOW) as app:
        walls, rss, gaps, refs, ref_gaps, floor, whole = [], [], [], [], [], [], []
        # Each round also starts a process that only connects to both buses and ends (what any
        # tool pays before its first read), and one that connects and then makes selprobe's calls.
        # The reference runs in the same rounds, so that a machine whose speed drifts during the
        # benchmark moves both sides of the ratio alike.
        for _ in range(RUNS):
            longest_gap_ms(app)
            ms, out, _ = run([tool(build, "selprobe")], env)
            gaps.append(longest_gap_ms(app))
            assert json.loads(out)["ok"], out
            walls.append(ms)
            ms, out, err = run([PYTHON, os.path.join(HERE, "ref_selprobe.py")], env)
            ref_gaps.append(longest_gap_ms(app))
            assert b'"ok": true' in out, (out, err)
            refs.append(ms)
            rss.append(run_rss([tool(build, "selprobe")], env)[1])
            floor.append(optional("the connect floor", connect_floor, build, env))
            whole.append(optional("the selprobe limit from a start", lambda: run(
                [tool(build, "atspi_limit"), "focus", "1"], env)[0]))
        lim = optional("the selprobe limit", limit, build, env, "focus", str(RUNS))
        ref_gap = max(ref_gaps)
    f["selprobe"] = {"tool": stats(walls), "rss": max(rss), "gap": max(gaps), "limit": stats(lim["ms"]) if lim else None,
                     "floor": stats([x for x in floor if x is not None]),
                     "limit_from_start": stats([x for x in whole if x is not None]),
                     "python": stats(refs), "python_gap": ref_gap}


def selprobe_walls(session, build, selected, rss=None):
    """selprobe's times with the selection at hand; a run that answers anything else is counted
    (and its first answer kept), not timed: under load a long read may outrun its call timeout."""
    walls, wrong = [], []
    for _ in range(RUNS):
        ms, out, _ = run([tool(build, "selprobe")], session.env)
        try:
            right = json.loads(out).get("selected") == selected
        except ValueError:
            right = False
        (walls if right else wrong).append(ms if right else out.decode("utf-8", "replace")[:200])
        if rss is not None:
            rss.append(run_rss([tool(build, "selprobe")], session.env)[1])
    return dict(stats(walls) or {"median": None}, wrong=len(wrong), first_wrong=wrong[0] if wrong else None)


def document_figures(session, build, f):
    """selprobe in documents of 1000 and 3,000,000 characters: its cost should not follow the size."""
    f["document"] = {}
    for size in DOC_SIZES:
        text, mid = DOC_LINE * (size // len(DOC_LINE)), size // 2
        # Scrolled, as an editor shows it: a window as tall as the text would pass X11's limit.
        desc = {"name": "bench", "root": {"type": "scroll", "child": {
            "type": "textview", "id": "t", "text": DOC_LINE, "repeat": size // len(DOC_LINE)}},
            "focus": "t", "selection": [mid, mid + DOC_SELECTION]}
        rss = []
        with Fixture(session, desc, ready_timeout=600) as app:
            longest_gap_ms(app)
            walls = selprobe_walls(session, build, text[mid:mid + DOC_SELECTION], rss)
            gap = longest_gap_ms(app)
        f["document"][str(size)] = {"tool": walls, "rss": max(rss), "gap": gap}


def editor_figures(session, build, f):
    """selprobe with "here" selected in mousepad, and in the same text in the small fixture."""
    path = os.path.join(session.env["XDG_RUNTIME_DIR"], "editor.txt")
    with open(path, "w") as out:
        out.write(EDITOR_TEXT)
    here, line = EDITOR_TEXT.index("here"), EDITOR_TEXT.index("\n") + 1
    editor = subprocess.Popen(["mousepad", path], env=dict(session.env, HOME=session.env["XDG_RUNTIME_DIR"]),
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        def xdotool(*args):
            return subprocess.run(["xdotool", *args], env=session.env, check=True, capture_output=True,
                                  text=True, timeout=60).stdout
        xdotool("windowfocus", "--sync", xdotool("search", "--sync", "--onlyvisible", "--name", "editor.txt").split()[0])
        xdotool("key", "ctrl+Home", "Down", *["Right"] * (here - line), *["shift+Right"] * 4)
        result = {"tool": selprobe_walls(session, build, "here")}
    finally:
        editor.terminate()
        editor.wait()
    with Fixture(session, {"root": {"type": "textview", "id": "t", "text": EDITOR_TEXT}, "focus": "t",
                           "selection": [here, here + 4]}):
        result["fixture"] = selprobe_walls(session, build, "here")
    f["editor"] = result


def keyherald_figures(session, build, f):
    proc = subprocess.Popen([tool(build, "keyherald")], env=session.env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        assert proc.stdout.readline() == b"READY\n"
        keys = XTest(session.env["DISPLAY"])
        latencies = []
        for i in range(max(RUNS, 100)):
            down = i % 2 == 0
            t = time.monotonic()
            keys.move(RIGHT_CONTROL if down else -RIGHT_CONTROL)
            line = proc.stdout.readline()
            latencies.append((time.monotonic() - t) * 1000)
            assert line == (b"EDIT_DOWN\n" if down else b"EDIT_UP\n"), line
        time.sleep(1)
        rss_start = status_field(proc.pid, "VmRSS")
        cpu, wakes = cpu_ms(proc.pid), status_field(proc.pid, "voluntary_ctxt_switches")
        idle_s = 5
        time.sleep(idle_s)
        idle_cpu = (cpu_ms(proc.pid) - cpu) / 1000 / idle_s * 100
        idle_wakes = (status_field(proc.pid, "voluntary_ctxt_switches") - wakes) / idle_s
        for i in range(KEY_EVENTS):
            keys.move(RIGHT_CONTROL if i % 2 == 0 else -RIGHT_CONTROL)
            proc.stdout.readline()
        rss_end = status_field(proc.pid, "VmRSS")
        peak = status_field(proc.pid, "VmHWM")
        keys.close()
    finally:
        proc.terminate()
        proc.wait()
    f["keyherald"] = {"tool": stats(latencies), "idle_cpu_pct": idle_cpu, "idle_wakes_per_s": idle_wakes,
                      "rss_start_kb": rss_start, "rss_end_kb": rss_end, "events": KEY_EVENTS,
                      "rss": peak / 1024.0}


STEPS = (("keyherald", keyherald_figures), ("selprobe", selprobe_figures),
         ("selprobe in two documents", document_figures), ("panescan's full walk", full_walk_figures),
         ("panescan over long labels", long_walk_figures), ("walks of smaller windows", sweep_figures),
         ("selprobe on mousepad", editor_figures))


def step(what, figures, session, build, f):
    """One group of figures, its duration on standard error so that a long run shows where it is. A
    group that fails is recorded and the others still run: the table shows what could not be measured."""
    started = time.monotonic()
    print("bench: %s ..." % what, file=sys.stderr, flush=True)
    try:
        figures(session, build, f)
    except Exception as e:  # noqa: BLE001 -- any failure of a group is reported, never hidden
        f.setdefault("failed", {})[what] = "%s: %s" % (type(e).__name__, str(e)[:500])
        print("bench: %s FAILED: %s" % (what, f["failed"][what]), file=sys.stderr, flush=True)
        return
    print("bench: %s done in %.0f s (load average %s)" % (what, time.monotonic() - started, load()),
          file=sys.stderr, flush=True)


def machine():
    cpu = "?"
    for line in open("/proc/cpuinfo"):
        if line.startswith("model name"):
            cpu = line.split(":", 1)[1].strip()
            break
    return "%s, %d cores, %s" % (cpu, os.cpu_count(), platform.platform())


def load():
    return " ".join(open("/proc/loadavg").read().split()[:3])


def main(argv):
    if argv[1:] == ["--report"]:  # the table and pictures again from results.json, without running anything
        with open(os.path.join(HERE, "results.json")) as saved:
            report.write(json.load(saved), HERE)
        return 0
    build = os.path.abspath(argv[1] if len(argv) > 1 else "build-bench")
    facts = {"date": time.strftime("%Y-%m-%d %H:%M %Z"), "machine": machine(), "runs": RUNS,
             "sweep_runs": SWEEP_RUNS, "load_start": load()}
    started = time.monotonic()
    f = {}
    try:
        c = core(build)
    except (OSError, subprocess.CalledProcessError, ValueError) as e:
        c, f["failed"] = {}, {"core benchmarks": "%s: %s" % (type(e).__name__, e)}
    with HeadlessSession() as session:
        for what, figures in STEPS:
            step(what, figures, session, build, f)
    facts["load_end"] = load()
    facts["minutes"] = (time.monotonic() - started) / 60
    data = {"core": c, "tools": f, "facts": facts}
    with open(os.path.join(HERE, "results.json"), "w") as out:
        json.dump(data, out, indent=1)
    report.write(data, HERE)
    # Targets missed are results; figures that could not be taken are a failure of the run.
    return 1 if f.get("failed") else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
