"""make bench's pictures: panescan's walk time and the fixture's UI gap against the window's size (SVG;
ext="png" draws the same for a quick look)."""
import os

import matplotlib

matplotlib.use("svg")
import matplotlib.pyplot as plt  # noqa: E402

# The same run draws the same bytes: no date in the file, fixed ids.
matplotlib.rcParams["svg.hashsalt"] = "bench"
METADATA = {"Date": None}


def points(sweep):
    """(elements walked, figures) for each window, smallest first."""
    rows = []
    for w in sweep.values():
        rows.append((max(w["nodes"]), w))
    return sorted(rows, key=lambda r: r[0])


def curve(ax, xs, rows, key, label, style):
    med = [w[key]["median"] for w in rows]
    p90 = [w[key]["p90"] for w in rows]
    ax.plot(xs, med, style, label=label)
    ax.fill_between(xs, med, p90, alpha=0.15, color=ax.lines[-1].get_color())


def draw(sweep, here, ext="svg"):
    rows = points(sweep)
    xs = [n for n, _ in rows]
    ws = [w for _, w in rows]

    fig, ax = plt.subplots(figsize=(7, 4.2))
    curve(ax, xs, ws, "tool", "panescan, start to end", "o-")
    curve(ax, xs, ws, "app_cpu", "the application's CPU time answering it", "s--")
    curve(ax, xs, ws, "python", "Python reference (libatspi, its cache on), whole run", "^-")
    curve(ax, xs, ws, "python_walk", "Python reference, its walk alone", "v:")
    ax.set_xlabel("elements walked")
    ax.set_ylabel("ms (median; shaded up to p90)")
    ax.set_title("A full walk of a window of short labels in the GTK fixture")
    ax.set_ylim(bottom=0)
    ax.grid(alpha=0.3)
    ax.legend(fontsize="small")
    fig.tight_layout()
    fig.savefig(os.path.join(here, "walk_time." + ext), metadata=METADATA)
    plt.close(fig)

    fig, ax = plt.subplots(figsize=(7, 4.2))
    ax.plot(xs, [w["gaps"]["max"] for w in ws], "o-", label="during panescan (longest of the runs)")
    ax.plot(xs, [w["python_gaps"]["max"] for w in ws], "^-", label="during the Python reference (longest of the runs)")
    ax.axhline(50, color="red", linestyle=":", label="50 ms")
    ax.set_xlabel("elements walked")
    # Logarithmic: a whole-tree fetch stalls for seconds, a good walk for a few ms.
    ax.set_yscale("log")
    ax.set_ylabel("longest UI gap, ms (log scale)")
    ax.set_title("The fixture's longest main-loop stall while it is read")
    ax.grid(alpha=0.3)
    ax.legend(fontsize="small")
    fig.tight_layout()
    fig.savefig(os.path.join(here, "ui_gap." + ext), metadata=METADATA)
    plt.close(fig)
