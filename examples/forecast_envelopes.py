"""Plots the 5, 50 and 95 % envelopes of the MSIS inputs f107 and daily Ap from the
shipped CSV sample's last daily row on, years ahead from the solar-cycle prediction.

    python examples/forecast_envelopes.py [OUTPUT.png]    (default: examples/forecast.png)

Needs the `examples` extra: pip install "sunindex[examples]".
"""

import argparse
from pathlib import Path

import matplotlib

matplotlib.use("Agg")  # files only: no display needed

import matplotlib.pyplot as plt
import numpy as np

from sunindex_tools import SpaceWeather

HERE = Path(__file__).resolve().parent
PERCENTILES = np.array([[5], [50], [95]])  # one row per member: the envelopes in one call


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output", nargs="?", default=HERE / "forecast.png", type=Path)
    args = parser.parse_args()

    weather = SpaceWeather.load(csv=HERE.parent / "data" / "SW-sample.csv")
    days = np.arange("2026-01-01", "2038-01-01", dtype="M8[D]")
    inputs = weather.msis_inputs(days, forecast_percentile=PERCENTILES)
    daily_rows = inputs["data_type"][1] != "MSFC"

    figure, (flux, ap) = plt.subplots(2, 1, sharex=True, figsize=(9, 6), constrained_layout=True)
    for axes, values, label in ((flux, inputs["f107"], "f107 (sfu)"), (ap, inputs["ap"][..., 0], "daily Ap")):
        axes.fill_between(days, values[0], values[2], color="tab:orange", alpha=0.3, label="5-95 %")
        axes.plot(days, values[1], color="tab:orange", label="50 %")
        axes.plot(days[daily_rows], values[1][daily_rows], color="black", lw=0.8, label="CelesTrak daily rows")
        axes.set_ylabel(label)
        axes.grid(alpha=0.3)
    ap.set_ylim(0, 50)  # the envelopes, rather than the storms of the daily rows
    flux.legend(loc="upper right")
    prediction = weather.sources["msfc"]
    flux.set_title(f"MSIS inputs years ahead: {prediction.path.name} "
                   f"({prediction.first:%Y-%m} to {prediction.last:%Y-%m}, then its last 132 months again)")
    figure.savefig(args.output, dpi=110)
    print(f"wrote {args.output}")


if __name__ == "__main__":
    main()
