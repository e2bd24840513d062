"""The picture of `sunindex plot`: observed F10.7 with its 81-day mean, Ap and the hourly
Dtc over a span of days, the days past the last observed one drawn in another style, and,
when asked for, the solar-cycle prediction past the CSV's daily rows at some percentiles,
the band between the lowest and the highest shaded. A span of a month or less shows each
day's 3-hour ap and hourly Dtc at their own times. Importing this module needs
matplotlib (the `plot` extra)."""

from __future__ import annotations

from collections.abc import Sequence
from dataclasses import dataclass
from pathlib import Path
from typing import Any

import matplotlib

matplotlib.use("Agg")  # files only: no display needed

import matplotlib.dates as mdates  # noqa: E402
import matplotlib.pyplot as plt  # noqa: E402
from matplotlib.axes import Axes  # noqa: E402
from matplotlib.figure import Figure  # noqa: E402
import numpy as np  # noqa: E402

from .space_weather import SpaceWeather  # noqa: E402

#: The longest span, in days, drawn with each day's sub-daily values at their own times and
#: each daily value as a step across its day: over longer spans eight 3-hour values a day
#: blur into a band, and one point a day reads better.
SHORT_SPAN_DAYS = 31

_OBSERVED: dict[str, Any] = {"linestyle": "-", "linewidth": 1.2}
_PREDICTED: dict[str, Any] = {"linestyle": "--", "marker": ".", "alpha": 0.8}
_FORECAST: dict[str, Any] = {"linestyle": ":", "linewidth": 1.5}
_BAND: dict[str, Any] = {"color": "tab:gray", "alpha": 0.2, "linewidth": 0}
#: The publishers of the files' predicted days, by the `daily` source column's names.
_PUBLISHERS = {"csv": "CelesTrak", "txt": "CelesTrak", "gfz": "GFZ", "swpc": "SWPC"}


@dataclass
class _Series:
    """One quantity of the files: `values` at `times` (instants), or, with `steps`, each
    holding from `times[i]` to `times[i + 1]` (one time more than values)."""

    label: str
    colour: str
    times: np.ndarray
    values: np.ndarray
    predicted: np.ndarray  # per value: past the last observed day
    predictor: str  # who published the predicted values
    steps: bool = False
    marker: str = ""  # on the instants of a short span, where each value is worth seeing


@dataclass
class _Panel:
    """One axis: its label, the files' series, and the solar-cycle prediction (one row per
    percentile, at `forecast_times`) where it has this quantity."""

    ylabel: str
    series: list[_Series]
    forecast: np.ndarray | None = None

    def has_values(self) -> bool:
        drawn = [series.values for series in self.series] + ([] if self.forecast is None else [self.forecast])
        return any(np.isfinite(values).any() for values in drawn)


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
    """Writes `figure(weather, days, percentiles)` to `output`, in the format its
    extension names (PNG without one). ValueError as `figure`."""
    extension = picture_format(output)  # before the figure: it closes every figure pyplot holds
    picture = figure(weather, days, percentiles)
    try:
        picture.savefig(output, format=extension, dpi=100)
    finally:
        plt.close(picture)


def figure(weather: SpaceWeather, days: np.ndarray, percentiles: Sequence[float] = ()) -> Figure:
    """The picture of `days` (datetime64[D], consecutive), with the solar-cycle
    prediction at each of `percentiles` (0 < q < 100) in place of the files on the days
    after the CSV's last daily row (on every day when no CSV is loaded) that it covers:
    the days `msis` takes from it. A panel with no value on the days is left out.

    Raises ValueError when none of the days lies on the loaded files' timeline, nor,
    with percentiles, in the prediction past the daily rows, or when no panel remains.
    """
    span = weather.span
    on_files = np.zeros(days.shape, bool) if span is None else (
        (days >= np.datetime64(span[0])) & (days <= np.datetime64(span[1])))
    ahead = _days_ahead(weather, days) if percentiles else np.zeros(days.shape, bool)
    shown = days[on_files | ahead]
    if shown.size == 0:
        covered = "no rows" if span is None else f"{span[0]} to {span[1]}"
        raise ValueError(f"nothing to draw from {days[0]} to {days[-1]}: the files cover {covered}")
    short = shown[-1] - shown[0] < np.timedelta64(SHORT_SPAN_DAYS, "D")
    panels = _file_panels(weather, days[on_files & ~ahead], short)
    levels = sorted(set(percentiles))
    forecast_times = _edges(days[ahead], 24) if short else days[ahead]
    if levels:
        prediction = weather.forecast(forecast_times, np.reshape(levels, (-1, 1)))
        panels[0].forecast, panels[1].forecast = prediction["f107"], prediction["ap"]
    panels = [panel for panel in panels if panel.has_values()]
    if not panels:
        raise ValueError(f"nothing to draw from {days[0]} to {days[-1]}: "
                         "the files give no observed F10.7, Ap or Dtc on those days")

    picture, axes = plt.subplots(len(panels), 1, sharex=True, figsize=(12, 2.6 * len(panels) + 1),
                                 layout="constrained", squeeze=False)
    title = f"{shown[0]}" if shown.size == 1 else f"{shown[0]} to {shown[-1]}"
    picture.suptitle(f"Solar and geomagnetic indices, {title}")
    for axis, panel in zip(axes[:, 0], panels):
        for series in panel.series:
            _line(axis, series)
        if panel.forecast is not None:
            _forecast(axis, forecast_times, panel.forecast, levels)
        # No margin in time: 5 % of a span of millennia would reach past the year 9999, where matplotlib has no dates.
        axis.margins(x=0)
        axis.set_ylabel(panel.ylabel)
        axis.grid(alpha=0.3)
        # Beside the axes, not over them: eight entries would hide months of data.
        axis.legend(loc="upper left", bbox_to_anchor=(1.01, 1), borderaxespad=0, fontsize=8, frameon=False)
    if short:  # the days whole, from the first one's midnight to the one after the last
        axes[0, 0].set_xlim(shown[0].astype("M8[m]"), _day_after(shown[-1]))
        # Ticks counted from the first day, not from each month's 1st, which would crowd the 29th and the 1st.
        locator = mdates.AutoDateLocator(interval_multiples=False)  # type: ignore[no-untyped-call,unused-ignore]
        axes[-1, 0].xaxis.set_major_locator(locator)
        formatter = mdates.AutoDateFormatter(locator)  # type: ignore[no-untyped-call,unused-ignore]
        axes[-1, 0].xaxis.set_major_formatter(formatter)
    axes[-1, 0].set_xlabel("time (UTC)" if short else "date (UTC)")
    return picture


def _file_panels(weather: SpaceWeather, days: np.ndarray, short: bool) -> list[_Panel]:
    """The panels of F10.7, Ap and Dtc from the files on `days`, in that order; over a
    `short` span, with each 3-hour ap, and each daily value a step across its day."""
    columns = weather.daily(days)
    predicted = days > np.datetime64(weather.last_observed or "NaT", "D") if weather.last_observed \
        else np.zeros(days.shape, bool)
    flux_by = _predictor(columns["f107_source"][predicted])
    daily_times = _edges(days, 1) if short else days

    def daily(label: str, colour: str, values: np.ndarray, by: str) -> _Series:
        return _Series(label, colour, daily_times, values, predicted, by, steps=short)

    # The axis names the quantity (observed, not adjusted to 1 AU); "observed" in a series's
    # name would read as "measured" beside the days CelesTrak predicts.
    flux = [daily("daily value", "tab:blue", columns["f107_obs"], flux_by),
            daily("81-day centred mean", "black", columns["f107_obs_center81"], flux_by)]
    ap_by = _predictor(columns["ap_source"][predicted])
    ap = [daily("daily Ap", "tab:red", columns["ap_avg"], ap_by)]
    if short:
        # A predicted day's eight slots repeat its Ap: only the observed ones say more than the daily Ap.
        three_hourly = np.where(predicted[:, None], np.nan, columns["ap"]).reshape(-1)
        ap.insert(0, _Series("3-hour ap", "tab:blue", _edges(days, 8), three_hourly, np.repeat(predicted, 8), ap_by,
                             steps=True))
    dtc = _Series("hourly Dtc", "tab:green", _instants(days, 24), columns["dtc"].reshape(-1),
                  np.repeat(predicted, 24), "", marker="." if short else "")
    return [_Panel("observed F10.7 (sfu)", flux), _Panel("Ap (2 nT)", ap), _Panel("Dtc (K)", [dtc])]


def _predictor(sources: np.ndarray) -> str:
    """Who published the predicted values of `sources` (their `daily` source column)."""
    return " and ".join(sorted({_PUBLISHERS[source] for source in np.unique(sources) if source}))


def _instants(days: np.ndarray, per_day: int) -> np.ndarray:
    """The starts of the `per_day` equal parts of each of `days`, in order (datetime64[m])."""
    parts = (np.arange(per_day) * (24 * 60 // per_day)).astype("m8[m]")
    starts: np.ndarray = days.astype("M8[m]")[:, None] + parts
    return starts.reshape(-1)


def _edges(days: np.ndarray, per_day: int) -> np.ndarray:
    """`_instants` and the end of the last day: the edges of the parts."""
    end = np.array([_day_after(day) for day in days[-1:]], "M8[m]")  # none for no days
    return np.append(_instants(days, per_day), end)


def _day_after(day: np.datetime64) -> np.datetime64:
    """The midnight ending `day`, held at 9999-12-31T23:59 past which matplotlib has no dates."""
    return min(day.astype("M8[m]") + np.timedelta64(1, "D"), np.datetime64("9999-12-31T23:59"))


def _days_ahead(weather: SpaceWeather, days: np.ndarray) -> np.ndarray:
    """Which of `days` lie past the CSV's daily rows (all, without them) and on or after
    the prediction's first month: those the forecast is drawn on."""
    daily_rows = weather.coverage["msis"]
    first_month = np.datetime64(weather.sources["msfc"].first, "D")
    past_rows = days > np.datetime64(daily_rows[1], "D") if daily_rows else np.ones(days.shape, bool)
    return past_rows & (days >= first_month)


def _forecast(axis: Axes, times: np.ndarray, values: np.ndarray, levels: list[float]) -> None:
    """The prediction at each percentile of `levels` (ascending; `values` one row each),
    and the band between the first and the last. A percentile has one colour on every
    panel, from its rank among `levels`."""
    if len(levels) > 1:
        axis.fill_between(times, values[0], values[-1], **_BAND)
    colours = plt.get_cmap("plasma")(np.linspace(0.15, 0.75, len(levels)) if len(levels) > 1 else [0.45])
    for level, row, colour in zip(levels, values, colours):
        axis.plot(times, row, color=colour, label=f"MSFC solar-cycle prediction, {level:g} %", **_FORECAST)


def _line(axis: Axes, series: _Series) -> None:
    """One series: the observed values solid, the predicted ones in the other style, each
    only where it has a value. A missing value leaves a gap among the observed ones."""
    observed = np.where(series.predicted, np.nan, series.values)
    predicted = np.where(series.predicted, series.values, np.nan)
    label = f"{series.label}, predicted by {series.predictor}"
    if series.steps:  # the last value holds to the end of its part: repeated at the last edge
        for values, name, style in ((observed, series.label, _OBSERVED), (predicted, label, _PREDICTED)):
            if np.isfinite(values).any():
                axis.plot(series.times, np.append(values, values[-1]), drawstyle="steps-post",
                          color=series.colour, label=name, **(style | {"marker": ""}))
        return
    if np.isfinite(observed).any():
        axis.plot(series.times, observed, color=series.colour, label=series.label, marker=series.marker, **_OBSERVED)
    kept = np.isfinite(predicted)  # monthly predictions are one day a month: join them
    if kept.any():
        axis.plot(series.times[kept], predicted[kept], color=series.colour, label=label, **_PREDICTED)
