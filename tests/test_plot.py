"""What `sunindex plot` draws, read from the figure's own lines, legends and labels; the
file it writes is the command's, tested with the others in test_cli.py."""

import numpy as np
import pytest

from conftest import FULL_DATA_DIR, SAMPLE_DIR
from sunindex_tools import SpaceWeather

pytest.importorskip("matplotlib")
import matplotlib.dates as mdates  # noqa: E402
import matplotlib.pyplot as plt  # noqa: E402
from matplotlib.colors import to_hex  # noqa: E402

from sunindex_tools._plot import figure  # noqa: E402

STORM = np.array(["2024-05-11"], "M8[D]")


def loaded(*paths):
    """The files of `paths`; skips the test when one of the full published files is absent."""
    for path in paths:
        if not path.is_file():
            pytest.skip(f"{path} not present")
    return SpaceWeather.load(*paths)


@pytest.fixture
def draw():
    """figure(), its figures closed after the test."""
    drawn = []
    yield lambda *args: drawn.append(figure(*args)) or drawn[-1]
    for picture in drawn:
        plt.close(picture)


def lines(axis):
    return {line.get_label(): line for line in axis.get_lines()}


def minutes(values):
    return np.asarray(values).astype("M8[m]")


@pytest.mark.parametrize("folder, names", [(SAMPLE_DIR, ["SW-sample.csv", "DTCFILE-sample.TXT"]),
                                           (FULL_DATA_DIR, ["SW-All.csv", "SOLFSMY.TXT", "DTCFILE.TXT"])])
def test_one_day_shows_its_sub_daily_values_across_it(draw, folder, names):
    weather = loaded(*[folder / name for name in names])
    flux, ap, dtc = draw(weather, STORM).axes
    day = weather.daily(STORM)
    start, end = np.datetime64("2024-05-11T00:00"), np.datetime64("2024-05-12T00:00")
    assert all(axis.get_xlim() == tuple(mdates.date2num([start, end])) for axis in (flux, ap, dtc))
    three_hourly, hourly = lines(ap)["3-hour ap"], lines(dtc)["hourly Dtc"]
    slots = np.arange(start, end + np.timedelta64(1, "m"), np.timedelta64(3, "h"))  # 00 to 24 UT
    assert minutes(three_hourly.get_xdata()).tolist() == slots.tolist()
    assert three_hourly.get_ydata().tolist() == [*day["ap"][0], day["ap"][0][-1]]  # the last slot held to 24 UT
    assert minutes(hourly.get_xdata()).tolist() == np.arange(start, end, np.timedelta64(1, "h")).tolist()
    assert hourly.get_ydata().tolist() == day["dtc"][0].tolist()
    assert set(lines(flux)["daily value"].get_ydata()) == {day["f107_obs"][0]}


def test_a_percentile_has_one_colour_and_legends_beside_the_axes_list_the_lines_drawn(draw):
    weather = SpaceWeather.load(csv=SAMPLE_DIR / "SW-sample.csv")
    picture = draw(weather, np.arange("2026-01-01", "2031-01-01", dtype="M8[D]"), [95, 5, 50])
    picture.canvas.draw()  # lays the legends out
    colours = []
    for axis in picture.axes:
        drawn = lines(axis)
        legend = axis.get_legend()
        assert [text.get_text() for text in legend.get_texts()] == list(drawn)
        assert all(np.isfinite(line.get_ydata()).any() for line in drawn.values())
        assert legend.get_window_extent().x0 >= axis.get_window_extent().x1  # no data under it
        colours.append({label: to_hex(line.get_color()) for label, line in drawn.items() if label.startswith("MSFC")})
    flux, ap = colours
    assert flux == ap and len(set(flux.values())) == 3
    assert list(flux) == [f"MSFC solar-cycle prediction, {q} %" for q in (5, 50, 95)]


@pytest.mark.parametrize("names, labels", [
    (["SW-sample.csv"], ["observed F10.7 (sfu)", "Ap (2 nT)"]),
    (["DTCFILE-sample.TXT"], ["Dtc (K)"]),
    (["SW-sample.csv", "DTCFILE-sample.TXT"], ["observed F10.7 (sfu)", "Ap (2 nT)", "Dtc (K)"]),
    (["SOLFSMY-sample.TXT"], []),  # on the timeline, but with none of the three
])
def test_only_panels_with_values_are_drawn(draw, names, labels):
    weather = SpaceWeather.load(*[SAMPLE_DIR / name for name in names])
    may = np.arange("2024-05-01", "2024-06-01", dtype="M8[D]")
    if not labels:
        with pytest.raises(ValueError, match="nothing to draw from 2024-05-01 to 2024-05-31: the files give no"):
            figure(weather, may)
        return
    assert [axis.get_ylabel() for axis in draw(weather, may).axes] == labels
