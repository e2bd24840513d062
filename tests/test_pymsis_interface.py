"""pymsis in one line: `msis_inputs(interpolate=True)` against pymsis's own lookup, the rule
on small files whose values say where they came from, and `pymsis_kwargs`'s shapes."""

import datetime as dt
import warnings

import numpy as np
import pytest
from conftest import SAMPLE_DIR
from test_model_inputs import at, csv, csv_row  # noqa: F401 (csv is a fixture)

from sunindex_tools import SpaceWeather


@pytest.fixture
def ten_days(csv):
    return SpaceWeather.load(csv=csv([csv_row(d) for d in range(10)]))


class TestInterpolationRule:
    # Day d: F10.7_OBS 100 + d, centred mean 200 + d, daily Ap 1000 + d, slot s ap 10 d + s.
    @pytest.mark.parametrize("day,hours,f107,f107a,ap0", [
        (5, 0.0, 104.0, 205.0, 1005.0),  # the step values at midnight
        (5, 6.0, 104.25, 205.25, 1005.25),
        (5, 18.0, 104.75, 205.75, 1005.75),
        (9, 12.0, 108.0, 209.0, 1009.0),  # the last daily row: held, nothing past it to move toward
    ])
    def test_daily_values_across_the_day(self, ten_days, day, hours, f107, f107a, ap0):
        got = ten_days.msis_inputs(at(day, hours), interpolate=True)
        assert (got["f107"], got["f107a"], got["ap"][0]) == (f107, f107a, ap0)

    @pytest.mark.parametrize("day,hours,ap1_to_4", [
        (5, 12.0, [54, 53, 52, 51]),  # at the slot's start: the step values
        (5, 13.5, [54.5, 53.5, 52.5, 51.5]),
        (5, 22.5, [57 + 0.5 * (60 - 57), 56.5, 55.5, 54.5]),  # slot 7 moves toward the next day's slot 0
        (9, 22.5, [97, 96, 95, 94]),  # the last slot of the data: held
    ])
    def test_three_hourly_values_across_the_slot(self, ten_days, day, hours, ap1_to_4):
        assert ten_days.msis_inputs(at(day, hours), interpolate=True)["ap"][1:5].tolist() == ap1_to_4

    def test_means_move_toward_the_next_slots_means(self, ten_days):
        step = [ten_days.msis_inputs(at(5, h))["ap"][5:] for h in (12.0, 15.0)]
        got = ten_days.msis_inputs(at(5, 12.75), interpolate=True)["ap"][5:]
        assert got.tolist() == (step[0] + 0.25 * (step[1] - step[0])).tolist()

    def test_without_it_nothing_changes(self, ten_days):
        epochs = np.datetime64("2020-01-04T00:00") + np.arange(0, 6 * 24 * 60, 7).astype("m8[m]")
        step = ten_days.msis_inputs(epochs)
        explicit = ten_days.msis_inputs(epochs, interpolate=False)
        starts = epochs[(epochs - epochs.astype("M8[h]")).astype(int) == 0]
        assert all(np.array_equal(step[k], explicit[k]) for k in step)
        whole_hours = ten_days.msis_inputs(starts[starts.astype("M8[D]") == starts], interpolate=True)
        assert np.array_equal(whole_hours["f107"], ten_days.msis_inputs(starts[starts.astype("M8[D]") == starts])["f107"])

    def test_burst_limit_applies_to_each_day_before_interpolating(self, csv):
        sw = SpaceWeather.load(csv=csv([csv_row(d, obs=900 if d == 4 else None) for d in range(10)]))
        # Day 5 uses day 4's flux: 900 above the limit, so day 4's centred mean, 204.
        noon = sw.msis_inputs(at(4, 12), burst_limit=400, interpolate=True)
        assert (noon["f107"], noon["data_type"]) == (103 + 0.5 * (204 - 103), "INT")
        midnight = sw.msis_inputs(at(4), burst_limit=400, interpolate=True)
        assert (midnight["f107"], midnight["data_type"]) == (103.0, "OBS")
        assert sw.msis_inputs(at(4, 12), interpolate=True)["f107"] == 103 + 0.5 * (900 - 103)

    @pytest.mark.parametrize("interpolate", [False, True])
    def test_a_missing_flux_is_no_burst(self, csv, interpolate):
        rows = [csv_row(d) for d in range(10)]
        fields = rows[4].split(",")
        fields[24] = ""  # F10.7_OBS of day 4
        rows[4] = ",".join(fields)
        sw = SpaceWeather.load(csv=csv(rows))
        got = sw.msis_inputs(at(5), burst_limit=400, interpolate=interpolate)
        assert np.isnan(got["f107"]) and got["data_type"] == "OBS"

    @pytest.mark.parametrize("seconds,expected", [(0, "OBS"), (1, "PRD"), (86_399, "PRD")])
    def test_data_type_counts_the_next_day_once_it_is_used(self, csv, seconds, expected):
        sw = SpaceWeather.load(csv=csv([csv_row(d, kind="PRD" if d == 6 else "OBS") for d in range(10)]))
        epoch = np.datetime64("2020-01-06T00:00:00") + np.timedelta64(seconds, "s")
        assert sw.msis_inputs(epoch, interpolate=True)["data_type"] == expected

    def test_nat_and_outside(self, ten_days):
        got = ten_days.msis_inputs(np.array(["NaT", "2020-01-05T06"], "M8[s]"), interpolate=True)
        assert np.isnan(got["f107"][0]) and got["f107"][1] == 103.25
        with pytest.raises(ValueError, match="2020-01-11"):
            ten_days.msis_inputs(["2020-01-05", "2020-01-11T00:30"], interpolate=True)


class TestPymsisKwargs:
    KEYS = {"f107s": "f107", "f107as": "f107a", "aps": "ap"}

    @pytest.mark.parametrize("epochs,shape", [
        (dt.datetime(2020, 1, 5, 7), (1,)),
        ("2020-01-05T07:00", (1,)),
        (np.datetime64("2020-01-05T07", "h"), (1,)),
        (np.array(["2020-01-05T07", "2020-01-06T01", "2020-01-07"], "M8[m]"), (3,)),
        (np.array([["2020-01-05T07", "2020-01-06T01"], ["2020-01-07", "2020-01-09T23"]], "M8[s]"), (2, 2)),
    ])
    def test_shapes_and_values(self, ten_days, epochs, shape):
        got = ten_days.pymsis_kwargs(epochs)
        assert set(got) == set(self.KEYS)
        assert (got["f107s"].shape, got["f107as"].shape, got["aps"].shape) == (shape, shape, shape + (7,))
        inputs = ten_days.msis_inputs(epochs, burst_limit=400.0)
        for key, name in self.KEYS.items():
            assert np.array_equal(got[key].reshape(-1), np.reshape(inputs[name], -1))

    def test_default_burst_limit_is_pymsis_and_options_pass_through(self, csv):
        sw = SpaceWeather.load(csv=csv([csv_row(d, obs=938.6 if d == 4 else None) for d in range(10)]))
        assert sw.pymsis_kwargs(at(5))["f107s"].tolist() == [204.0]
        assert sw.pymsis_kwargs(at(5), burst_limit=None)["f107s"].tolist() == [938.6]
        assert sw.pymsis_kwargs(at(4, 12), interpolate=True)["f107s"].tolist() == [103 + 0.5 * (204 - 103)]
        with pytest.raises(TypeError, match="interpolation"):
            sw.pymsis_kwargs(at(5), interpolation=True)

    @pytest.mark.parametrize("epochs, percentile, shape", [
        ("2030-01-15T06:00", 84.13, (1,)),
        (np.array(["2026-09-19T13:30", "2031-05-05", "2045-12-31T23:59"], "M8[s]"), 5.0, (3,)),
        (np.array(["2026-09-19T13:30", "2031-05-05"], "M8[s]"), [[5.0], [50.0], [95.0]], (3, 2)),  # an ensemble
    ])
    def test_past_the_daily_rows_with_a_percentile(self, epochs, percentile, shape):
        sw = SpaceWeather.load(csv=SAMPLE_DIR / "SW-sample.csv")  # daily rows to 2026-09-18
        got = sw.pymsis_kwargs(epochs, forecast_percentile=percentile)
        inputs = sw.msis_inputs(epochs, burst_limit=400.0, forecast_percentile=percentile)
        assert np.all(np.asarray(inputs["data_type"]) == "MSFC")
        assert (got["f107s"].shape, got["f107as"].shape, got["aps"].shape) == (shape, shape, shape + (7,))
        for key, name in self.KEYS.items():
            assert np.array_equal(got[key].reshape(-1), np.reshape(inputs[name], -1))


@pytest.fixture(scope="module")
def pymsis_utils(request):
    """pymsis's lookup, pointed at the full SW-All.csv and kept off the network."""
    pytest.importorskip("pymsis")
    from conftest import FULL_DATA_DIR
    from pymsis import utils

    path = FULL_DATA_DIR / "SW-All.csv"
    if not path.is_file():
        pytest.skip(f"{path} not present")
    with pytest.MonkeyPatch.context() as patch:
        def refuse():
            raise AssertionError("pymsis tried to download")
        patch.setattr(utils, "download_f107_ap", refuse)
        # Its file choice is module state: put back as it was afterwards, whatever it was.
        patch.setattr(utils._SPACE_WEATHER, "path", utils._SPACE_WEATHER.path)
        patch.setattr(utils._SPACE_WEATHER, "data", utils._SPACE_WEATHER.data)
        utils.use_space_weather_file(path)
        yield utils, path


class TestAgainstPymsis:
    @pytest.mark.parametrize("interpolate", [False, True])
    def test_random_epochs(self, pymsis_utils, interpolate):
        utils, path = pymsis_utils
        sw = SpaceWeather.load(csv=path)
        first, last = (np.datetime64(day, "s") for day in sw.coverage["msis"])
        end = last + np.timedelta64(1, "D")
        rng = np.random.default_rng(18)
        epochs = np.concatenate([
            first + rng.integers(0, (end - first).astype(int), 20_000).astype("m8[s]"),
            np.arange(end - np.timedelta64(3, "D"), end, np.timedelta64(450, "s")),  # toward the held end
            np.arange(first, first + np.timedelta64(4, "D"), np.timedelta64(450, "s")),  # the first days
        ])
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", UserWarning)  # pymsis's "interpolated or predicted" warning
            f107, f107a, ap = utils.get_f107_ap(epochs, interpolate=interpolate)
        ours = sw.pymsis_kwargs(epochs, interpolate=interpolate)
        # pymsis counts hours in floating point from 1957; its fractions carry ~1e-11 of rounding.
        for theirs, mine in ((f107, ours["f107s"]), (f107a, ours["f107as"]), (ap, ours["aps"])):
            np.testing.assert_array_equal(np.isnan(mine), np.isnan(theirs))
            assert np.nanmax(np.abs(mine - theirs) / np.maximum(1.0, np.abs(theirs))) <= 1e-9

    def test_calculate_takes_them_as_written(self, pymsis_utils):
        import pymsis

        _, path = pymsis_utils
        sw = SpaceWeather.load(csv=path)
        for dates in (np.datetime64("2024-05-11T03:00"), np.array(["2024-05-10T18", "2024-05-11T12"], "M8[s]")):
            density = pymsis.calculate(dates, 0.0, 0.0, 400.0, **sw.pymsis_kwargs(dates), geomagnetic_activity=-1)
            assert density.shape[0] == np.size(dates) and np.all(density[..., 0] > 0)
