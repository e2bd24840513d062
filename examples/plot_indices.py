"""Plots observed F10.7 with its 81-day centred mean, daily Ap and Dtc from the shipped CSV and DTCFILE samples.

    python examples/plot_indices.py [OUTPUT.png]    (default: examples/indices.png)

Needs the `examples` extra: pip install "sunindex[examples]".
"""

import argparse
import datetime as dt
from pathlib import Path

import matplotlib

matplotlib.use("Agg")  # files only: no display needed

import matplotlib.dates as mdates
import matplotlib.pyplot as plt
import numpy as np

from sunindex_tools import SpaceWeather

HERE = Path(__file__).resolve().parent
DATA = HERE.parent / "data"
SOURCES = ["SW-sample.csv", "DTCFILE-sample.TXT"]
#: The 81-day mean of the observed flux, as the CSV writes it: SOLFSMY's F81c averages the
#: flux adjusted to 1 AU, a few per cent off the observed one as the Earth's distance from the Sun changes.
PLOTTED = ["f107_obs", "f107_obs_center81", "ap_avg", "dtc"]


def daily_columns():
    """Every day of the files' timeline, with the columns plotted (Dtc its daily mean)."""
    weather = SpaceWeather.load(*[DATA / name for name in SOURCES])
    first, last = weather.span
    columns = weather.daily(np.arange(first, last + dt.timedelta(days=1), dtype="M8[D]"))
    # NaN where an hour is missing: the mean of fewer hours is not the day's.
    return {"date": columns["date"], **{key: columns[key] for key in PLOTTED[:-1]}, "dtc": columns["dtc"].mean(axis=1)}


def shared_span(columns):
    """Row slice from the first to the last day on which every plotted column has a value.

    The CelesTrak file runs on into forecasts for years ahead; DTCFILE ends earlier, and
    forecasts are not observations.
    """
    complete = np.flatnonzero(np.all([~np.isnan(columns[key]) for key in PLOTTED], axis=0))
    if complete.size == 0:
        raise SystemExit("the sample files share no day with every plotted value")
    return slice(complete[0], complete[-1] + 1)


def plot(columns, output):
    rows = shared_span(columns)
    days = columns["date"][rows]
    f107, f107_81c = columns["f107_obs"][rows], columns["f107_obs_center81"][rows]
    ap, dtc = columns["ap_avg"][rows], columns["dtc"][rows]

    fig, (top, middle, bottom) = plt.subplots(3, 1, sharex=True, figsize=(10, 8), layout="constrained",
                                              height_ratios=[1.2, 1, 1])
    fig.suptitle(f"Daily solar and geomagnetic indices, {days[0]} to {days[-1]}", fontsize=14)
    top.set_title("merged from " + ", ".join(SOURCES), fontsize=9, color="dimgray")

    top.plot(days, f107, color="tab:orange", linewidth=0.8, label="observed F10.7 (daily)")
    top.plot(days, f107_81c, color="tab:red", linewidth=2, label="observed F10.7, 81-day centred mean")
    top.set_ylabel("observed F10.7 (sfu)")
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
    plot(daily_columns(), args.output)
    print(f"wrote {args.output}")


if __name__ == "__main__":
    main()
