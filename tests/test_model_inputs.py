"""Model inputs of sunindex_tools.SpaceWeather: the published vectors, and the
edge rules on small files written here, whose values say where they came from."""

import datetime as dt
import inspect
import pickle
import re
import threading

import numpy as np
import pytest

from conftest import SAMPLE_DIR
from sunindex_tools import SpaceWeather, _types, cli

UTC = dt.timezone.utc
HEADER = ("DATE,BSRN,ND,KP1,KP2,KP3,KP4,KP5,KP6,KP7,KP8,KP_SUM,AP1,AP2,AP3,AP4,AP5,AP6,AP7,AP8,AP_AVG,"
          "CP,C9,ISN,F10.7_OBS,F10.7_ADJ,F10.7_DATA_TYPE,F10.7_OBS_CENTER81,F10.7_OBS_LAST81,"
          "F10.7_ADJ_CENTER81,F10.7_ADJ_LAST81")
FIRST = dt.date(2020, 1, 1)


def csv_row(day, kind="OBS", obs=None, ap=None):
    """A row of day number `day` after FIRST: slot s has ap 10*day + s, F10.7_OBS 100 + day,
    the centred mean 200 + day, the daily Ap 1000 + day."""
    date = FIRST + dt.timedelta(days=day)
    ap = [10 * day + s for s in range(8)] if ap is None else ap
    aps = ",".join(map(str, ap)) if ap else ",,,,,,,"
    obs = 100 + day if obs is None else obs
    return (f"{date},2500,1,{','.join(['3'] * 8)},24,{aps},{1000 + day if ap else ''},0.1,1,50,"
            f"{obs},{obs + 1},{kind},{200 + day},0,0,0")


@pytest.fixture
def csv(write_file):
    def make(rows):
        return write_file("\r\n".join([HEADER, *rows]) + "\r\n", "SW.csv")
    return make


@pytest.fixture
def ten_days(csv):
    return SpaceWeather.load(csv=csv([csv_row(d) for d in range(10)]))


def at(day, hours=0.0):
    return dt.datetime.combine(FIRST, dt.time()) + dt.timedelta(days=day, hours=hours)


class TestPublishedVectors:
    VECTORS = [  # epoch, f107, f107a, ap, burst limit, in the shipped sample
        ("1957-10-03T09:00", 253.3, 268.1, [19, 18, 5, 7, 12, 12.25, 20.75], None, False),
        ("1989-03-13T12:00", 240.5, 207.8, [246, 236, 236, 300, 179, 27.25, 21.125], None, False),
        ("2003-10-29T21:00", 274.4, 146.8, [204, 300, 300, 179, 179, 94.625, 17.5], None, False),
        ("2011-03-08T00:00", 115, 115.4, [5, 7, 15, 22, 6, 7.625, 4.75], 400, False),
        ("2024-05-10T17:59:59", 233.2, 176.2, [105, 179, 22, 7, 9, 7, 5], None, True),
        ("2024-05-10T18:00", 233.2, 176.2, [105, 300, 179, 22, 7, 7.75, 4.625], None, True),
        ("2024-05-11T03:00", 223.4, 177.1, [271, 236, 400, 300, 300, 32.125, 3.875], None, True),
        ("2024-05-11T12:00", 223.4, 177.1, [271, 300, 400, 236, 236, 153.625, 6.125], None, True),
        ("2024-05-13T00:00", 221.8, 179.1, [27, 56, 94, 27, 15, 110.125, 293.875], None, True),
        ("2026-08-07T00:00", 101.2, 132.3, [9, 0, 0, 2, 0, 2, 2.25], None, True),
    ]

    @pytest.fixture(scope="class", params=["full", "sample"])
    @classmethod
    def files(cls, request):
        from conftest import FULL_DATA_DIR, SAMPLE_DIR
        if request.param == "sample":
            names = ("SW-sample.csv", "SOLFSMY-sample.TXT", "DTCFILE-sample.TXT")
            return request.param, SpaceWeather.load(*(SAMPLE_DIR / n for n in names))
        paths = [FULL_DATA_DIR / n for n in ("SW-All.csv", "SOLFSMY.TXT", "DTCFILE.TXT")]
        if not all(p.is_file() for p in paths):
            pytest.skip("full data files not present")
        return request.param, SpaceWeather.load(*paths)

    @pytest.mark.parametrize("epoch,f107,f107a,ap,limit,in_sample", VECTORS)
    def test_msis(self, files, epoch, f107, f107a, ap, limit, in_sample):
        which, sw = files
        if which == "sample" and not in_sample:
            pytest.skip("before the sample")
        for given in (epoch, dt.datetime.fromisoformat(epoch), np.datetime64(epoch, "ns")):
            got = sw.msis_inputs(given, burst_limit=limit)
            assert (got["f107"], got["f107a"], got["ap"].tolist()) == (f107, f107a, ap)
        # The vector with a limit has its burst replaced: a stand-in, flagged "INT".
        expected_type = "PRD" if epoch.startswith("2026-08-07") else "INT" if limit else "OBS"
        assert got["data_type"] == expected_type

    def test_jb2008(self, files):
        sw = files[1]
        got = sw.jb2008_inputs("2024-05-11T00:00")
        assert got == {"f10": 227.9, "f10b": 179.6, "s10": 167.5, "s10b": 154.1, "xm10": 172.8,
                       "xm10b": 183.5, "y10": 188.2, "y10b": 179.8, "dstdtc": 489.0}
        assert sw.jb2008_inputs(["2024-05-11T12:30", "2024-05-10T18:00"])["dstdtc"].tolist() == [159.0, 92.0]

    def test_dstdtc_after_the_last_hourly_value(self, files):
        which, sw = files
        if which == "sample":
            pytest.skip("the sample's DTCFILE ends earlier")
        assert np.isnan(sw.jb2008_inputs("2025-05-10T23:30")["dstdtc"])
        assert sw.jb2008_inputs("2025-05-10T23:00")["dstdtc"] == 24.0


class TestSlotsAndDays:
    @pytest.mark.parametrize("hours,slot_day,slot", [
        (0, 5, 0), (3 - 1e-3 / 3600, 5, 0), (3, 5, 1), (23 + 59 / 60 + 59 / 3600, 5, 7), (24, 6, 0)])
    def test_boundaries(self, ten_days, hours, slot_day, slot):
        got = ten_days.msis_inputs(np.datetime64(at(5, hours), "us"))
        g = 8 * slot_day + slot
        a = lambda k: 10 * (k // 8) + k % 8  # noqa: E731 - the ap of continuous slot k
        assert got["ap"].tolist() == [1000 + slot_day, a(g), a(g - 1), a(g - 2), a(g - 3),
                                      np.mean([a(g - k) for k in range(4, 12)]),
                                      np.mean([a(g - k) for k in range(12, 20)])]
        assert (got["f107"], got["f107a"]) == (100 + slot_day - 1, 200 + slot_day)

    def test_nanoseconds_before_a_slot_stay_in_it(self, ten_days):
        three = np.datetime64(at(5, 3), "ns")
        assert ten_days.msis_inputs([three - np.timedelta64(1, "ns"), three])["ap"][:, 1].tolist() == [50, 51]

    @pytest.mark.parametrize("hours,offset_hours", [(1, -5), (20, 9)])
    def test_aware_datetimes_convert_to_utc(self, ten_days, hours, offset_hours):
        zone = dt.timezone(dt.timedelta(hours=offset_hours))
        local = at(5, hours).replace(tzinfo=UTC).astimezone(zone)  # another calendar day locally
        assert local.date() != at(5).date()
        expected = ten_days.msis_inputs(at(5, hours))
        for given in (local, local.isoformat(), [local]):
            got = ten_days.msis_inputs(given)
            assert np.array_equal(np.ravel(got["ap"]), expected["ap"])

    def test_kinds_of_epoch_agree(self, ten_days):
        pd = pytest.importorskip("pandas")
        want = ten_days.msis_inputs(np.array([at(5, 4)], "M8[s]"))["ap"]
        for given in ([at(5, 4)], [at(5, 4).isoformat() + "Z"], pd.DatetimeIndex([at(5, 4)]).tz_localize("UTC"),
                      pd.Series([pd.Timestamp(at(5, 4))]), np.array([at(5, 4)], "M8[m]")):
            assert np.array_equal(ten_days.msis_inputs(given)["ap"], want)
        assert ten_days.msis_inputs(dt.date(2020, 1, 6))["ap"][1] == 50

    def test_nat_gives_a_nan_row_and_shapes_follow_the_epochs(self, ten_days):
        got = ten_days.msis_inputs(np.array([[at(5)], ["NaT"]], "M8[us]"))
        assert got["ap"].shape == (2, 1, 7) and np.isnan(got["ap"][1]).all()
        assert got["data_type"].tolist() == [["OBS"], [""]]


class TestMissingValues:
    def test_first_days_of_a_file(self, ten_days):
        got = ten_days.msis_inputs(at(0, 4))
        assert np.isnan(got["f107"]) and got["f107a"] == 200
        assert got["ap"][:3].tolist() == [1000, 1, 0] and np.isnan(got["ap"][3:]).all()

    def test_a_day_missing_from_a_file_shifts_nothing(self, csv):
        sw = SpaceWeather.load(csv=csv([csv_row(d) for d in range(10) if d != 4]))
        got = sw.msis_inputs(at(5, 13.5))
        assert np.isnan(got["f107"]) and got["ap"][:2].tolist() == [1005, 54]
        assert np.isnan(got["ap"][5:]).all()
        assert sw.msis_inputs(at(7))["f107"] == 106

    @pytest.mark.parametrize("epoch", [at(10), at(-1, 23.9), "2030-01-01", np.datetime64(2**63 - 1, "D"),
                                       np.datetime64(-2**63 + 1, "s")])
    def test_outside_the_daily_rows(self, ten_days, epoch):
        with pytest.raises(ValueError, match=r"epoch .* outside .* 2020-01-01 to 2020-01-10"):
            ten_days.msis_inputs(epoch)
        with pytest.raises(ValueError, match=r"epoch .*(outside .* 2020-01-01 to 2020-01-10|out of the range)"):
            ten_days.msis_inputs([at(5), epoch])

    def test_monthly_predictions_are_never_used(self, csv):
        rows = [csv_row(d) for d in range(6)] + [csv_row(6, "PRM", ap=[]), csv_row(7, "PRD")]
        sw = SpaceWeather.load(csv=csv(rows))
        got = sw.msis_inputs(at(7, 1))
        assert np.isnan(got["f107"]) and got["ap"][1] == 70 and np.isnan(got["ap"][2:5]).all()
        with_monthly = SpaceWeather.load(csv=csv(rows[:7]))
        assert with_monthly.coverage["msis"] == (FIRST, dt.date(2020, 1, 6))  # a PRM day ends the daily span
        with pytest.raises(ValueError, match="to 2020-01-06"):
            with_monthly.msis_inputs(at(6))

    @pytest.mark.parametrize("hours,expected", [(2, "PRD"), (9, "OBS")])
    def test_a_predicted_day_used_only_by_the_ap_history(self, csv, hours, expected):
        sw = SpaceWeather.load(csv=csv([csv_row(0, "PRD")] + [csv_row(d) for d in range(1, 5)]))
        assert sw.msis_inputs(at(3, hours))["data_type"] == expected

    def test_burst_limit(self, csv):
        rows = [csv_row(0, obs=1200), csv_row(1), csv_row(2, obs=0), csv_row(3), csv_row(4, "PRD", obs=900), csv_row(5)]
        sw = SpaceWeather.load(csv=csv(rows))
        assert sw.msis_inputs([at(1), at(3)])["f107"].tolist() == [1200, 0]
        got = sw.msis_inputs([at(1), at(2), at(3), at(5, 12)], burst_limit=400)
        assert got["f107"].tolist() == [200, 101, 202, 204]
        # A stand-in flux is flagged at least "INT", as pymsis flags it; a predicted day stays "PRD".
        assert got["data_type"].tolist() == ["INT", "OBS", "INT", "PRD"]
        assert sw.msis_inputs(at(1), burst_limit=400)["data_type"] == "INT"  # the one-datetime path


def solfsmy_line(year, doy, f10, s10=150.0, s81c=150.0):
    return (f"{year:6d}{doy:4d}{'2458850.0':>12s}{f10:6.1f}{f10 + 1:6.1f}{s10:6.1f}{s81c:6.1f}"
            f"{f10 + 2:6.1f}{f10 + 3:6.1f}{f10 + 4:6.1f}{f10 + 5:6.1f}  1B11")


def dtc_line(year, doy, values):
    return f"DTC {year:4d}{doy:5d}" + "".join(f"{v:4d}" for v in values)


class TestJb2008:
    @pytest.fixture
    def sw(self, write_file):
        sol = [solfsmy_line(2020, d, 100.0 + d, s10=0.0 if d == 6 else 150.0, s81c=39.9 if d == 6 else 150.0)
               for d in range(1, 9)]
        dtc = [dtc_line(2020, d, [10 * d + h for h in range(24)]) for d in range(1, 8)]
        return SpaceWeather.load(solfsmy=write_file("\n".join(sol) + "\n"), dtcfile=write_file("\n".join(dtc) + "\n"))

    def test_lags(self, sw):
        got = sw.jb2008_inputs(at(6))  # day of year 7
        assert (got["f10"], got["f10b"], got["xm10"], got["xm10b"], got["y10"], got["y10b"]) == \
            (106, 107, 107, 108, 106, 107)

    def test_values_below_40_are_missing(self, sw):
        got = sw.jb2008_inputs(at(6))
        assert np.isnan(got["s10"]) and np.isnan(got["s10b"])

    @pytest.mark.parametrize("hours,expected", [(0, 60), (5, 65), (5.25, 65.25), (23, 83), (23.5, 76.5)])
    def test_dstdtc(self, sw, hours, expected):
        assert sw.jb2008_inputs(at(5, hours))["dstdtc"] == pytest.approx(expected, abs=1e-12)

    def test_dstdtc_at_the_last_hourly_value(self, sw):
        got = sw.jb2008_inputs([at(6, 23), at(6, 23.5)])["dstdtc"]
        assert got[0] == 93 and np.isnan(got[1])
        with pytest.raises(ValueError, match="both SOLFSMY.TXT and DTCFILE.TXT"):
            sw.jb2008_inputs(at(7))


class TestResultTypes:
    """The TypedDicts of _types.py against what the methods return: the same keys in the
    same order, each value of its annotation's dtype, with the trailing axis its comment
    gives, and the command line's labels as many as that axis."""

    KINDS = {"F": "f", "S": "U", "D": "M", "B": "b", "I": "i", "Floats": "f", "Texts": "U"}  # an annotation's dtype kind

    @pytest.fixture(scope="class")
    @classmethod
    def results(cls):
        names = ("SW-sample.csv", "SOLFSMY-sample.TXT", "DTCFILE-sample.TXT")
        sw = SpaceWeather.load(*(SAMPLE_DIR / name for name in names))
        epochs = np.array(["2024-05-11T12:00", "2024-05-12"], dtype="M8[m]")
        return {"msis": (_types.MsisInputs, sw.msis_inputs(epochs)),
                "msis with a percentile": (_types.MsisInputs, sw.msis_inputs(epochs, forecast_percentile=50)),
                "jb2008": (_types.Jb2008Inputs, sw.jb2008_inputs(epochs)),
                "show": (_types.DailyColumns, sw.daily(epochs))}

    @pytest.mark.parametrize("call", ["msis", "msis with a percentile", "jb2008", "show"])
    def test_keys_dtypes_and_widths(self, results, call):
        typed_dict, result = results[call]
        assert list(result) == list(typed_dict.__annotations__)
        widths = dict(re.findall(r"^    (\w+): (?:Floats|Texts)  # \((\d+),\) per epoch", inspect.getsource(typed_dict),
                                 re.M))
        for key, annotation in typed_dict.__annotations__.items():
            annotation = annotation.__forward_arg__  # the annotation's text: _types defers them
            trailing = (int(widths[key]),) if annotation in ("Floats", "Texts") else ()
            assert (result[key].dtype.kind, result[key].shape[1:]) == (self.KINDS[annotation], trailing), key

    @pytest.mark.parametrize("command", ["msis", "show"])
    def test_command_line_labels(self, results, command):
        result = results[command][1]
        for key, labels in cli._LABELS[command].items():
            assert len(labels) == result[key].shape[1], key


class TestObject:
    def test_pickle_and_threads(self, ten_days):
        epochs = np.arange(np.datetime64(at(0)), np.datetime64(at(10)), np.timedelta64(7, "m"))
        want = ten_days.msis_inputs(epochs)
        copy = pickle.loads(pickle.dumps(ten_days))
        assert repr(copy) == repr(ten_days)
        results = [None, None]

        def compute(i):
            results[i] = copy.msis_inputs(epochs)

        threads = [threading.Thread(target=compute, args=(i,)) for i in range(2)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        for got in results:
            assert all(np.array_equal(got[k], want[k], equal_nan=k != "data_type") for k in want)

    def test_daily_and_to_pandas(self, ten_days):
        day = ten_days.daily("2020-01-03T23:00")
        assert (day["date"], day["f107_obs"], day["f107_obs_center81"], day["f107_data_type"]) == \
            (np.datetime64("2020-01-03"), 102, 202, "OBS")
        assert np.isnan(day["dtc"]).all() and day["ap"].tolist() == list(range(20, 28))
        pd = pytest.importorskip("pandas")
        frame = ten_days.to_pandas()
        assert isinstance(frame.index, pd.DatetimeIndex) and len(frame) == 10
        assert frame.loc["2020-01-03", "ap8"] == 27

    @pytest.mark.parametrize("bad_row", [None, 300, 2900])
    def test_long_csv_read_by_two_threads(self, csv, bad_row):
        """A file of 256 KiB or more is read in two halves: the second half's values and the rows
        that the calendar check names must be those of the whole file."""
        rows = [csv_row(d) for d in range(3000)]
        if bad_row:
            rows[bad_row - 2] = csv_row(0).replace(str(FIRST), "2021-02-30")
        path = csv(rows)
        if bad_row:
            with pytest.raises(ValueError, match=rf"SW\.csv: parse error at row {bad_row}: invalid date"):
                SpaceWeather.load(csv=path)
            return
        inputs = SpaceWeather.load(csv=path).msis_inputs(at(2900, 12))
        assert (inputs["f107"], inputs["f107a"]) == (100 + 2899, 200 + 2900)

    def test_load_errors_name_the_file(self, tmp_path, csv, write_file):
        with pytest.raises(FileNotFoundError, match="nope.csv"):
            SpaceWeather.load(csv=tmp_path / "nope.csv")
        bad = csv([csv_row(0), csv_row(0).replace(str(FIRST), "2020-02-30")])
        with pytest.raises(ValueError, match=r"SW\.csv: parse error at row 3: invalid date"):
            SpaceWeather.load(csv=bad)
        line = solfsmy_line(2020, 1, 100.0)
        with pytest.raises(ValueError, match=r"file\d\.txt: parse error at row 1: S81c"):
            SpaceWeather.load(solfsmy=write_file(line[:40] + " 15x.0" + line[46:] + "\n"))


class TestTwoThreads:
    """A call of 2**15 epochs or more is split between two threads: it must give what short
    calls, run on one thread, give, and name the first epoch outside in epoch order."""

    N = 70_000

    @pytest.fixture(scope="class")
    def sw(self):
        from conftest import SAMPLE_DIR
        return SpaceWeather.load(csv=SAMPLE_DIR / "SW-sample.csv", solfsmy=SAMPLE_DIR / "SOLFSMY-sample.TXT",
                                 dtcfile=SAMPLE_DIR / "DTCFILE-sample.TXT")

    def epochs(self, span):
        lo, hi = (np.datetime64(day, "us").astype(np.int64) for day in span)
        epochs = np.random.default_rng(7).integers(lo, hi + 86_400_000_000, self.N).astype("M8[us]")
        epochs[::997] = np.datetime64("NaT", "us")
        return epochs

    @pytest.mark.parametrize("method, options", [
        ("msis_inputs", {}),
        ("msis_inputs", {"interpolate": True, "burst_limit": 150.0}),
        ("jb2008_inputs", {}),
    ])
    def test_same_as_short_calls(self, sw, method, options):
        epochs = self.epochs(sw.coverage["msis" if method == "msis_inputs" else "jb2008"])
        self.check_against_parts(getattr(sw, method), epochs, options, axis=0)

    @pytest.mark.parametrize("method, percentile", [
        ("msis_inputs", 84.0),
        ("msis_inputs", np.array([[5.0], [50.0], [95.0]])),  # 3 members: rows are (member, epoch)
        ("forecast", np.array([[5.0], [50.0], [95.0]])),
    ])
    def test_forecast_same_as_short_calls(self, sw, method, percentile):
        """Across the daily rows' end, into the prediction: every kind of epoch in both halves."""
        last = sw.coverage["msis"][1]
        epochs = self.epochs((last - dt.timedelta(days=5), last + dt.timedelta(days=400)))
        key = "forecast_percentile" if method == "msis_inputs" else "percentile"
        self.check_against_parts(getattr(sw, method), epochs, {key: percentile}, axis=min(np.ndim(percentile), 1))

    def check_against_parts(self, compute, epochs, options, axis):
        whole = compute(epochs, **options)
        parts = [compute(epochs[i:i + 10_000], **options) for i in range(0, self.N, 10_000)]
        for key, values in whole.items():
            joined = np.concatenate([part[key] for part in parts], axis=axis)
            assert np.array_equal(values, joined, equal_nan=values.dtype.kind == "f"), key

    @pytest.mark.parametrize("method", ["msis_inputs", "jb2008_inputs"])
    @pytest.mark.parametrize("outside_at", [[60_000], [10_000, 60_000], [34_999, 35_000]])
    def test_first_epoch_outside_is_named(self, sw, method, outside_at):
        epochs = self.epochs(sw.coverage["msis" if method == "msis_inputs" else "jb2008"])
        epochs[outside_at] = np.datetime64("1900-01-01T00:00")
        with pytest.raises(ValueError) as raised:
            getattr(sw, method)(epochs)
        assert raised.value.index == outside_at[0]


class TestCsvValuesReadLater:
    """A load reads the CSV's values the model inputs need; the first `daily` call reads the rest.
    Together they must give every value `sunindex` reads, whoever asks first."""

    @pytest.fixture(params=["sample", "full"])
    def csv_path(self, request, sample_path, full_data):
        return sample_path("SW-sample.csv") if request.param == "sample" else full_data("SW-All.csv")

    def test_daily_equals_sunindex(self, csv_path):
        from sunindex import Sunindex
        store = Sunindex.from_celestrak_csv(csv_path).to_numpy()
        daily = SpaceWeather.load(csv=csv_path).daily(np.array(store["date"], dtype="M8[D]"))
        for ours, theirs in [("f107_obs", "f10_7_obs"), ("f107_adj", "f10_7_adj"), ("ap_avg", "ap_daily"),
                             ("ap", "ap_3hr"), ("kp", "kp_3hr")]:
            assert np.array_equal(daily[ours], store[theirs], equal_nan=True), ours

    def test_first_daily_calls_from_threads(self, sample_path):
        days = np.arange(np.datetime64("2024-01-01"), np.datetime64("2024-01-20"))
        want = SpaceWeather.load(csv=sample_path("SW-sample.csv")).daily(days)
        sw = SpaceWeather.load(csv=sample_path("SW-sample.csv"))
        results = [None] * 4

        def first_call(i):
            results[i] = sw.daily(days)

        threads = [threading.Thread(target=first_call, args=(i,)) for i in range(len(results))]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        for got in results:
            assert all(np.array_equal(got[k], want[k], equal_nan=got[k].dtype.kind == "f") for k in want)
