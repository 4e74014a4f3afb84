"""make bench's table: every figure beside its target, written to bench/results.md with its pictures."""
import os
import sys

import plot

RSS_MB = 8
GAP_MS = 50


def ms(s, key="median"):
    return "%.1f" % s[key] if s else "-"


def yes(met):
    return "" if met is None else ("yes" if met else "**no**")


def core_rows(c):
    L = ["## Core (Google Benchmark, in-memory tree, CPU time)", "",
         "| benchmark | CPU time | per item | target | met |", "|---|---|---|---|---|"]
    for name, b in c.items():
        if name.endswith(("_BigO", "_RMS")):
            continue
        per_us = 1e6 / b["items_per_second"] if b.get("items_per_second") else None
        walk = name.endswith("Walk")
        L.append("| %s %s | %.1f %s | %s | %s | %s |" % (
            name, b.get("label", ""), b["cpu_time"], b["time_unit"], "%.3f us" % per_us if per_us else "",
            "< 2 us an element" if walk else "", yes(per_us < 2 if walk and per_us else None)))
    if "charCountByLength_BigO" in c:
        big_o = c["charCountByLength_BigO"].get("big_o", "?")
        L.append("| charCount complexity | %s, RMS %.0f %% | | linear (N) | %s |" % (
            big_o, 100 * c["charCountByLength_RMS"]["rms"], yes(big_o == "N")))
    return L


def target_rows(f):
    s, p, lw, k, fp = f["selprobe"], f["panescan"], f["long"], f["keyherald"], f["fieldpeek"]
    rows = []

    def row(figure, value, target, met):
        rows.append("| %s | %s | %s | %s |" % (figure, value, target, yes(met)))

    x = s["python"]["median"] / s["tool"]["median"]
    row("selprobe, start to line, against the Python reference (entry beside 4000 labels)",
        "%.1fx (%s against %s ms)" % (x, ms(s["tool"]), ms(s["python"])), ">= 50x faster", x >= 50)
    x = lw["python_walk"]["median"] / lw["tool"]["median"]
    row("panescan over 4000 labels of 47 characters (nodes=%s), against the Python reference's walk alone "
        "(its whole run: %s ms, %.1fx)" % (",".join(map(str, lw["nodes"])), ms(lw["python"]),
                                          lw["python"]["median"] / lw["tool"]["median"]),
        "%.1fx (%s against %s ms)" % (x, ms(lw["tool"]), ms(lw["python_walk"])), ">= 3x faster", x >= 3)
    row("panescan, full walk of 4000 short labels (nodes=%s): its wall time over the fixture's CPU time "
        "in the same run (median of the runs; all runs together: %.2f)" % (
            ",".join(map(str, p["nodes"])), p["tool_total"] / max(p["app_cpu_total"], 1)),
        "%.2f (%s ms against %s ms)" % (p["ratio"]["median"], ms(p["tool"]), ms(p["app_cpu"])), "<= 1.3",
        p["ratio"]["median"] <= 1.3)
    d = f["document"]
    small, big = d["1000"]["tool"], d["3000000"]["tool"]
    x = big["median"] / small["median"]
    row("selprobe in a document of 3,000,000 characters against one of 1000",
        "%.2f (%s against %s ms)" % (x, ms(big), ms(small)), "<= 1.5", x <= 1.5)
    rss = {"selprobe": max(s["rss"], d["1000"]["rss"], d["3000000"]["rss"]),
           "panescan": max(p["rss"], lw["rss"], *(w["rss"] for w in f["sweep"].values())),
           "fieldpeek": fp["rss"], "keyherald": k["rss"]}
    for name, mb in rss.items():
        row("%s peak RSS (the largest of its runs)" % name, "%.1f MB" % mb, "< %d MB" % RSS_MB, mb < RSS_MB)
    for name, gap in (("panescan's full walk", p["gap"]), ("panescan over the long labels", lw["gap"]),
                      ("selprobe", s["gap"]), ("selprobe in the 3,000,000-character document", d["3000000"]["gap"]),
                      ("fieldpeek's polls", fp["gap"])):
        row("fixture's longest UI gap during %s" % name, "%.1f ms" % gap, "< %d ms" % GAP_MS, gap < GAP_MS)
    e = f.get("editor")
    if e:
        row("selprobe on a GTK 3 editor (mousepad, \"here\" selected), against the same text in the fixture",
            "%s ms (fixture %s ms)" % (ms(e["tool"]), ms(e["fixture"])), "< 30 ms; < 3x the fixture",
            e["tool"]["median"] < 30 and e["tool"]["median"] < 3 * e["fixture"]["median"])
    row("keyherald, XTEST key to line (median, p90)", "%s / %s ms" % (ms(k["tool"]), ms(k["tool"], "p90")),
        "median < 0.5 ms", k["tool"]["median"] < 0.5)
    row("keyherald idle CPU", "%.2f %%" % k["idle_cpu_pct"], "near zero", k["idle_cpu_pct"] < 0.5)
    row("keyherald idle wake-ups", "%.1f /s" % k["idle_wakes_per_s"], "<= 1 /s", k["idle_wakes_per_s"] <= 1)
    row("keyherald RSS before and after %d key events" % k["events"], "%d kB -> %d kB" % (
        k["rss_start_kb"], k["rss_end_kb"]), "flat", k["rss_end_kb"] - k["rss_start_kb"] < 256)
    return rows


def reference_rows(f):
    s, p, fp = f["selprobe"], f["panescan"], f["fieldpeek"]
    L = ["| figure | median | p90 |", "|---|---|---|"]
    for name, st in (
            ("selprobe, start to line", s["tool"]),
            ("selprobe's calls on an open connection (bench/atspi_limit)", s["limit"]),
            ("the same calls from a process start", s["limit_from_start"]),
            ("a process that only connects to both buses", s["floor"]),
            ("panescan, full walk of 4000 short labels", p["tool"]),
            ("the fixture's CPU time during it", p["app_cpu"]),
            ("the walk's calls, pipelined, on an open connection (bench/atspi_limit)", p["limit"]),
            ("the same, one call at a time", p["limit_sequential"]),
            ("Python reference, whole run / its walk alone", "python"),
            ("fieldpeek, one poll over the 4000 labels (first line after %.0f ms)" % fp["first"], fp["tool"]),
            ("fixture's UI gap during each full walk of panescan", p["gaps"]),
            ("fixture's UI gap during each Python walk", p["python_gaps"])):
        if st == "python":
            L.append("| %s | %s / %s | %s / %s |" % (name, ms(p["python"]), ms(p["python_walk"]),
                                                      ms(p["python"], "p90"), ms(p["python_walk"], "p90")))
        else:
            L.append("| %s | %s | %s |" % (name, ms(st), ms(st, "p90")))
    L += ["", "Walk time against the window's size (medians; the last two columns are the fixture's "
          "longest UI gap over the runs):", "",
          "| labels | nodes | panescan | fixture CPU | Python (walk alone) | gap: panescan | gap: Python |",
          "|---|---|---|---|---|---|---|"]
    for n, w in sorted(f["sweep"].items(), key=lambda kv: int(kv[0])):
        L.append("| %s | %s | %s | %s | %s (%s) | %.1f | %.1f |" % (
            n, ",".join(map(str, w["nodes"])), ms(w["tool"]), ms(w["app_cpu"]), ms(w["python"]),
            ms(w["python_walk"]), w["gaps"]["max"], w["python_gaps"]["max"]))
    return L


def render(data):
    facts, f = data["facts"], data["tools"]
    L = ["# Benchmark results", "",
         "Written by `make bench` (scripts/bench, bench/run.py) on %s in %.1f minutes." % (
             facts["date"], facts.get("minutes", 0)),
         "Machine: %s; load average %s at the start, %s at the end. Runs per figure: %d (%d for the "
         "smaller windows of the walk-time picture); medians in milliseconds unless stated." % (
             facts["machine"], facts["load_start"], facts.get("load_end", "?"), facts["runs"], facts["sweep_runs"]),
         "", "## Targets (tools in a headless session, the GTK fixture answering)", "",
         "| figure | measured | target | met |", "|---|---|---|---|"]
    L += target_rows(f)
    L += ["", "## Pictures", "", "![panescan's walk time against the number of elements](walk_time.svg)", "",
          "![the fixture's longest UI gap during each walk](ui_gap.svg)", "",
          "## Reference figures (no target)", ""]
    L += reference_rows(f)
    L += [""] + core_rows(data["core"])
    return "\n".join(L) + "\n"


def write(data, here):
    text = render(data)
    sys.stdout.write(text)
    with open(os.path.join(here, "results.md"), "w") as out:
        out.write(text)
    plot.draw(data["tools"]["sweep"], here)
