"""The legacy fixed-width text file stands in for the CSV: of the same release, the same
inputs and daily values, read by its own reader."""

import datetime as dt

import numpy as np
import pytest

from conftest import SAMPLE_DIR
from sunindex_tools import SpaceWeather
from test_hostile_epochs import same_inputs

UTC = dt.timezone.utc


def days(first, last, step_minutes):
    return np.arange(np.datetime64(first), np.datetime64(last), np.timedelta64(step_minutes, "m"))


@pytest.fixture(params=["sample", "full"])
def text_and_csv(request, full_data):
    """The text file of 2025-07-21 and a CSV of 2026, on the files of each size; the text
    file's last rows are nowcasts that the CSV holds revised, so they agree to 2025-06-10."""
    if request.param == "sample":
        return SAMPLE_DIR / "SW-sample.txt", SAMPLE_DIR / "SW-sample.csv", "2024-01-04"
    return full_data("legacy/SW-All.txt"), full_data("SW-All.csv"), "1957-10-05"


def test_the_text_file_gives_the_csvs_inputs(text_and_csv):
    txt, csv, first = text_and_csv
    from_text, from_csv = SpaceWeather.load(txt=txt), SpaceWeather.load(csv=csv)
    epochs = days(first, "2025-06-10", 37)
    for interpolate in (False, True):
        assert same_inputs(from_text.msis_inputs(epochs, interpolate=interpolate),
                           from_csv.msis_inputs(epochs, interpolate=interpolate))
    daily_text, daily_csv = from_text.daily(epochs[::39]), from_csv.daily(epochs[::39])
    # Only the sunspot numbers are revised on such old days; each value names its own file.
    apart = {"isn", "f107_source", "ap_source"}
    assert same_inputs({k: v for k, v in daily_text.items() if k not in apart},
                       {k: v for k, v in daily_csv.items() if k not in apart})
    assert set(daily_text["f107_source"]) == {"txt"} and set(daily_csv["f107_source"]) == {"csv"}


@pytest.mark.parametrize("name, stamp", [
    ("SW-sample.txt", dt.datetime(2025, 7, 21, 10, 37, 15, tzinfo=UTC)),
    ("legacy/SpaceWeather-All-v1.2_snapshot_20200224.txt", dt.datetime(2020, 2, 22, 6, 40, 0, 10_000, tzinfo=UTC)),
])
def test_each_dialect_keeps_its_stamp(full_data, name, stamp):
    path = SAMPLE_DIR / name if name.startswith("SW-sample") else full_data(name)
    weather = SpaceWeather.load(txt=path)
    assert weather.sources["txt"].stamp == stamp
    assert weather.msis_inputs(np.datetime64(stamp.date()) - np.timedelta64(60, "D"))["data_type"] == "OBS"


def test_beside_a_csv_and_refused_when_cut(write_file):
    text = (SAMPLE_DIR / "SW-sample.txt").read_bytes()
    both = SpaceWeather.load(csv=SAMPLE_DIR / "SW-sample.csv", txt=SAMPLE_DIR / "SW-sample.txt")
    day = both.daily("2024-05-11")  # of the same certainty, the CSV's values first
    assert (day["f107_source"], set(day["ap_source"])) == ("csv", {"csv"}) and list(both.sources)[:2] == ["csv", "txt"]
    line = text.index(b"2024 05 11")
    cut = write_file(text[:line + 60] + text[text.index(b"\r\n", line):], "cut.txt")
    row = text[:line].count(b"\n") + 1
    with pytest.raises(ValueError, match=rf"cut.txt: parse error at row {row}: "):
        SpaceWeather.load(txt=cut)
