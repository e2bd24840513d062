"""Stores built from a CelesTrak CSV, a SOLFSMY and a DTCFILE file, combined with merge."""
import csv
import itertools
import math
from datetime import date

import pytest

from sunindex import Sunindex

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
