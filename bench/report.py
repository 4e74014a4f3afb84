"""make bench's table: every figure beside its target, written to bench/results.md with its pictures."""
import os
import sys

import plot

RSS_MB = 8
GAP_MS = 50


def ms(s, key="median"):
    return "%.1f" % s[key] if s and s.get(key) is not None else "-"


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


def ratio(a, b):
    return a["median"] / b["median"]


def nodes(w):
    return ",".join(map(str, w["nodes"]))


def peak_rss(f, tool):
    """The largest peak RSS over every run of the tool that the bench made."""
    groups = {"selprobe": [f.get("selprobe")] + list(f.get("document", {}).values()),
              "panescan": [f.get("long")] + list(f.get("sweep", {}).values()),
              "fieldpeek": [f.get("fieldpeek")], "keyherald": [f.get("keyherald")]}[tool]
    return max(g["rss"] for g in groups if g)


def gap(f, *path):
    for key in path:
        f = f[key]
    return f


def wrong(*figures):
    """What the row must say of runs whose answer was not the selection at hand."""
    n = sum(st.get("wrong", 0) for st in figures)
    if not n:
        return ""
    first = next(st["first_wrong"] for st in figures if st.get("wrong"))
    return "; %d of %d runs answered otherwise, first: `%s`" % (
        n, sum(st.get("n", 0) + st.get("wrong", 0) for st in figures), first.strip().replace("|", "/"))


def document_row(f):
    small, big = f["document"]["1000"]["tool"], f["document"]["3000000"]["tool"]
    if big["median"] is None or small["median"] is None:
        return ("selprobe in a document of 3,000,000 characters against one of 1000",
                "no right answer to time%s" % wrong(small, big), False)
    x = ratio(big, small)
    return ("selprobe in a document of 3,000,000 characters against one of 1000",
            "%.2f (%s against %s ms)%s" % (x, ms(big), ms(small), wrong(small, big)), x <= 1.5 and not wrong(small, big))


# (figure, target, measure): measure(f) gives the figure's name with what the run saw, the value and
# whether the target is met; a figure whose group did not run reads "not measured".
TARGETS = [
    ("selprobe against the Python reference", ">= 50x faster", lambda f: (
        "selprobe, start to line, against the Python reference (entry beside 4000 labels)",
        "%.1fx (%s against %s ms)" % (ratio(f["selprobe"]["python"], f["selprobe"]["tool"]),
                                      ms(f["selprobe"]["tool"]), ms(f["selprobe"]["python"])),
        ratio(f["selprobe"]["python"], f["selprobe"]["tool"]) >= 50)),
    ("panescan over 4000 labels of 47 characters against the Python reference", ">= 3x faster", lambda f: (
        "panescan over 4000 labels of 47 characters (nodes=%s), against the Python reference's walk alone "
        "(its whole run: %s ms, %.1fx)" % (nodes(f["long"]), ms(f["long"]["python"]),
                                          ratio(f["long"]["python"], f["long"]["tool"])),
        "%.1fx (%s against %s ms)" % (ratio(f["long"]["python_walk"], f["long"]["tool"]), ms(f["long"]["tool"]),
                                      ms(f["long"]["python_walk"])),
        ratio(f["long"]["python_walk"], f["long"]["tool"]) >= 3)),
    ("panescan's full walk of 4000 short labels over the fixture's CPU time", "<= 1.3", lambda f: (
        "panescan, full walk of 4000 short labels (nodes=%s): its wall time over the fixture's CPU time "
        "in the same run (median of the runs; all runs together: %.2f)" % (
            nodes(f["panescan"]), f["panescan"]["tool_total"] / max(f["panescan"]["app_cpu_total"], 1)),
        "%.2f (%s ms against %s ms)" % (f["panescan"]["ratio"]["median"], ms(f["panescan"]["tool"]),
                                        ms(f["panescan"]["app_cpu"])),
        f["panescan"]["ratio"]["median"] <= 1.3)),
    ("selprobe in a document of 3,000,000 characters against one of 1000", "<= 1.5", lambda f: document_row(f)),
] + [
    ("%s peak RSS" % tool, "< %d MB" % RSS_MB, lambda f, tool=tool: (
        "%s peak RSS (the largest of its runs)" % tool, "%.1f MB" % peak_rss(f, tool), peak_rss(f, tool) < RSS_MB))
    for tool in ("selprobe", "panescan", "fieldpeek", "keyherald")
] + [
    ("fixture's longest UI gap during %s" % name, "< %d ms" % GAP_MS, lambda f, name=name, path=path: (
        "fixture's longest UI gap during %s" % name, "%.1f ms" % gap(f, *path), gap(f, *path) < GAP_MS))
    for name, path in (("panescan's full walk", ("panescan", "gap")),
                       ("panescan over the long labels", ("long", "gap")), ("selprobe", ("selprobe", "gap")),
                       ("selprobe in the 3,000,000-character document", ("document", "3000000", "gap")),
                       ("fieldpeek's polls", ("fieldpeek", "gap")))
] + [
    ("selprobe on a GTK 3 editor (mousepad)", "< 30 ms; < 3x the fixture", lambda f: (
        "selprobe on a GTK 3 editor (mousepad, \"here\" selected), against the same text in the fixture",
        "%s ms (fixture %s ms)%s" % (ms(f["editor"]["tool"]), ms(f["editor"]["fixture"]),
                                     wrong(f["editor"]["tool"], f["editor"]["fixture"])),
        f["editor"]["tool"]["median"] < 30 and ratio(f["editor"]["tool"], f["editor"]["fixture"]) < 3
        and not wrong(f["editor"]["tool"], f["editor"]["fixture"]))),
    ("keyherald, XTEST key to line", "median < 0.5 ms", lambda f: (
        "keyherald, XTEST key to line (median, p90)",
        "%s / %s ms" % (ms(f["keyherald"]["tool"]), ms(f["keyherald"]["tool"], "p90")),
        f["keyherald"]["tool"]["median"] < 0.5)),
    ("keyherald idle CPU", "near zero", lambda f: (
        "keyherald idle CPU", "%.2f %%" % f["keyherald"]["idle_cpu_pct"], f["keyherald"]["idle_cpu_pct"] < 0.5)),
    ("keyherald idle wake-ups", "<= 1 /s", lambda f: (
        "keyherald idle wake-ups", "%.1f /s" % f["keyherald"]["idle_wakes_per_s"],
        f["keyherald"]["idle_wakes_per_s"] <= 1)),
    ("keyherald RSS over many key events", "flat", lambda f: (
        "keyherald RSS before and after %d key events" % f["keyherald"]["events"],
        "%d kB -> %d kB" % (f["keyherald"]["rss_start_kb"], f["keyherald"]["rss_end_kb"]),
        f["keyherald"]["rss_end_kb"] - f["keyherald"]["rss_start_kb"] < 256)),
]


def target_rows(f):
    rows = []
    for figure, target, measure in TARGETS:
        try:
            figure, value, met = measure(f)
        except (KeyError, TypeError, ValueError, ZeroDivisionError):
            value, met = "not measured", False
        rows.append("| %s | %s | %s | %s |" % (figure, value, target, yes(met)))
    return rows


def reference_rows(f):
    s, p, fp = f.get("selprobe", {}), f.get("panescan", {}), f.get("fieldpeek", {})
    L = ["| figure | median | p90 |", "|---|---|---|"]
    for name, st in (
            ("selprobe, start to line", s.get("tool")),
            ("selprobe's calls on an open connection (bench/atspi_limit)", s.get("limit")),
            ("the same calls from a process start", s.get("limit_from_start")),
            ("a process that only connects to both buses", s.get("floor")),
            ("panescan, full walk of 4000 short labels", p.get("tool")),
            ("the fixture's CPU time during it", p.get("app_cpu")),
            ("the walk's calls, pipelined, on an open connection (bench/atspi_limit)", p.get("limit")),
            ("the same, one call at a time", p.get("limit_sequential")),
            ("Python reference, whole run", p.get("python")),
            ("Python reference, its walk alone", p.get("python_walk")),
            ("fieldpeek, one poll over the 4000 labels (first line after %s ms)" % (
                "%.0f" % fp["first"] if fp else "-"), fp.get("tool")),
            ("fixture's UI gap during each full walk of panescan", p.get("gaps")),
            ("fixture's UI gap during each Python walk", p.get("python_gaps"))):
        L.append("| %s | %s | %s |" % (name, ms(st), ms(st, "p90")))
    L += ["", "Walk time against the window's size (medians; the last two columns are the fixture's "
          "longest UI gap over the runs):", "",
          "| labels | nodes | panescan | fixture CPU | Python (walk alone) | gap: panescan | gap: Python |",
          "|---|---|---|---|---|---|---|"]
    for n, w in sorted(f.get("sweep", {}).items(), key=lambda kv: int(kv[0])):
        L.append("| %s | %s | %s | %s | %s (%s) | %s | %s |" % (
            n, nodes(w), ms(w["tool"]), ms(w["app_cpu"]), ms(w["python"]), ms(w["python_walk"]),
            ms(w["gaps"], "max"), ms(w["python_gaps"], "max")))
    return L


def render(data):
    facts, f = data["facts"], data["tools"]
    L = ["# Benchmark results", "",
         "Written by `make bench` (scripts/bench, bench/run.py) on %s in %.1f minutes." % (
             facts["date"], facts.get("minutes", 0)),
         "Machine: %s; load average %s at the start, %s at the end. Runs per figure: %d (%d for the "
         "smaller windows of the walk-time picture); medians in milliseconds unless stated." % (
             facts["machine"], facts["load_start"], facts.get("load_end", "?"), facts["runs"], facts["sweep_runs"]),
         ""]
    for what, why in f.get("failed", {}).items():
        L.append("**Not measured: %s** (%s)" % (what, why.replace("\n", " ").replace("|", "/")))
        L.append("")
    L += ["## Targets (tools in a headless session, the GTK fixture answering)", "",
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
    sweep = data["tools"].get("sweep", {})
    if sweep:
        plot.draw(sweep, here)
