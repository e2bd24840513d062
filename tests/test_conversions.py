import datetime
import sys
import types
from datetime import date, timedelta, timezone
from types import SimpleNamespace as NS

import pytest

from sunindex import Sunindex

HEADER = "DATE,F10.7_OBS,F10.7_ADJ,AP_AVG," + ",".join([f"AP{i}" for i in range(1, 9)] + [f"KP{i}" for i in range(1, 9)])
ROWS = [
    "2023-12-31,150.1,148.2,7,3,4,5,6,7,8,9,10,3,7,10,13,17,20,23,27",
    "2024-01-01,135.7,131.2,10,3,2,3,5,7,15,18,27,7,3,7,13,20,30,33,40",
    "2024-01-02,142.1,,8,12,9,3,7,9,12,7,3,27,23,7,20,23,27,20,7",
    "2024-01-31,9999.9,120.0,5,,1,1,1,1,1,1,1,0,0,0,0,0,0,0,0",
    "2024-02-01,111.0,110.5,4,1,2,3,4,5,6,7,8,0,3,7,10,13,17,20,23",
]
KEYS = ["date", "f10_7_obs", "f10_7_adj", "f10_7_jb", "f10_7_jb_81c", "ap_daily", "ap_3hr", "kp_3hr", "s10_7", "m10_7", "y10_7", "dtc"]
D = date(2024, 1, 1)
OVERFLOW = "out of range integral type conversion attempted"
C_LONG_OVERFLOW = "Python int too large to convert to C long"


def expected_from_row(line):
    """The dict that a CSV-only store gives for one row of ROWS, read from the row's text."""
    f = line.split(",")
    value = lambda t: None if t in ("", "9999.9") else float(t)
    eight = lambda ts: [float(t) for t in ts] if all(ts) else None
    return dict.fromkeys(KEYS) | {"date": date.fromisoformat(f[0]), "f10_7_obs": value(f[1]), "f10_7_adj": value(f[2]),
                                  "ap_daily": value(f[3]), "ap_3hr": eight(f[4:12]), "kp_3hr": eight(f[12:20])}


def solfsmy_line(day, values):
    return f"{day.year:6d}{day.timetuple().tm_yday:4d}" + " " * 12 + "".join(f"{v:6.1f}" for v in values)


@pytest.fixture
def obj(write_file):
    return Sunindex.from_celestrak_csv(write_file("\n".join([HEADER, *ROWS]) + "\n"))


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Traced:
    """Records the order in which the attributes are read; a missing value raises AttributeError."""

    def __init__(self, **values):
        self.values, self.log = values, []

    def __getattr__(self, name):
        self.log.append(name)
        if name not in self.values:
            raise AttributeError(name)
        return self.values[name]


class TestDateArgument:
    @pytest.mark.parametrize("arg", [
        D, datetime.datetime(2024, 1, 1, 23, 59, 59), datetime.datetime(2024, 1, 1, 23, tzinfo=timezone(timedelta(hours=-5))),
        NS(year=2024, month=1, day=1), NS(year=2024, month=True, day=True), NS(year=Index(2024), month=Index(1), day=Index(1)),
        type("D", (date,), {})(2024, 1, 1),
    ])
    def test_accepted(self, obj, arg):
        result = obj.get(arg)
        assert result == expected_from_row(ROWS[1])
        assert type(result["date"]) is date and result["date"] is not arg
        assert obj.get_range(arg, arg) == [result]

    @pytest.mark.parametrize("y, m, d", [
        (2024, 2, 30), (2024, 13, 1), (2024, 1, 0), (2024, 0, 1), (2024, 255, 255), (2023, 4, 31),
        (2**31 - 1, 1, 1), (-2**31, 1, 1), (0, 1, 1), (False, 0, 0),
    ])
    def test_matches_nothing(self, obj, y, m, d):
        assert obj.get(NS(year=y, month=m, day=d)) is None
        assert obj.get_range(NS(year=y, month=m, day=d), NS(year=y, month=m, day=d)) == []

    @pytest.mark.parametrize("start, end, dates", [
        ((2023, 13, 1), (2024, 1, 32), ["2024-01-01", "2024-01-02", "2024-01-31"]),
        ((2023, 12, 0), (2023, 13, 0), ["2023-12-31"]),
        ((2024, 1, 0), (2024, 1, 0), []),
        ((2024, 1, 31), (2024, 2, 0), ["2024-01-31"]),
        ((2024, 0, 0), (2024, 255, 255), ["2024-01-01", "2024-01-02", "2024-01-31", "2024-02-01"]),
        ((-2**31, 0, 0), (2**31 - 1, 255, 255), [r[:10] for r in ROWS]),
    ])
    def test_calendar_free_bounds(self, obj, start, end, dates):
        span = obj.get_range(NS(year=start[0], month=start[1], day=start[2]), NS(year=end[0], month=end[1], day=end[2]))
        assert [r["date"].isoformat() for r in span] == dates

    @pytest.mark.parametrize("arg, message", [
        ("2024-01-01", "'str' object has no attribute 'year'"),
        (None, "'NoneType' object has no attribute 'year'"),
        (20240101, "'int' object has no attribute 'year'"),
    ])
    def test_no_attributes(self, obj, arg, message):
        for call in (lambda: obj.get(arg), lambda: obj.get_range(arg, D), lambda: obj.get_range(D, arg), lambda: obj.get(date=arg)):
            with pytest.raises(AttributeError) as e:
                call()
            assert str(e.value) == message

    @pytest.mark.parametrize("values", [dict(year=2024.0, month=1, day=1), dict(year=2024, month=2.0, day=1),
                                        dict(year=2024, month=1, day=1.5), dict(year="2024", month=1, day=1),
                                        dict(year=None, month=1, day=1), dict(year=2024, month=1, day=date(2024, 1, 1))])
    def test_not_integer(self, obj, values):
        with pytest.raises(TypeError) as e:
            obj.get(NS(**values))
        assert not str(e.value).startswith("argument")

    @pytest.mark.parametrize("values, message", [
        (dict(year=2024, month=256, day=1), OVERFLOW), (dict(year=2024, month=-1, day=1), OVERFLOW),
        (dict(year=2024, month=300, day=1), OVERFLOW), (dict(year=2024, month=1, day=256), OVERFLOW),
        (dict(year=2024, month=1, day=-1), OVERFLOW), (dict(year=2024, month=Index(-1), day=1), OVERFLOW),
        (dict(year=2**31, month=1, day=1), OVERFLOW), (dict(year=-2**31 - 1, month=1, day=1), OVERFLOW),
        (dict(year=2**63 - 1, month=1, day=1), OVERFLOW),
        (dict(year=2**70, month=1, day=1), C_LONG_OVERFLOW), (dict(year=-2**70, month=1, day=1), C_LONG_OVERFLOW),
        (dict(year=2024, month=2**70, day=1), C_LONG_OVERFLOW),
    ])
    def test_out_of_range(self, obj, values, message):
        with pytest.raises(OverflowError) as e:
            obj.get(NS(**values))
        assert str(e.value) == message

    @pytest.mark.parametrize("values, error, log", [
        (dict(year=2024, month=1, day=1), None, ["year", "month", "day"]),
        (dict(month=1, day=1), AttributeError, ["year"]),
        (dict(year=2024.5, month=1, day=1), TypeError, ["year"]),
        (dict(year=2**31, month=1, day=1), OverflowError, ["year"]),
        (dict(year=2024, day=1), AttributeError, ["year", "month"]),
        (dict(year=2024, month=256, day=1), OverflowError, ["year", "month"]),
        (dict(year=2024, month=1), AttributeError, ["year", "month", "day"]),
    ])
    def test_attribute_order(self, obj, values, error, log):
        arg = Traced(**values)
        if error is None:
            assert obj.get(arg)["date"] == D
        else:
            with pytest.raises(error):
                obj.get(arg)
        assert arg.log == log

    def test_start_converted_before_end(self, obj):
        start, end = Traced(month=1, day=1), Traced()
        with pytest.raises(AttributeError):
            obj.get_range(start, end)
        assert (start.log, end.log) == (["year"], [])


class TestRecordDict:
    @pytest.mark.parametrize("row", ROWS)
    def test_keys_and_values(self, obj, row):
        result = obj.get(date.fromisoformat(row[:10]))
        assert list(result) == KEYS
        assert result == expected_from_row(row)
        for key in KEYS[1:]:
            value = result[key]
            assert value is None or type(value) is (list if key.endswith("_3hr") else float)
            if type(value) is list:
                assert len(value) == 8 and all(type(v) is float for v in value)

    def test_range_dicts_equal_single_gets(self, obj):
        span = obj.get_range(date(2023, 1, 1), date(2025, 1, 1))
        assert span == [expected_from_row(r) for r in ROWS]
        assert span == [obj.get(date.fromisoformat(r[:10])) for r in ROWS]

    def test_all_fields_after_merge(self, obj, write_file):
        values = (160.1, 158.4, 138.7, 140.6, 154.4, 158.1, 166.8)
        obj.merge(Sunindex.from_set_solfsmy(write_file(solfsmy_line(D, values) + "\n")))
        result = obj.get(D)
        assert list(result) == KEYS
        f10, f81c, s10, _, m10, _, y10 = values
        assert result == expected_from_row(ROWS[1]) | {"f10_7_jb": f10, "f10_7_jb_81c": f81c, "s10_7": s10, "m10_7": m10, "y10_7": y10}

    def test_results_are_independent(self, obj):
        first, second = obj.get(D), obj.get(D)
        assert first == second and first is not second and first["ap_3hr"] is not second["ap_3hr"]
        first["ap_3hr"][0] = -1.0
        first["kp_3hr"].append(1.0)
        first["f10_7_obs"] = 0.0
        span = obj.get_range(D, D)
        span[0].clear()
        del first["date"]
        assert obj.get(D) == second == expected_from_row(ROWS[1])
        assert obj.get_range(D, D) == [second]

    def test_range_over_merged_samples_equals_gets(self, sample_path):
        store = Sunindex.from_celestrak_csv(sample_path("SW-sample.csv"))
        store.merge(Sunindex.from_set_solfsmy(sample_path("SOLFSMY-sample.TXT")))
        store.merge(Sunindex.from_set_dtcfile(sample_path("DTCFILE-sample.TXT")))
        span = store.get_range(*store.date_range())
        assert len(span) == store.len()
        assert all(list(r) == KEYS and type(r["date"]) is date for r in span)
        assert [repr(r) for r in span] == [repr(store.get(r["date"])) for r in span]  # also tells 1 from 1.0

    def test_date_range(self, obj, write_file):
        assert obj.date_range() == (date(2023, 12, 31), date(2024, 2, 1))
        single = Sunindex.from_celestrak_csv(write_file("\n".join([HEADER, ROWS[2]])))
        first, last = result = single.date_range()
        assert type(result) is tuple and len(result) == 2
        assert first == last == date(2024, 1, 2) and first is not last
        assert type(first) is date and type(last) is date

    def test_date_refused_by_datetime(self, write_file):
        row = ROWS[1].replace("2024-01-01", "2023-02-30")
        store = Sunindex.from_celestrak_csv(write_file("\n".join([HEADER, ROWS[0], row, ROWS[2]])))
        for call in (lambda: store.get(NS(year=2023, month=2, day=30)), lambda: store.date_range(),
                     lambda: store.get_range(date(2023, 1, 1), date(2024, 12, 31))):
            with pytest.raises(ValueError) as e:
                call()
            assert "day is out of range for month" in str(e.value)
        assert store.get(date(2024, 1, 2))["date"] == date(2024, 1, 2)
        assert store.get_range(date(2023, 3, 1), date(2024, 12, 31))[0]["date"] == date(2023, 12, 31)


class TestReplacedDateType:
    def test_each_conversion_looks_up_date(self, obj, monkeypatch):
        class Sub(date):
            pass

        monkeypatch.setattr(datetime, "date", Sub)
        assert type(obj.get(D)["date"]) is Sub
        assert {type(d) for d in obj.date_range()} == {Sub}
        assert {type(r["date"]) for r in obj.get_range(D, date(2024, 1, 2))} == {Sub}

        calls = []
        monkeypatch.setattr(datetime, "date", lambda *args, **kwargs: calls.append((args, kwargs)) or ("made", len(calls)))
        assert obj.get(D)["date"] == ("made", 1)
        assert obj.date_range() == (("made", 2), ("made", 3))
        assert calls == [((2024, 1, 1), {}), ((2023, 12, 31), {}), ((2024, 2, 1), {})]
        assert all(type(v) is int for args, _ in calls for v in args)

        monkeypatch.undo()
        assert type(obj.get(D)["date"]) is date

    @pytest.mark.parametrize("successor", ["the C type", "a function"])
    def test_replacement_made_within_a_range_is_honoured(self, obj, monkeypatch, successor):
        then = date if successor == "the C type" else lambda *args: ("then", args)

        def first(*args):
            monkeypatch.setattr(datetime, "date", then)
            return ("first", args)

        monkeypatch.setattr(datetime, "date", first)
        days = [date.fromisoformat(r[:10]) for r in ROWS]
        got = [r["date"] for r in obj.get_range(days[0], days[-1])]
        assert got == [("first", (2023, 12, 31))] + [then(d.year, d.month, d.day) for d in days[1:]]
        assert [type(d) for d in got[1:]] == [type(then(2024, 1, 1))] * (len(days) - 1)

    @pytest.mark.parametrize("base", [object, types.ModuleType])
    def test_replaced_module_is_asked_for_every_date(self, obj, monkeypatch, base):
        asked = []

        class Watched(base):
            def __getattribute__(self, name):
                asked.append(name)
                return getattr(datetime, name)

        monkeypatch.setitem(sys.modules, "datetime", Watched("datetime") if base is types.ModuleType else Watched())
        got = [r["date"] for r in obj.get_range(date(2023, 1, 1), date(2025, 1, 1))]
        assert asked == ["date"] * len(ROWS)
        assert got == [date.fromisoformat(r[:10]) for r in ROWS] and {type(d) for d in got} == {date}

    def test_module_missing_from_sys_modules_is_imported(self, obj, monkeypatch):
        monkeypatch.setitem(sys.modules, "datetime", None)
        with pytest.raises(ImportError):
            obj.get_range(D, D)
        assert obj.get_range(date(1999, 1, 1), date(1999, 1, 2)) == []  # no record, so no import
        monkeypatch.delitem(sys.modules, "datetime")
        got = [r["date"] for r in obj.get_range(date(2023, 1, 1), date(2025, 1, 1))]
        assert sys.modules["datetime"] is not datetime
        assert got == [date.fromisoformat(r[:10]) for r in ROWS] and {type(d) for d in got} == {date}

    def test_failure_passes_through(self, obj, monkeypatch):
        class Refused(Exception):
            pass

        def refuse(*args):
            raise Refused("no dates today")

        monkeypatch.setattr(datetime, "date", refuse)
        for call in (lambda: obj.get(D), lambda: obj.get_range(D, D), obj.date_range):
            with pytest.raises(Refused, match="^no dates today$"):
                call()
        assert obj.get(date(1999, 1, 1)) is None  # no record, so no conversion
        monkeypatch.undo()
        assert obj.get(D) == expected_from_row(ROWS[1])
