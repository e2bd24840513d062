"""The picture of `sunindex plot`: F10.7 with its 81-day mean, daily Ap and the hourly
Dtc over a span of days, the days past the last observed one drawn in another style.
Importing this module needs matplotlib (the `plot` extra)."""

from __future__ import annotations

from pathlib import Path
from typing import Any

import matplotlib

matplotlib.use("Agg")  # files only: no display needed

import matplotlib.pyplot as plt  # noqa: E402
from matplotlib.axes import Axes  # noqa: E402
import numpy as np  # noqa: E402

from .space_weather import SpaceWeather  # noqa: E402

_OBSERVED: dict[str, Any] = {"linestyle": "-"}
_PREDICTED: dict[str, Any] = {"linestyle": "--", "marker": ".", "alpha": 0.8}


def draw(weather: SpaceWeather, days: np.ndarray, output: Path) -> None:
    """Writes the picture of `days` (datetime64[D], consecutive) to `output` as PNG.

    Raises ValueError when none of the days lies on the loaded files' timeline.
    """
    span = weather.span
    inside = days if span is None else days[(days >= np.datetime64(span[0])) & (days <= np.datetime64(span[1]))]
    if span is None or inside.size == 0:
        covered = "no rows" if span is None else f"{span[0]} to {span[1]}"
        raise ValueError(f"nothing to draw from {days[0]} to {days[-1]}: the files cover {covered}")
    columns = weather.daily(inside)
    last_observed = np.datetime64(weather.last_observed or "NaT", "D")
    predicted = inside > last_observed if weather.last_observed else np.zeros(inside.shape, bool)

    panels = [("F10.7 (sfu)", [("F10.7", columns["f107_obs"]), ("its 81-day centred mean", columns["f107_obs_center81"])]),
              ("Ap", [("daily Ap", columns["ap_avg"])])]
    dtc = columns["dtc"]
    if not np.all(np.isnan(dtc)):
        panels.append(("Dtc (K)", [("hourly", dtc)]))
    figure, axes = plt.subplots(len(panels), 1, sharex=True, figsize=(10, 2.6 * len(panels) + 1), layout="constrained",
                                squeeze=False)
    figure.suptitle(f"Solar and geomagnetic indices, {inside[0]} to {inside[-1]}")
    for axis, (title, series) in zip(axes[:, 0], panels):
        for label, values in series:
            _line(axis, inside, values, predicted, label)
        axis.set_ylabel(title)
        axis.grid(alpha=0.3)
        axis.legend(loc="upper left", fontsize=8)
    figure.savefig(output, format="png", dpi=100)
    plt.close(figure)


def _line(axis: Axes, days: np.ndarray, values: np.ndarray, predicted: np.ndarray, label: str) -> None:
    """One series: a day's value at its midnight, or 24 hourly values across it; the
    observed days solid, the predicted ones in the other style. A missing day leaves a
    gap among the observed ones."""
    if values.ndim == 2:  # hourly: each hour at its own instant
        per_day = values.shape[-1]
        times = (days.astype("M8[h]")[:, None] + np.arange(per_day).astype("m8[h]")).reshape(-1)
        values, predicted = values.reshape(-1), np.repeat(predicted, per_day)
    else:
        times = days
    line = axis.plot(times, np.where(predicted, np.nan, values), label=label, **_OBSERVED)[0]
    kept = predicted & ~np.isnan(values)  # monthly predictions are one day a month: join them
    if kept.any():
        axis.plot(times[kept], values[kept], color=line.get_color(), label=f"{label}, predicted", **_PREDICTED)
