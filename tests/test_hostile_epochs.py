"""Epochs and arguments a careless or hostile caller gives SpaceWeather: each is either
read as the instant it names or refused with a clear error, never read as another."""

import datetime as dt
import inspect
import multiprocessing
import pickle
import shutil

import numpy as np
import pytest

from conftest import SAMPLE_DIR
from sunindex_tools import EpochOutsideError, SpaceWeather, _native
from sunindex_tools._file_kinds import UnknownFileKind
from sunindex_tools.cli import main
from sunindex_tools.fetch import FetchError
from test_model_inputs import HEADER, at, csv_row, dtc_line, solfsmy_line


@pytest.fixture(scope="module")
def ten_days(tmp_path_factory):
    path = tmp_path_factory.mktemp("ten_days") / "SW.csv"
    path.write_text("\n".join([HEADER, *(csv_row(d) for d in range(10))]) + "\n")
    return SpaceWeather.load(csv=path)


@pytest.fixture(scope="module")
def jb2008(tmp_path_factory):
    """SOLFSMY and DTCFILE of 2020-01-01 to 01-08; Dtc of day-of-year d, hour h is 10 d + h."""
    folder = tmp_path_factory.mktemp("jb2008")
    (folder / "SOLFSMY.TXT").write_text("\n".join(solfsmy_line(2020, d, 100.0 + d) for d in range(1, 9)) + "\n")
    (folder / "DTCFILE.TXT").write_text("\n".join(dtc_line(2020, d, [10 * d + h for h in range(24)])
                                                  for d in range(1, 9)) + "\n")
    return SpaceWeather.load(solfsmy=folder / "SOLFSMY.TXT", dtcfile=folder / "DTCFILE.TXT")


def same_inputs(got, want):
    return got.keys() == want.keys() and all(
        np.array_equal(got[k], want[k], equal_nan=np.asarray(want[k]).dtype.kind == "f") for k in want)


class TestByteOrdersAndUnits:
    """Every datetime64 byte order and unit names the same instant."""

    @pytest.mark.parametrize("dtype,epoch", [
        *((f"{order}M8[{unit}]", at(5, 6.5)) for order in "<>=" for unit in ("ns", "us", "ms", "s", "m", "15m")),
        (">M8[h]", at(5, 6)), (">M8[2h]", at(5, 6)), (">M8[D]", at(5)), (">M8[3D]", at(2)),
        (">M8[W]", at(1)),  # weeks count from 1970-01-01, a Thursday, as 2020-01-02 is
        (">M8[M]", at(0)), (">M8[Y]", at(0)),
    ])
    def test_every_order_and_unit(self, ten_days, dtype, epoch):
        want = ten_days.msis_inputs(np.array([epoch], "M8[us]"))
        assert same_inputs(ten_days.msis_inputs(np.array([epoch], dtype)), want)
        assert same_inputs(ten_days.daily(np.array([epoch], dtype)), ten_days.daily(np.array([epoch], "M8[us]")))

    @pytest.mark.parametrize("dtype", [">M8[ns]", ">M8[s]"])
    def test_big_endian_arrays_of_any_shape_and_stride(self, ten_days, dtype, jb2008):
        epochs = np.arange(np.datetime64(at(1)), np.datetime64(at(7)), np.timedelta64(97, "m")).astype(dtype)
        for given in (epochs[::3], epochs[:36].reshape(6, 6), epochs[:36].reshape(6, 6).T):
            native = given.astype(given.dtype.newbyteorder("="))
            assert same_inputs(ten_days.msis_inputs(given), ten_days.msis_inputs(native))
            assert same_inputs(jb2008.jb2008_inputs(given), jb2008.jb2008_inputs(native))

    @pytest.mark.parametrize("dtype", ["<M8[ps]", ">M8[ps]", ">M8[fs]", ">M8[as]"])
    def test_finer_than_nanoseconds_rounds_towards_the_past(self, write_file, dtype):
        """A tick before 1970-01-01 is still in 1969-12-31, whatever the unit and order."""
        rows = ["1969-12-31,1", "1970-01-01,2"]  # then BSRN
        sw = SpaceWeather.load(csv=write_file("\n".join([HEADER, *(r + ",1" * 29 for r in rows)]) + "\n"))
        got = sw.daily(np.array([-1, 0], dtype))
        assert got["date"].tolist() == [dt.date(1969, 12, 31), dt.date(1970, 1, 1)]

    @pytest.mark.parametrize("ticks", [
        np.array([0], ">i8"), np.array([0], "<i4"), np.array([0.0]), np.array([0], "u8"), np.zeros((2, 2), "i8").T])
    def test_the_native_module_takes_only_native_contiguous_int64(self, ten_days, ticks):
        with pytest.raises((TypeError, ValueError), match="contiguous"):
            ten_days._timeline.msis(ticks, 86_400_000_000, None, False, ten_days._prediction)


class ZoneWithoutOffset(dt.tzinfo):
    """A tzinfo that knows no offset: its datetimes count as naive."""

    def utcoffset(self, moment):
        return None


class TestAwareDatetimes:
    """One conversion to UTC, whichever path an epoch takes."""

    @pytest.mark.parametrize("moment", [
        dt.datetime(2020, 1, 6, 4, tzinfo=dt.timezone(dt.timedelta(hours=5))),
        dt.datetime(2020, 1, 5, 20, tzinfo=dt.timezone(-dt.timedelta(hours=4, minutes=30))),
        dt.datetime(2020, 1, 6, 1, 30, tzinfo=ZoneWithoutOffset()),
    ])
    def test_the_paths_agree(self, ten_days, moment):
        one = ten_days.msis_inputs(moment)  # the one-datetime path
        offset = moment.utcoffset() or dt.timedelta(0)
        naive = moment.replace(tzinfo=None) - offset
        for given in ([moment], moment.isoformat(), np.datetime64(naive, "us")):
            got = ten_days.msis_inputs(given)
            assert np.array_equal(np.ravel(got["ap"]), one["ap"]) and np.ravel(got["f107"])[0] == one["f107"]

    @pytest.mark.parametrize("moment,utc", [
        (dt.datetime(9999, 12, 31, 23, tzinfo=dt.timezone(-dt.timedelta(hours=5))), "10000-01-01T04:00"),
        (dt.datetime(1, 1, 1, tzinfo=dt.timezone(dt.timedelta(hours=5))), "0000-12-31T19:00"),
        (dt.datetime(2030, 1, 1, 2, tzinfo=dt.timezone(dt.timedelta(hours=5))), "2029-12-31T21:00"),
    ])
    def test_one_error_for_every_path(self, ten_days, moment, utc):
        errors = set()
        for given in (moment, [moment], np.array([moment], dtype=object), moment.isoformat()):
            with pytest.raises(ValueError, match=f"epoch .*{utc}.* is outside the daily rows") as raised:
                ten_days.msis_inputs(given)
            errors.add(str(raised.value))
        assert len(errors) == 1

    def test_the_converter_refuses_what_is_not_a_date(self):
        with pytest.raises(TypeError, match="an epoch must be a datetime or a date, not str"):
            _native.utc_microseconds("2020-01-01")


class TestEpochStrings:
    @pytest.mark.parametrize("text", [
        "", " ", "now", "today", "2020-01-06T", "2020-13-01", "2020-01-06T02:59:59.9999999999",
        "1500-01-01T00:00:00.0000001", "2020-01-06T02:59:59.",
        "2020-01-06T0259591234567891",  # a tenth digit, as with a decimal sign
    ])
    def test_refused(self, ten_days, text):
        with pytest.raises(ValueError, match="epoch"):
            ten_days.msis_inputs(text)
        with pytest.raises(ValueError, match="epoch"):
            ten_days.msis_inputs(["2020-01-06", text])

    @pytest.mark.parametrize("text,slot", [
        ("2020-01-06T02:59:59.9999999", 0), ("2020-01-06T02:59:59.999999999", 0), ("2020-01-06T02:59:59,999999999", 0),
        ("2020-01-06T07:59:59.999999999+05:00", 0), ("2020-01-05T21:59:59.999999999-05:00", 0),
        ("20200106T025959.999999999Z", 0), ("2020-01-06T03:00:00.000000000", 1), ("2020-01-06 03:00:00.0000001Z", 1),
        ("2020-01-06T025959999999999", 0), ("20200106T0259599999999", 0),  # compact, digits past the microsecond
    ])
    def test_nanoseconds_are_kept(self, ten_days, text, slot):
        assert ten_days.msis_inputs(text)["ap"][1] == 50 + slot

    @pytest.mark.parametrize("text", ["2020-01-06T05:00:00.0000009", "2020-01-06T05:59:59.999999999+00:00"])
    def test_nanoseconds_reach_the_interpolation(self, jb2008, text):
        exact = np.datetime64(text.removesuffix("+00:00"), "ns")
        got, want = jb2008.jb2008_inputs(text)["dstdtc"], jb2008.jb2008_inputs(exact)["dstdtc"]
        assert got == want and got != jb2008.jb2008_inputs(exact.astype("M8[us]"))["dstdtc"]

    def test_nat_text_is_nat(self, ten_days):
        assert np.isnan(ten_days.msis_inputs(["NaT", "2020-01-06"])["f107"][0])


class TestBurstLimit:
    @pytest.mark.parametrize("limit", [float("nan"), np.float64("nan"), 0, -400.0, float("-inf")])
    def test_refused(self, ten_days, limit):
        for given in (at(5), [at(5)], "2020-01-06"):
            with pytest.raises(ValueError, match="burst_limit must be a number above 0"):
                ten_days.msis_inputs(given, burst_limit=limit)

    def test_infinity_replaces_only_fluxes_at_or_below_zero(self, csv):
        sw = SpaceWeather.load(csv=csv([csv_row(0, obs=0), csv_row(1, obs=5000), csv_row(2)]))
        assert sw.msis_inputs([at(1), at(2)], burst_limit=float("inf"))["f107"].tolist() == [200, 5000]

    def test_on_the_command_line(self, tmp_path, capsys):
        for name, cached in (("SW-sample.csv", "SW-All.csv"), ("SOLFSMY-sample.TXT", "SOLFSMY.TXT"),
                             ("DTCFILE-sample.TXT", "DTCFILE.TXT")):
            shutil.copyfile(SAMPLE_DIR / name, tmp_path / cached)
        status = main(["msis", "2024-05-11", "--burst-limit", "nan", "--offline", "--data-dir", str(tmp_path)])
        out, err = capsys.readouterr()
        assert status == 2 and out == "" and "not a burst limit: 'nan'" in err


@pytest.fixture
def csv(write_file):
    return lambda rows: write_file("\n".join([HEADER, *rows]) + "\n", "SW.csv")


class TestObject:
    @pytest.mark.parametrize("contents,message", [
        ("SW-All.csv", "SpaceWeather.load"),
        (SAMPLE_DIR / "SW-sample.csv", "SpaceWeather.load"),
        ({"csv": "SW-All.csv"}, "SpaceWeather.load"),
        ({"sw": (SAMPLE_DIR / "SW.csv", b"")}, "unknown file key 'sw'; the keys are csv, solfsmy, dtcfile"),
    ])
    def test_made_from_a_path_says_to_load(self, contents, message):
        with pytest.raises(TypeError, match=message):
            SpaceWeather(contents)

    @pytest.mark.parametrize("name", ["_timeline", "_contents", "sources", "msis_inputs", "anything"])
    def test_immutable(self, ten_days, name):
        with pytest.raises(AttributeError, match="immutable"):
            setattr(ten_days, name, None)
        with pytest.raises(AttributeError, match="immutable"):
            delattr(ten_days, name)
        with pytest.raises(AttributeError):
            object.__setattr__(ten_days, "anything", None)  # no __dict__ to put it in
        assert same_inputs(pickle.loads(pickle.dumps(ten_days)).msis_inputs(at(5)), ten_days.msis_inputs(at(5)))

    @pytest.mark.parametrize("keyword", ["csv", "solfsmy"])
    def test_to_pandas_of_no_rows(self, write_file, ten_days, keyword):
        pytest.importorskip("pandas")
        frame = SpaceWeather.load(**{keyword: write_file(HEADER + "\n" if keyword == "csv" else "")}).to_pandas()
        full = ten_days.to_pandas()
        assert len(frame) == 0 and frame.columns.tolist() == full.columns.tolist()
        assert frame.index.name == "date" and (frame.dtypes == full.dtypes).all()


class TestOneTable:
    """Lists that must name the same things in the same order come from one table."""

    def test_load_takes_the_source_keys(self):
        # The tables of names are held to the native keys when imported; load's keywords, which
        # take what fetch returns, are not: the timeline's files and the prediction, the first
        # three files and the prediction in the places they have always had, after the files
        # told by their content.
        parameters = inspect.signature(SpaceWeather.load).parameters
        keywords = [name for name, parameter in parameters.items() if parameter.kind is parameter.KEYWORD_ONLY]
        assert [parameter.kind for parameter in parameters.values()][0] is inspect.Parameter.VAR_POSITIONAL
        assert sorted(keywords) == sorted((*_native.SOURCE_KEYS, "msfc")) and len(parameters) == len(keywords) + 1
        assert keywords[:4] == ["csv", "solfsmy", "dtcfile", "msfc"]

    def test_each_csv_extra_lands_in_the_column_of_its_name(self, write_file):
        names = ["BSRN", "ND", "KP_SUM", "CP", "C9", "ISN", "F10.7_OBS_CENTER81", "F10.7_OBS_LAST81",
                 "F10.7_ADJ_CENTER81", "F10.7_ADJ_LAST81"]
        header = "DATE,F10.7_OBS,F10.7_ADJ,AP_AVG," + ",".join(f"AP{i}" for i in range(1, 9)) + "," + \
            ",".join(f"KP{i}" for i in range(1, 9)) + "," + ",".join(reversed(names))
        row = "2020-01-01,1,2,3," + ",".join(["4"] * 16) + "," + ",".join(str(10 + i) for i in reversed(range(10)))
        got = SpaceWeather.load(csv=write_file(f"{header}\n{row}\n")).daily("2020-01-01")
        assert {name: got[name.lower().replace(".", "")] for name in names} == \
            {name: 10 + i for i, name in enumerate(names)}

    def test_jb2008_inputs_in_the_models_order(self, jb2008):
        got = jb2008.jb2008_inputs(at(6, 5))
        assert list(got) == ["f10", "f10b", "s10", "s10b", "xm10", "xm10b", "y10", "y10b", "dstdtc"]
        assert (got["f10"], got["xm10"], got["y10"], got["dstdtc"]) == (106, 107, 106, 75)


def outside_in_a_worker(weather, epoch):
    return weather.msis_inputs(epoch)


class TestArgumentTypes:
    """NumPy reads True as 1, "50" as 50 and a timedelta as its ticks: only real numbers are percentiles or limits."""

    @pytest.mark.parametrize("q", [True, [True, 50], np.array([True]), "50", b"50", np.timedelta64(50, "D"),
                                   np.datetime64("2020-01-01"), object()])
    def test_a_percentile_that_is_no_real_number(self, ten_days, q):
        with pytest.raises(TypeError, match="^forecast_percentile must be a real number"):
            ten_days.msis_inputs("2020-01-02", forecast_percentile=q)

    @pytest.mark.parametrize("limit", ["400", b"400", True, np.timedelta64(400, "s"), [400.0]])
    def test_a_burst_limit_that_is_no_real_number(self, ten_days, limit):
        with pytest.raises(TypeError, match="^burst_limit must be a real number"):
            ten_days.msis_inputs("2020-01-02", burst_limit=limit)

    @pytest.mark.parametrize("q", [50, np.float32(50.0), np.int64(50), [[5], [95]], np.array([1, 2], dtype=np.uint8)])
    def test_real_numbers_are_taken(self, ten_days, q):
        assert np.all(np.isfinite(ten_days.msis_inputs("2020-01-02", forecast_percentile=q)["f107"]))


class TestExceptionsCrossProcesses:
    @pytest.mark.parametrize("error", [
        lambda weather: pytest.raises(EpochOutsideError, weather.msis_inputs, "1999-01-01").value,
        lambda weather: FetchError("https://example.invalid/x: 503 Service Unavailable"),
        lambda weather: UnknownFileKind("x.txt: a file of no known kind"),
    ])
    def test_every_exception_pickles_with_its_message_and_attributes(self, ten_days, error):
        original = error(ten_days)
        copy = pickle.loads(pickle.dumps(original))
        assert (type(copy), str(copy), vars(copy)) == (type(original), str(original), vars(original))

    def test_an_epoch_outside_in_a_pool_worker_reaches_the_caller(self, ten_days):
        with multiprocessing.get_context("fork").Pool(1) as pool:
            result = pool.apply_async(outside_in_a_worker, (ten_days, "1999-01-01"))
            with pytest.raises(EpochOutsideError, match="^epoch 1999-01-01T00:00:00.000000 is outside") as raised:
                result.get(timeout=60)  # an exception that does not unpickle never arrives
        assert raised.value.index == 0
