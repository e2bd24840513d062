"""Published CelesTrak files: every value read back must match the file's own text."""
import csv
from datetime import date

import pytest

from sunindex import Sunindex

MARKERS = ("9999.9", "99999", "999.9")


def value(text):
    text = text.strip()
    return None if text in ("", *MARKERS) else float(text)


def eight(row, prefix):
    values = [value(row[f"{prefix}{i}"]) for i in range(1, 9)]
    return None if None in values else values


def expected(row):
    """The dict that a store built from this file alone must give for one CSV row."""
    return {"date": date.fromisoformat(row["DATE"]), "f10_7_obs": value(row["F10.7_OBS"]),
            "f10_7_adj": value(row["F10.7_ADJ"]), "f10_7_jb": None, "f10_7_jb_81c": None,
            "ap_daily": value(row["AP_AVG"]), "ap_3hr": eight(row, "AP"), "kp_3hr": eight(row, "KP"),
            "s10_7": None, "m10_7": None, "y10_7": None, "dtc": None}


def read_rows(path):
    with open(path, newline="", encoding="utf-8") as f:
        return list(csv.DictReader(f))


def check_every_row(path):
    rows = read_rows(path)
    with open(path, "rb") as f:
        data_lines = [line for line in f.read().split(b"\n")[1:] if line.strip()]
    assert len(rows) == len(data_lines)
    obj = Sunindex.from_celestrak_csv(path)
    want = [expected(r) for r in rows]
    assert obj.len() == len(obj) == len(data_lines) == len({w["date"] for w in want})
    assert obj.date_range() == (want[0]["date"], want[-1]["date"])
    assert obj.get_range(want[0]["date"], want[-1]["date"]) == want
    return obj, rows


def test_sample_every_row(sample_path):
    obj, rows = check_every_row(sample_path("SW-sample.csv"))
    assert all(obj.get(date.fromisoformat(r["DATE"])) == expected(r) for r in rows)


@pytest.mark.parametrize("name", ["SW-All.csv", "SW-Last5Years.csv"])
def test_full_file_every_row(full_data, name):
    check_every_row(full_data(name))


def test_full_file_spot_days(full_data):
    path = full_data("SW-All.csv")
    rows = read_rows(path)
    kind = lambda t: [r for r in rows if r["F10.7_DATA_TYPE"] == t]
    picks = {"first": rows[0], "1980s": next(r for r in rows if r["DATE"] == "1985-07-15"),
             "last OBS": kind("OBS")[-1], "PRD": kind("PRD")[0], "INT": kind("INT")[0],
             "first PRM": kind("PRM")[0], "last": rows[-1]}
    obj = Sunindex.from_celestrak_csv(path)
    for label, row in picks.items():
        got, want = obj.get(date.fromisoformat(row["DATE"])), expected(row)
        assert got == want, label
        assert list(got) == list(want)
    for label in ("first PRM", "last"):
        got = obj.get(date.fromisoformat(picks[label]["DATE"]))
        assert (got["ap_3hr"], got["kp_3hr"], got["ap_daily"]) == (None, None, None)
        assert got["f10_7_obs"] == float(picks[label]["F10.7_OBS"]) and got["f10_7_adj"] is not None
    assert obj.get(date.fromisoformat(picks["last OBS"]["DATE"]))["kp_3hr"] is not None
