"""The timeline as an xarray Dataset and a pandas DataFrame: the values daily() gives,
with units, long names and the files they came from."""

import sys

import numpy as np
import pytest

from conftest import SAMPLE_DIR
from sunindex_tools import SpaceWeather

CSV, SOLFSMY, DTCFILE = (SAMPLE_DIR / name for name in ("SW-sample.csv", "SOLFSMY-sample.TXT", "DTCFILE-sample.TXT"))
SETS = {
    "three": {"csv": CSV, "solfsmy": SOLFSMY, "dtcfile": DTCFILE},
    "csv twice": {"csv": [CSV, CSV]},
    "solfsmy": {"solfsmy": SOLFSMY},
}


@pytest.fixture(params=list(SETS))
def weather(request):
    return SpaceWeather.load(**SETS[request.param])


def source_keys(weather):
    return {f"source_{name.replace('#', '_')}" for name in weather.sources}


def test_the_dataset_holds_daily_with_units_and_sources(weather):
    xr = pytest.importorskip("xarray")
    dataset = weather.to_xarray()
    first, last = weather.span
    days = np.arange(np.datetime64(first), np.datetime64(last) + np.timedelta64(1, "D"))
    daily = weather.daily(days)
    assert isinstance(dataset, xr.Dataset) and (dataset["date"].values == days.astype("M8[ns]")).all()
    assert set(dataset.data_vars) == set(daily) - {"date"}
    for key, values in dataset.data_vars.items():
        assert np.array_equal(values.values, daily[key], equal_nan=values.dtype.kind == "f")
        assert values.attrs["units"] and values.attrs["long_name"]
    assert dataset["ap"].dims == ("date", "three_hour") and dataset["hp30"].dims == ("date", "half_hour")
    assert dataset["three_hour"].values.tolist() == [0, 3, 6, 9, 12, 15, 18, 21]
    assert dataset["half_hour"].values[-1] == 23.5 and dataset["hour"].attrs["units"] == "h"
    assert (dataset["f107_obs"].attrs["units"], dataset["ap_avg"].attrs["units"], dataset["dtc"].attrs["units"]) == (
        "sfu", "2 nT", "K")
    assert source_keys(weather) <= set(dataset.attrs) and all(isinstance(v, str) for v in dataset.attrs.values())
    assert all(str(source.path) in dataset.attrs[f"source_{name.replace('#', '_')}"]
               for name, source in weather.sources.items())


def test_the_frame_carries_the_same_attributes(weather):
    pytest.importorskip("pandas")
    frame = weather.to_pandas()
    assert source_keys(weather) <= set(frame.attrs)
    assert set(frame.attrs["units"]) == set(frame.attrs["long_name"]) == set(frame.columns)
    assert (frame.attrs["units"]["ap8"], frame.attrs["units"]["dtc23"], frame.attrs["units"]["f10"]) == (
        "2 nT", "K", "sfu")
    dataset = pytest.importorskip("xarray") and weather.to_xarray()
    assert {key: frame.attrs[key] for key in dataset.attrs} == dataset.attrs


@pytest.mark.parametrize("keyword", ["csv", "solfsmy"])
def test_no_rows_is_an_empty_dataset(write_file, keyword):
    pytest.importorskip("xarray")
    content = CSV.read_text().splitlines()[0] + "\n" if keyword == "csv" else ""
    dataset = SpaceWeather.load(**{keyword: write_file(content)}).to_xarray()
    assert dataset.sizes["date"] == 0 and dataset["ap"].shape == (0, 8) and "source_msfc" in dataset.attrs


@pytest.mark.parametrize("method, extra", [("to_xarray", "xarray"), ("to_pandas", "pandas")])
def test_without_the_library_the_error_names_the_extra(monkeypatch, method, extra):
    monkeypatch.setitem(sys.modules, extra, None)  # as when it is not installed
    with pytest.raises(ImportError, match=rf'pip install "sunindex\[{extra}\]", or pip install "\.\[{extra}\]"'):
        getattr(SpaceWeather.load(csv=CSV), method)()

