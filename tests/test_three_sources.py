"""Stores built from a CelesTrak CSV, a SOLFSMY and a DTCFILE file, combined with merge; and SpaceWeather
over those and the publishers' own files (GFZ, SWPC, Hpo)."""
import csv
import datetime as dt
import itertools
import math
import pickle
from datetime import date
from pathlib import Path

import numpy as np
import pytest

from conftest import SAMPLE_DIR
from sunindex import Sunindex
from sunindex_tools import SpaceWeather, _native
from test_hostile_epochs import same_inputs

HEADER = ",".join(["DATE", "F10.7_OBS", "F10.7_ADJ", "AP_AVG", *(f"AP{i}" for i in range(1, 9)),
                   *(f"KP{i}" for i in range(1, 9))])
AP = [3.0, 4.0, 5.0, 6.0, 7.0, 9.0, 12.0, 15.0]
KP = [7.0, 10.0, 13.0, 17.0, 20.0, 23.0, 27.0, 30.0]
HOURS = [24, 38, 50, 85, 115, 31, 17, 44] * 3


def csv_text(*rows):
    return "\n".join([HEADER, *(",".join(map(str, row)) for row in rows)]) + "\n"


def csv_row(day, obs=141.5, adj=137.25, ap=12, aps=AP, kps=KP):
    return [day.isoformat(), obs, adj, ap, *aps, *kps]


def sol_line(year, doy, values):
    f, c, s, m, y = (f"{v:>6}" for v in values)
    return f"{year:6d}{doy:4d}   2460370.0{f}{c}{s}   0.0{m}   0.0{y}   0.0  1E11"


def dtc_line(year, doy, hours):
    return f"DTC {year:4d}{doy:5d}" + "".join(f"{h:4d}" for h in hours)


def doy(day):
    return day.timetuple().tm_yday


def sol_text(*days_values):
    return "".join(sol_line(d.year, doy(d), v) + "\n" for d, v in days_values)


def dtc_text(*days_hours):
    return "".join(dtc_line(d.year, doy(d), h) + "\n" for d, h in days_hours)


DAY = date(2024, 3, 1)
SOL_VALUES = (150.5, 151.5, 152.5, 153.5, 154.5)
FULL = {"date": DAY, "f10_7_obs": 141.5, "f10_7_adj": 137.25, "f10_7_jb": 150.5, "f10_7_jb_81c": 151.5,
        "ap_daily": 12.0, "ap_3hr": AP, "kp_3hr": KP, "s10_7": 152.5, "m10_7": 153.5, "y10_7": 154.5,
        "dtc": sum(HOURS) / 24}


@pytest.fixture
def stores(write_file):
    """Fresh (csv, solfsmy, dtcfile) stores holding DAY."""
    return lambda: [Sunindex.from_celestrak_csv(write_file(csv_text(csv_row(DAY)))),
                    Sunindex.from_set_solfsmy(write_file(sol_text((DAY, SOL_VALUES)))),
                    Sunindex.from_set_dtcfile(write_file(dtc_text((DAY, HOURS))))]


@pytest.mark.parametrize("order", list(itertools.permutations(range(3))))
def test_each_source_fills_its_own_keys(stores, order):
    made = stores()
    receiver, *others = (made[i] for i in order)
    for other in others:
        assert receiver.merge(other) is None
        assert (other.len(), other.date_range()) == (0, None)
    assert receiver.len() == 1
    assert receiver.get(DAY) == FULL


def test_days_held_by_one_source_come_over_unchanged(write_file):
    feb29, mar2, mar3 = date(2024, 2, 29), date(2024, 3, 2), date(2024, 3, 3)
    merged = Sunindex.from_celestrak_csv(write_file(csv_text(csv_row(DAY), csv_row(mar2, obs=99.0))))
    merged.merge(Sunindex.from_set_solfsmy(write_file(sol_text((mar3, (1, 2, 3, 4, 5)), (DAY, SOL_VALUES)))))
    merged.merge(Sunindex.from_set_dtcfile(write_file(dtc_text((feb29, [-1] * 24), (DAY, HOURS)))))
    got = {r["date"]: r for r in merged.get_range(feb29, mar3)}
    assert list(got) == [feb29, DAY, mar2, mar3] and len(merged) == 4
    assert got[DAY] == FULL
    assert [k for k, v in got[feb29].items() if v is not None] == ["date", "dtc"] and got[feb29]["dtc"] == -1.0
    assert [got[mar3][k] for k in ("f10_7_jb", "y10_7", "dtc", "f10_7_obs")] == [1.0, 5.0, None, None]
    assert (got[mar2]["f10_7_obs"], got[mar2]["f10_7_jb"], got[mar2]["dtc"]) == (99.0, None, None)


class TestOverlapReceiverWins:
    def test_two_solfsmy_stores(self, write_file):
        d1, d2, d3 = date(2023, 12, 31), date(2024, 1, 1), date(2024, 1, 2)
        made = lambda: (Sunindex.from_set_solfsmy(write_file(sol_text((d1, [1] * 5), (d2, ["nan"] * 5)))),
                        Sunindex.from_set_solfsmy(write_file(sol_text((d2, [20] * 5), (d3, [30] * 5)))))
        a, b = made()
        a.merge(b)
        got = a.get_range(d1, d3)
        assert [r["date"] for r in got] == [d1, d2, d3] and b.len() == 0
        assert got[0]["m10_7"] == 1.0 and got[2]["m10_7"] == 30.0
        assert all(math.isnan(got[1][k]) for k in ("f10_7_jb", "f10_7_jb_81c", "s10_7", "m10_7", "y10_7"))
        a, b = made()
        b.merge(a)
        assert [r["s10_7"] for r in b.get_range(d1, d3)] == [1.0, 20.0, 30.0]

    def test_two_dtcfile_stores(self, write_file):
        a = Sunindex.from_set_dtcfile(write_file(dtc_text((DAY, [48] * 24))))
        b = Sunindex.from_set_dtcfile(write_file(dtc_text((DAY, [96] * 24))))
        b.merge(a)
        assert b.get(DAY)["dtc"] == 96.0 and a.get(DAY) is None

    def test_csv_gaps_filled_field_by_field(self, write_file):
        gappy = csv_row(DAY, adj="", kps=KP[:7] + [""])
        a = Sunindex.from_celestrak_csv(write_file(csv_text(gappy)))
        b = Sunindex.from_celestrak_csv(write_file(csv_text(csv_row(DAY, obs=1, adj=2, ap=3, aps=[4] * 8, kps=[5] * 8))))
        a.merge(b)
        assert a.get(DAY) == {**FULL, **dict.fromkeys(("f10_7_jb", "f10_7_jb_81c", "s10_7", "m10_7", "y10_7", "dtc")),
                              "f10_7_adj": 2.0, "kp_3hr": [5.0] * 8}


def test_published_files_merge(full_data):
    paths = full_data("SW-All.csv"), full_data("SOLFSMY.TXT"), full_data("DTCFILE.TXT")
    loaders = Sunindex.from_celestrak_csv, Sunindex.from_set_solfsmy, Sunindex.from_set_dtcfile
    merged, *others = (load(p) for load, p in zip(loaders, paths))
    refs = [load(p) for load, p in zip(loaders, paths)]
    for other in others:
        merged.merge(other)
    with open(paths[0], newline="") as f:
        csv_days = {date.fromisoformat(row["DATE"]) for row in csv.DictReader(f)}
    ref_days = [{r["date"] for r in ref.get_range(date.min, date.max)} for ref in refs[1:]]
    assert merged.len() == len(csv_days.union(*ref_days))
    start, end = date(1997, 1, 1), date(2025, 5, 10)  # the span that all three files cover
    by_source = [{r["date"]: r for r in ref.get_range(start, end)} for ref in refs]
    got = merged.get_range(start, end)
    assert len(got) == (end - start).days + 1
    for rec in got:
        parts = [src[rec["date"]] for src in by_source]
        assert rec == {k: next((p[k] for p in parts if p[k] is not None), None) for k in rec}
        assert None not in (rec["f10_7_obs"], rec["f10_7_jb"], rec["s10_7"], rec["dtc"])


# -- SpaceWeather over the publishers' own files: GFZ, SWPC, Hpo, beside the CSV

GFZ, NOWCAST = "gfz/Kp_ap_Ap_SN_F107_since_2024.txt", "gfz/Kp_ap_Ap_SN_F107_nowcast.txt"
SWPC = "swpc/45-day-ap-forecast.txt"
HP30, HP60 = "hpo/Hp30_ap30_complete_series.txt", "hpo/Hp60_ap60_complete_series.txt"
SAMPLE_CSV = SAMPLE_DIR / "SW-sample.csv"
UTC = dt.timezone.utc


def data_lines(path):
    return [line for line in Path(path).read_text().splitlines() if not line.startswith("#")]


def replaced(write_file, path, old, new, name):
    """A copy of `path` with the first `old` replaced by `new`."""
    text = Path(path).read_bytes()
    assert old in text
    return write_file(text.replace(old, new, 1), name)


@pytest.mark.parametrize("key, name, stamp", [
    ("gfz", GFZ, None), ("swpc", SWPC, dt.datetime(2023, 10, 31, 21, 13, tzinfo=UTC)),
    ("hp30", HP30, None), ("hp60", HP60, None),
])
def test_a_file_given_without_a_keyword_is_read_as_the_kind_it_holds(full_data, key, name, stamp):
    path = full_data(name)
    by_content, by_keyword = SpaceWeather.load(path), SpaceWeather.load(**{key: path})
    assert by_content.sources == by_keyword.sources
    source = by_content.sources[key]
    assert (source.kind, source.path, source.stamp) == (key, Path(path), stamp)
    assert source.first is not None and source.first <= source.last


def test_a_file_given_alone_without_a_keyword_is_read_once(monkeypatch):
    given = []
    monkeypatch.setattr(_native, "load", lambda files, load=_native.load: given.append(files) or load(files))
    inputs = SpaceWeather.load(SAMPLE_CSV).msis_inputs("2024-01-10T06:00")
    assert [files for files in given if files[0][0] == "csv"] == [(("csv", Path(SAMPLE_CSV).read_bytes()),)]
    assert same_inputs(inputs, SpaceWeather.load(csv=SAMPLE_CSV).msis_inputs("2024-01-10T06:00"))


def test_files_of_a_kind_rank_as_given_keywords_first(full_data, write_file):
    since = full_data(GFZ)
    day = next(line for line in data_lines(since) if line.startswith("2024 01 10"))
    other = replaced(write_file, since, day.encode(), (day[:88] + "   99" + day[93:]).encode(), "other.txt")
    weather = SpaceWeather.load(other, gfz=since)
    assert [(name, source.kind, source.path) for name, source in weather.sources.items()][:2] == [
        ("gfz", "gfz", Path(since)), ("gfz#2", "gfz", Path(other))]
    assert weather.sources == SpaceWeather.load(gfz=[since, other]).sources
    first_slot = [SpaceWeather.load(gfz=files).daily("2024-01-10")["ap"][0] for files in ([since, other], [other, since])]
    assert first_slot == [float(day[88:93]), 99.0]


@pytest.mark.parametrize("files, day, f107_source, ap_source, kp_status", [
    ({"gfz": [GFZ]}, "2024-01-10", "gfz", ["gfz"] * 8, 1),
    ({"gfz": [GFZ], "csv": [SAMPLE_CSV]}, "2024-01-10", "csv", ["gfz"] * 8, 1),  # flux: the CSV first
    ({"csv": [SAMPLE_CSV]}, "2024-01-10", "csv", ["csv"] * 8, -1),
    ({"gfz": [NOWCAST], "csv": [SAMPLE_CSV]}, "2024-02-13", "csv", ["gfz"] * 6 + ["csv"] * 2, 0),  # slot by slot
    ({"swpc": [SWPC]}, "2023-11-02", "swpc", ["swpc"] * 8, -1),
    ({"hp30": [HP30]}, "2025-06-17", "", [""] * 8, -1),
])
def test_daily_says_which_file_gave_each_value(full_data, files, day, f107_source, ap_source, kp_status):
    paths = {key: [path if isinstance(path, Path) else full_data(path) for path in names]
             for key, names in files.items()}
    got = SpaceWeather.load(**paths).daily(day)
    assert (got["f107_source"], list(got["ap_source"]), got["kp_status"]) == (f107_source, ap_source, kp_status)
    assert np.isnan(got["f107_obs"]) == (f107_source == "")
    assert np.isnan(got["hp30"]).all() == ("hp30" not in files) and np.isnan(got["hp60"]).all()


class TestHpo:
    @pytest.fixture(scope="class")
    def hpo(self):
        from conftest import FULL_DATA_DIR
        paths = FULL_DATA_DIR / HP30, FULL_DATA_DIR / HP60
        if not all(path.is_file() for path in paths):
            pytest.skip("the Hpo files are not present")
        return SpaceWeather.load(hp30=paths[0], hp60=paths[1]), [data_lines(path) for path in paths]

    @pytest.mark.parametrize("epoch, half_hour, hour", [
        ("2025-06-17T00:00", 0, 0), ("2025-06-17T00:29:59.999999", 0, 0), ("2025-06-17T00:30", 1, 0),
        ("2025-06-17T01:00", 2, 1), ("2025-06-18T23:59", 95, 47),
    ])
    def test_the_interval_holding_the_epoch(self, hpo, epoch, half_hour, hour):
        weather, (lines30, lines60) = hpo
        (*_, hp30, ap30, _), (*_, hp60, ap60, _) = lines30[half_hour].split(), lines60[hour].split()
        assert weather.hpo(epoch) == {"hp30": float(hp30), "ap30": float(ap30), "hp60": float(hp60), "ap60": float(ap60)}

    def test_arrays_keep_the_epochs_shape_and_nothing_outside_is_nan(self, hpo):
        weather, _ = hpo
        epochs = np.array([["2025-06-17T03:00", "NaT", "2025-06-16T23:59"], ["2025-07-18", "2025-06-18", "2030-01-01"]],
                          dtype="M8[m]")
        got = weather.hpo(epochs)
        assert list(got) == ["hp30", "ap30", "hp60", "ap60"]
        assert all(values.shape == (2, 3) for values in got.values())
        assert (~np.isnan(got["hp60"])).tolist() == [[True, False, False], [False, True, False]]
        assert weather.coverage["hpo"] == (dt.date(2025, 6, 17), dt.date(2025, 7, 17))

    def test_daily_holds_each_interval(self, hpo):
        weather, (lines30, lines60) = hpo
        got = weather.daily("2025-06-18")
        assert got["hp30"].tolist() == [float(line.split()[7]) for line in lines30[48:96]]
        assert got["ap60"].tolist() == [float(line.split()[8]) for line in lines60[24:48]]

    def test_hp_is_open_ended(self, full_data, write_file):
        first = data_lines(full_data(HP30))[0]
        storm = replaced(write_file, full_data(HP30), first.encode(), (first[:45] + " 13.333  801" + first[57:]).encode(),
                         "storm.txt")
        got = SpaceWeather.load(hp30=storm).hpo("2025-06-17T00:10")
        assert (got["hp30"], got["ap30"]) == (13.333, 801.0)


@pytest.mark.parametrize("key, name, cut, line", [
    ("hp30", HP30, lambda lines: lines[:40] + [lines[40][:50]] + lines[41:], 41),  # a short line
    ("hp60", HP60, lambda lines: lines[:40] + [lines[41], lines[40]] + lines[42:], 42),  # out of order
    ("gfz", GFZ, lambda lines: lines[:45] + [lines[45].replace(" 1.000", " 1.0x0", 1)] + lines[46:], 46),
])
def test_a_bad_line_names_the_file_and_the_line(full_data, write_file, key, name, cut, line):
    lines = Path(full_data(name)).read_text().splitlines()
    bad = write_file("\n".join(cut(lines)) + "\n", "bad.txt")
    with pytest.raises(ValueError, match=rf"^{bad}: .*\b{line}\b"):
        SpaceWeather.load(**{key: bad})


class TestLoadArguments:
    @pytest.mark.parametrize("value", [b"SW-sample.csv", [b"SW-sample.csv"], 3, [str(SAMPLE_CSV), 3], {"a": 1}])
    def test_a_path_or_a_sequence_of_paths(self, value):
        with pytest.raises(TypeError, match="csv takes a path or a sequence of paths"):
            SpaceWeather.load(csv=value)

    def test_a_str_is_one_path(self, tmp_path):
        with pytest.raises(FileNotFoundError) as raised:
            SpaceWeather.load(gfz=str(tmp_path / "ab"))
        assert raised.value.filename == str(tmp_path / "ab")

    @pytest.mark.parametrize("keyword, name, hint", [
        ("csv", GFZ, "; it reads as a GFZ Kp_ap_Ap_SN_F107 file (gfz)"),
        ("swpc", HP30, "; it reads as a GFZ Hp30 file (hp30)"),
        ("gfz", SWPC, "; it reads as a SWPC 45-day forecast (swpc)"),
        ("hp60", "nonsense", ""),
    ])
    def test_a_file_given_as_another_kind_says_which_it_reads_as(self, full_data, write_file, keyword, name, hint):
        path = write_file("2024 nonsense\n", "nonsense.txt") if name == "nonsense" else full_data(name)
        with pytest.raises(ValueError) as raised:
            SpaceWeather.load(**{keyword: path})
        message = str(raised.value)
        assert message.startswith(f"{path}: ") and message.endswith(hint) and message.count("reads as") == bool(hint)

    def test_a_positional_file_of_no_kind_or_a_second_prediction(self, write_file):
        from sunindex_tools.space_weather import _bundled_prediction
        with pytest.raises(ValueError, match=r"mystery.txt: a file of no known kind"):
            SpaceWeather.load(write_file(b"<html>hotel sign-in</html>\n", "mystery.txt"))
        prediction = write_file(_bundled_prediction()[1], "prediction.txt")
        with pytest.raises(ValueError, match=r"prediction.txt: a second solar-cycle prediction, after"):
            SpaceWeather.load(prediction, csv=SAMPLE_CSV, msfc=prediction)

    @pytest.mark.parametrize("form", ["pair", "list"])
    def test_contents_by_pair_or_list_and_pickled(self, full_data, form):
        pair = (SAMPLE_CSV, SAMPLE_CSV.read_bytes())
        gfz = Path(full_data(GFZ))
        weather = SpaceWeather({"csv": pair if form == "pair" else [pair], "gfz": [(gfz, gfz.read_bytes())] * 2})
        copy = pickle.loads(pickle.dumps(weather))
        assert list(copy.sources) == ["csv", "gfz", "gfz#2", "msfc"] and copy.sources == weather.sources
        assert same_inputs(copy.daily("2024-01-10"), weather.daily("2024-01-10"))


def test_gfz_alone_gives_the_csvs_inputs_on_definitive_days(full_data):
    from_gfz, from_csv = SpaceWeather.load(gfz=full_data(GFZ)), SpaceWeather.load(csv=SAMPLE_CSV)
    epochs = np.arange(np.datetime64("2024-01-03T00:00"), np.datetime64("2024-02-01"), np.timedelta64(97, "m"))
    got, want = from_gfz.msis_inputs(epochs), from_csv.msis_inputs(epochs)
    # f107a: GFZ has no 81-day mean, and its month of days is too short for one of its own.
    assert same_inputs({k: v for k, v in got.items() if k != "f107a"}, {k: v for k, v in want.items() if k != "f107a"})


def test_to_pandas_spreads_the_new_columns(full_data):
    pytest.importorskip("pandas")
    weather = SpaceWeather.load(gfz=full_data(GFZ), hp30=full_data(HP30), hp60=full_data(HP60))
    frame, day = weather.to_pandas(), weather.daily("2025-06-18")
    row = frame.loc["2025-06-18"]
    assert [row[f"hp30_{i:02d}"] for i in range(1, 49)] == day["hp30"].tolist()
    assert [row[f"ap60_{i:02d}"] for i in range(1, 25)] == day["ap60"].tolist()
    assert frame.loc["2024-01-10", [f"ap_source{i}" for i in range(1, 9)]].tolist() == ["gfz"] * 8
    assert frame["kp_status"].dtype == np.int8
