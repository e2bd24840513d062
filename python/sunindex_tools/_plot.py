"""The picture of `sunindex plot`: F10.7 with its 81-day mean, daily Ap and the hourly
Dtc over a span of days, the days past the last observed one drawn in another style, and,
when asked for, the solar-cycle prediction past the CSV's daily rows at some percentiles,
the band between the lowest and the highest shaded. Importing this module needs
matplotlib (the `plot` extra)."""

from __future__ import annotations

from collections.abc import Sequence
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
_FORECAST: dict[str, Any] = {"linestyle": ":", "linewidth": 1.2}
_BAND: dict[str, Any] = {"alpha": 0.2, "linewidth": 0}


def picture_format(output: Path) -> str:
    """The format `output`'s extension names ("png" without one); ValueError for one
    matplotlib cannot write, so that no file holds another format than its name says."""
    extension = output.suffix.lower().removeprefix(".") or "png"
    formats = plt.figure().canvas.get_supported_filetypes()
    plt.close("all")
    if extension not in formats:
        raise ValueError(f"{output}: cannot draw a .{extension} file; the formats are {', '.join(sorted(formats))}")
    return extension


def draw(weather: SpaceWeather, days: np.ndarray, output: Path, percentiles: Sequence[float] = ()) -> None:
    """Writes the picture of `days` (datetime64[D], consecutive) to `output`, in the format
    its extension names (PNG without one), with
    the solar-cycle prediction at each of `percentiles` (0 < q < 100) on the days after
    the CSV's last daily row (on every day when no CSV is loaded) that it covers.

    Raises ValueError when none of the days lies on the loaded files' timeline, nor,
    with percentiles, in the prediction past the daily rows.
    """
    span = weather.span
    on_files = np.zeros(days.shape, bool) if span is None else (
        (days >= np.datetime64(span[0])) & (days <= np.datetime64(span[1])))
    ahead = _days_ahead(weather, days) if percentiles else np.zeros(days.shape, bool)
    shown = days[on_files | ahead]
    if shown.size == 0:
        covered = "no rows" if span is None else f"{span[0]} to {span[1]}"
        raise ValueError(f"nothing to draw from {days[0]} to {days[-1]}: the files cover {covered}")
    inside = days[on_files]
    columns = weather.daily(inside)
    last_observed = np.datetime64(weather.last_observed or "NaT", "D")
    predicted = inside > last_observed if weather.last_observed else np.zeros(inside.shape, bool)
    levels = sorted(set(percentiles))
    prediction = weather.forecast(days[ahead], np.reshape(levels, (-1, 1))) if levels else {}

    panels = [("F10.7 (sfu)", "f107", [("F10.7", columns["f107_obs"]),
                                       ("its 81-day centred mean", columns["f107_obs_center81"])]),
              ("Ap", "ap", [("daily Ap", columns["ap_avg"])])]
    dtc = columns["dtc"]
    if not np.all(np.isnan(dtc)):
        panels.append(("Dtc (K)", "", [("hourly", dtc)]))
    figure, axes = plt.subplots(len(panels), 1, sharex=True, figsize=(10, 2.6 * len(panels) + 1), layout="constrained",
                                squeeze=False)
    figure.suptitle(f"Solar and geomagnetic indices, {shown[0]} to {shown[-1]}")
    for axis, (title, forecast_key, series) in zip(axes[:, 0], panels):
        for label, values in series:
            _line(axis, inside, values, predicted, label)
        if forecast_key in prediction:
            _forecast(axis, days[ahead], prediction[forecast_key], levels)
        # No margin in time: 5 % of a span of millennia would reach past the year 9999, where matplotlib has no dates.
        axis.margins(x=0)
        axis.set_ylabel(title)
        axis.grid(alpha=0.3)
        axis.legend(loc="upper left", fontsize=8)
    figure.savefig(output, format=picture_format(output), dpi=100)
    plt.close(figure)


def _days_ahead(weather: SpaceWeather, days: np.ndarray) -> np.ndarray:
    """Which of `days` lie past the CSV's daily rows (all, without them) and on or after
    the prediction's first month: those the forecast is drawn on."""
    daily_rows = weather.coverage["msis"]
    first_month = np.datetime64(weather.sources["msfc"].first, "D")
    past_rows = days > np.datetime64(daily_rows[1], "D") if daily_rows else np.ones(days.shape, bool)
    return past_rows & (days >= first_month)


def _forecast(axis: Axes, days: np.ndarray, values: np.ndarray, levels: list[float]) -> None:
    """The prediction at each percentile of `levels` (ascending; `values` one row each),
    and the band between the first and the last."""
    if len(levels) > 1:
        axis.fill_between(days, values[0], values[-1], label=f"prediction, {levels[0]:g}-{levels[-1]:g} %", **_BAND)
    for level, row in zip(levels, values):
        axis.plot(days, row, label=f"prediction, {level:g} %", **_FORECAST)


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
