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

    ahead = ~daily_rows  # where the prediction gives the inputs: on the daily rows every member is the CSV's
    prediction = weather.sources["msfc"]
    figure, (flux, ap) = plt.subplots(2, 1, sharex=True, figsize=(9, 6.5), layout="constrained")
    panels = ((flux, inputs["f107"], "f107: observed F10.7 (sfu)"), (ap, inputs["ap"][..., 0], "daily Ap (2 nT)"))
    for axes, values, label in panels:
        axes.fill_between(days[ahead], values[0][ahead], values[2][ahead], color="tab:orange", alpha=0.3,
                          linewidth=0, label="MSFC solar-cycle prediction, 5-95 %")
        axes.plot(days[ahead], values[1][ahead], color="tab:orange", label="MSFC solar-cycle prediction, 50 %")
        axes.plot(days[daily_rows], values[1][daily_rows], color="black", lw=0.8,
                  label="CelesTrak daily rows, observed then predicted")
        axes.set_ylabel(label)
        axes.grid(alpha=0.3)
    ap.set_ylim(bottom=0)  # no top: the storms of the daily rows are drawn whole
    flux.legend(loc="lower left", bbox_to_anchor=(0, 1.01), ncols=2, fontsize=9, frameon=False)  # above the data
    figure.suptitle(f"MSIS inputs years ahead: {prediction.path.name} "
                    f"({prediction.first:%Y-%m} to {prediction.last:%Y-%m}, then its last 132 months again)")
    figure.savefig(args.output, dpi=110)
    print(f"wrote {args.output}")


if __name__ == "__main__":
    main()
