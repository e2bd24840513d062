"""The daily sources on one timeline: each value from the most certain source that has it,
the publisher before a redistributor, value by value."""

import datetime as dt

import numpy as np
import pytest

from conftest import SAMPLE_DIR
from sunindex_tools import SpaceWeather

GFZ_SAMPLE = SAMPLE_DIR / "Kp-sample.txt"
CSV_SAMPLE = SAMPLE_DIR / "SW-sample.csv"


def load(*files):
    """A SpaceWeather of (kind, path) pairs, several of a kind in order."""
    contents = {}
    for kind, path in files:
        contents.setdefault(kind, []).append((path, open(path, "rb").read()))
    return SpaceWeather({kind: pairs[0] if len(pairs) == 1 else pairs for kind, pairs in contents.items()})


def gfz_lines():
    text = GFZ_SAMPLE.read_text()
    header = [line for line in text.splitlines(keepends=True) if line.startswith("#")]
    return "".join(header), [line for line in text.splitlines(keepends=True) if not line.startswith("#")]


def with_fields(line, **fields):
    """A GFZ line with some fields rewritten: flux (obs, adj), ap (slot: value), kp (slot: value)."""
    chars = list(line)

    def put(first, width, text):  # 1-based column, right-aligned
        chars[first - 1:first - 1 + width] = text.rjust(width)

    if "flux" in fields:
        obs, adj = fields["flux"]
        put(139, 9, f"{obs:.1f}")
        put(148, 9, f"{adj:.1f}")
    for slot, value in fields.get("ap", {}).items():
        put(89 + 5 * slot, 5, str(value))
    for slot, value in fields.get("kp", {}).items():
        put(33 + 7 * slot, 7, f"{value:.3f}")
    return "".join(chars)


def write_gfz(write_file, changes):
    """The GFZ sample with line i rewritten by changes[i] (keyword arguments of with_fields)."""
    header, lines = gfz_lines()
    return write_file(header + "".join(with_fields(line, **changes.get(i, {})) for i, line in enumerate(lines)))


def swpc_text(first: dt.date, ap=(7,), flux=(150,)):
    """A 45-day forecast of the days from `first`, issued the day before."""
    days = [first + dt.timedelta(days=d) for d in range(45)]

    def block(values):
        pairs = [f"{day:%d%b%y} {values[d % len(values)]:03d}" for d, day in enumerate(days)]
        return "".join(" ".join(pairs[i:i + 5]) + "\n" for i in range(0, 45, 5))

    issued = first - dt.timedelta(days=1)
    return (":Product: 45 Day AP Forecast  45DF.txt\n"
            f":Issued: {issued:%Y %b %d} 2113 UTC\n# comment\n45-DAY AP FORECAST\n" + block(ap)
            + "45-DAY F10.7 CM FLUX FORECAST\n" + block(flux) + "FORECASTER:  DY / GATES\n99999\nNNNN\n")


def equal(a, b):
    a, b = np.asarray(a), np.asarray(b)
    return a.shape == b.shape and bool(np.all((a == b) | (np.isnan(a) & np.isnan(b)) if a.dtype.kind == "f" else a == b))


def days(first, last, hour=0):
    start = np.datetime64(first) + np.timedelta64(hour, "h")
    return np.arange(start, np.datetime64(last) + np.timedelta64(1, "D"), np.timedelta64(1, "D"))


class TestGfzAgainstTheCsv:
    """GFZ produces the Kp and ap CelesTrak copies: on definitive days the two give the same."""

    def test_full_files(self, full_data):
        gfz = load(("gfz", full_data("gfz/Kp_ap_Ap_SN_F107_rebuilt_from_SW-All.txt")))
        csv = load(("csv", full_data("SW-All.csv")))
        # From 40 days after GFZ's first day to 41 before its last, the 81-day windows (and the
        # next day's, which an interpolated input reaches) lie inside.
        epochs = days("1957-11-10", "2026-06-26", 7)
        assert equal(gfz.msis_inputs(epochs)["f107a"], csv.msis_inputs(epochs)["f107a"])
        for interpolate in (False, True):
            a, b = gfz.msis_inputs(epochs, interpolate=interpolate), csv.msis_inputs(epochs, interpolate=interpolate)
            assert all(equal(a[key], b[key]) for key in a)
        a, b = gfz.daily(epochs[::3]), csv.daily(epochs[::3])
        assert all(equal(a[key], b[key]) for key in ("kp", "ap", "ap_avg", "f107_obs", "f107_adj", "f107_data_type"))
        assert set(a["f107_source"]) == {"gfz"} and set(a["kp_status"]) <= {1, 2}

    def test_sample(self):
        gfz, csv = load(("gfz", GFZ_SAMPLE)), load(("csv", CSV_SAMPLE))
        epochs = days("2024-01-04", "2024-01-31", 22)
        a, b = gfz.msis_inputs(epochs), csv.msis_inputs(epochs)
        assert all(equal(a[key], b[key]) for key in ("f107", "ap", "data_type"))
        # The centred mean's window reaches before the file's first day: no mean.
        assert np.isnan(a["f107a"]).all() and not np.isnan(b["f107a"]).any()


class TestPrecedence:
    def test_each_value_from_its_most_trusted_source(self, write_file):
        # GFZ's ap and Kp of Jan 10 altered, and its flux: GFZ gives the former, the CSV the flux.
        changes = {9: {"ap": {0: 300}, "kp": {0: 8.667}, "flux": (999.9, 999.9)}}
        both = load(("csv", CSV_SAMPLE), ("gfz", write_gfz(write_file, changes)))
        day = both.daily(np.datetime64("2024-01-10"))
        alone = load(("csv", CSV_SAMPLE)).daily(np.datetime64("2024-01-10"))
        assert day["ap"][0] == 300 and day["kp"][0] == 87 and list(day["ap_source"]) == ["gfz"] * 8
        assert day["f107_obs"] == alone["f107_obs"] and day["f107_source"] == "csv" and day["kp_status"] == 1

    def test_missing_slots_fall_through_value_by_value(self, write_file):
        # The last day as a nowcast gives it: its later slots and its flux missing.
        header, lines = gfz_lines()
        last = len(lines) - 1
        changes = {last: {"ap": {s: -1 for s in range(4, 8)}, "kp": {s: -1.0 for s in range(4, 8)}, "flux": (-1, -1)}}
        both = load(("gfz", write_gfz(write_file, changes)), ("csv", CSV_SAMPLE))
        day = both.daily(np.datetime64("2024-01-31"))
        alone = load(("csv", CSV_SAMPLE)).daily(np.datetime64("2024-01-31"))
        assert list(day["ap_source"]) == ["gfz"] * 4 + ["csv"] * 4
        assert equal(day["ap"][4:], alone["ap"][4:]) and equal(day["kp"][4:], alone["kp"][4:])
        assert day["f107_source"] == "csv"

    def test_predicted_days_from_swpc_before_the_csv(self, write_file):
        # Days the CSV predicts (its PRD rows end 2026-09-18) and days only its monthly rows reach.
        swpc = write_file(swpc_text(dt.date(2026, 9, 1), ap=(9, 12), flux=(140,)), "45df.txt")
        both = load(("csv", CSV_SAMPLE), ("swpc", swpc))
        day = both.daily(np.datetime64("2026-09-02"))
        assert day["f107_obs"] == 140 and list(day["ap"]) == [12] * 8 and set(day["ap_source"]) == {"swpc"}
        assert day["f107_data_type"] == "PRD"
        monthly = both.daily(np.datetime64("2026-10-01"))  # a PRM day of the CSV: the daily forecast gives it
        assert monthly["f107_source"] == "swpc" and not monthly["monthly"]
        assert both.coverage["msis"][1] == dt.date(2026, 10, 15)
        assert both.sources["swpc"].stamp == dt.datetime(2026, 8, 31, 21, 13, tzinfo=dt.timezone.utc)
        # An older forecast's days, before the observations end, are not where they stop.
        older = load(("csv", CSV_SAMPLE), ("swpc", write_file(swpc_text(dt.date(2023, 11, 1)), "old.txt")))
        assert (older.last_observed, older.first_predicted) == (dt.date(2026, 8, 6), dt.date(2026, 8, 7))

    def test_several_files_of_a_kind_the_first_gives(self, write_file):
        first = write_gfz(write_file, {0: {"ap": {0: 100, 1: -1}}})
        second = write_gfz(write_file, {0: {"ap": {0: 200, 1: 201}}})
        one = load(("gfz", first), ("gfz", second)).daily(np.datetime64("2024-01-01"))
        assert one["ap"][0] == 100 and one["ap"][1] == 201  # by value, not by line


class TestGfzFluxGaps:
    @pytest.mark.parametrize("before, after, gap, expected", [
        ((226.9, 220.0), (227.0, 221.0), 1, [(227.0, 220.5)]),  # 226.95 rounds half up to 227.0
        ((100.0, 100.0), (110.0, 90.0), 3, [(102.5, 97.5), (105.0, 95.0), (107.5, 92.5)]),
        ((100.0, 100.0), (103.0, 100.0), 2, [(101.0, 100.0), (102.0, 100.0)]),
    ])
    def test_filled_linearly_in_tenths_rounded_half_up(self, write_file, before, after, gap, expected):
        changes = {9: {"flux": before}, 10 + gap: {"flux": after}}
        changes |= {10 + k: {"flux": (-1, -1)} for k in range(gap)}
        weather = load(("gfz", write_gfz(write_file, changes)))
        filled = weather.daily(days("2024-01-11", f"2024-01-{10 + gap}"))
        assert [tuple(pair) for pair in zip(filled["f107_obs"], filled["f107_adj"])] == expected
        assert set(filled["f107_data_type"]) == {"INT"} and set(filled["f107_source"]) == {"gfz"}
        assert weather.daily(np.datetime64("2024-01-10"))["f107_data_type"] == "OBS"

    def test_a_gap_longer_than_a_week_stays_missing(self, write_file):
        weather = load(("gfz", write_gfz(write_file, {10 + k: {"flux": (-1, -1)} for k in range(8)})))
        gap = weather.daily(days("2024-01-11", "2024-01-18"))
        assert np.isnan(gap["f107_obs"]).all() and set(gap["f107_source"]) == {""}
        assert set(gap["f107_data_type"]) == {"OBS"}


class TestComputedMeans:
    def test_past_the_flux_the_prediction_at_the_calls_percentile(self, write_file):
        # The CSV's daily flux ends 2026-09-18; a forecast's days after it have no mean of their own.
        swpc = write_file(swpc_text(dt.date(2026, 9, 19)), "45df.txt")
        weather = load(("csv", CSV_SAMPLE), ("swpc", swpc))
        epoch = np.datetime64("2026-09-25T12:00")
        median = weather.msis_inputs(epoch)
        spread = weather.msis_inputs(epoch, forecast_percentile=[5, 50, 95])
        assert median["data_type"] == "MSFC" and 100 < median["f107a"] < 200
        assert spread["f107a"][1] == median["f107a"] and spread["f107a"][0] < median["f107a"] < spread["f107a"][2]
        assert round(median["f107a"], 1) == median["f107a"]
        # A forecast day whose window lies inside the flux: the mean of its 81 days, PRD as it took predicted days.
        flux = weather.daily(days("2026-08-12", "2026-10-31"))["f107_obs"]
        computed = weather.msis_inputs(np.datetime64("2026-09-21"))  # f107a is of the epoch's day
        assert computed["f107a"] == round(float(flux.mean()), 1) and computed["data_type"] == "PRD"


def test_a_file_without_rows_merges_into_no_days(write_file):
    header, _ = gfz_lines()
    empty = write_file(header)
    assert load(("gfz", empty)).coverage["msis"] is None
    assert load(("gfz", empty), ("csv", CSV_SAMPLE)).coverage == load(("csv", CSV_SAMPLE)).coverage
