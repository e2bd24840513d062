"""Plots F10.7, daily Ap and Dtc from the three shipped sample files, merged into one store.

    python examples/plot_indices.py [OUTPUT.png]    (default: examples/indices.png)

Needs the `examples` extra: pip install "sunindex[examples]".
"""

import argparse
from pathlib import Path

import matplotlib

matplotlib.use("Agg")  # files only: no display needed

import matplotlib.dates as mdates
import matplotlib.pyplot as plt
import numpy as np

from sunindex import Sunindex

HERE = Path(__file__).resolve().parent
DATA = HERE.parent / "data"
SOURCES = {
    "SW-sample.csv": Sunindex.from_celestrak_csv,
    "SOLFSMY-sample.TXT": Sunindex.from_set_solfsmy,
    "DTCFILE-sample.TXT": Sunindex.from_set_dtcfile,
}
PLOTTED = ["f10_7_obs", "f10_7_jb_81c", "ap_daily", "dtc"]


def load_merged():
    stores = [read(str(DATA / name)) for name, read in SOURCES.items()]
    merged = stores[0]
    for other in stores[1:]:
        merged.merge(other)
    return merged


def shared_span(columns):
    """Row slice from the first to the last day on which every plotted column has a value.

    The CelesTrak file runs on into forecasts for years ahead; the other two files end
    earlier, and forecasts are not observations.
    """
    complete = np.flatnonzero(np.all([~np.isnan(columns[key]) for key in PLOTTED], axis=0))
    if complete.size == 0:
        raise SystemExit("the sample files share no day with every plotted value")
    return slice(complete[0], complete[-1] + 1)


def plot(columns, output):
    rows = shared_span(columns)
    days = columns["date"][rows].astype("datetime64[D]")
    f107, f107_81c = columns["f10_7_obs"][rows], columns["f10_7_jb_81c"][rows]
    ap, dtc = columns["ap_daily"][rows], columns["dtc"][rows]

    fig, (top, middle, bottom) = plt.subplots(3, 1, sharex=True, figsize=(10, 8), layout="constrained",
                                              height_ratios=[1.2, 1, 1])
    fig.suptitle(f"Daily solar and geomagnetic indices, {days[0]} to {days[-1]}", fontsize=14)
    top.set_title("merged from " + ", ".join(SOURCES), fontsize=9, color="dimgray")

    top.plot(days, f107, color="tab:orange", linewidth=0.8, label="F10.7 observed (daily)")
    top.plot(days, f107_81c, color="tab:red", linewidth=2, label="81-day centred average (JB2008)")
    top.set_ylabel("F10.7 (sfu)")
    top.legend(loc="upper left", frameon=False)
    top.text(0.995, 0.97, r"1 sfu = $10^{-22}$ W m$^{-2}$ Hz$^{-1}$", transform=top.transAxes,
             ha="right", va="top", fontsize=8, color="dimgray")

    middle.bar(days, ap, width=1.0, color="tab:blue")
    middle.set_ylabel("Daily Ap (2 nT)")
    peak = int(np.nanargmax(ap))
    middle.annotate(f"Ap {ap[peak]:g} on {days[peak]}", xy=(days[peak], ap[peak]),
                    xytext=(8, -4), textcoords="offset points", ha="left", va="top", fontsize=9)

    bottom.plot(days, dtc, color="tab:green", linewidth=1)
    bottom.set_ylabel("Dtc, daily mean (K)")

    for axis in (top, middle, bottom):
        axis.grid(True, color="0.9")
        axis.set_axisbelow(True)
        axis.margins(x=0)
    middle.set_ylim(bottom=0)
    bottom.xaxis.set_major_locator(mdates.MonthLocator(bymonth=(1, 4, 7, 10)))
    bottom.xaxis.set_major_formatter(mdates.DateFormatter("%Y-%m"))
    bottom.xaxis.set_minor_locator(mdates.MonthLocator())
    bottom.set_xlabel("Date (UT)")

    fig.savefig(output, dpi=110)
    plt.close(fig)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output", nargs="?", default=str(HERE / "indices.png"), help="PNG file to write")
    args = parser.parse_args()
    plot(load_merged().to_numpy(), args.output)
    print(f"wrote {args.output}")


if __name__ == "__main__":
    main()
