"""One record per date, sorted, first record wins field by field; lookups, ranges and merge."""
import math
import os
import subprocess
import sys
import textwrap
from datetime import date, datetime

import pytest

from sunindex import Sunindex

HEADER = "DATE,F10.7_OBS,F10.7_ADJ,AP_AVG," + ",".join([f"AP{i}" for i in range(1, 9)] + [f"KP{i}" for i in range(1, 9)])
D1, D2, D3, D4 = date(2020, 2, 28), date(2020, 2, 29), date(2020, 3, 1), date(2021, 1, 1)


def line(day, obs="", adj="", ap="", aps="", kps=""):
    """A row; aps/kps given as one text repeated in all eight slots."""
    return ",".join([day.isoformat(), obs, adj, ap, *[aps] * 8, *[kps] * 8])


def store(write_file, *lines):
    return Sunindex.from_celestrak_csv(write_file("\n".join([HEADER, *lines]) + "\n"))


def everything(obj):
    return obj.get_range(date(1, 1, 1), date(9999, 12, 31))


def values(obj, day, *fields):
    rec = obj.get(day)
    return tuple(rec[f] for f in fields)


FIELDS = ("f10_7_obs", "f10_7_adj", "ap_daily", "ap_3hr", "kp_3hr")


class TestCollapse:
    def test_first_record_wins_field_by_field(self, write_file):
        obj = store(write_file, line(D1, obs="101"), line(D1, obs="202", ap="9"))
        assert obj.len() == 1 and values(obj, D1, "f10_7_obs", "ap_daily") == (101.0, 9.0)

    def test_each_field_from_earliest_row_that_has_it(self, write_file):
        obj = store(write_file, line(D2, obs="1"), line(D1, obs="7"), line(D2, obs="2", adj="3"),
                    line(D2, adj="4", ap="5", kps="6"), line(D2, obs="8", adj="8", ap="8", aps="8", kps="8"))
        assert values(obj, D2, *FIELDS) == (1.0, 3.0, 5.0, [8.0] * 8, [6.0] * 8)
        assert values(obj, D1, *FIELDS) == (7.0, None, None, None, None)

    def test_arrays_taken_whole(self, write_file):
        partial = line(D1, aps="1").rsplit(",", 9)[0] + ",," + ",".join(["2"] * 8)
        obj = store(write_file, partial, line(D1, aps="3", kps="4"))
        assert values(obj, D1, "ap_3hr", "kp_3hr") == ([3.0] * 8, [2.0] * 8)

    def test_present_nan_is_not_replaced(self, write_file):
        obj = store(write_file, line(D1, obs="nan"), line(D1, obs="5", adj="6"))
        obs, adj = values(obj, D1, "f10_7_obs", "f10_7_adj")
        assert math.isnan(obs) and adj == 6.0

    def test_rows_with_nothing_collapse_to_one(self, write_file):
        obj = store(write_file, line(D3), line(D3), line(D3))
        assert obj.len() == 1 and values(obj, D3, *FIELDS) == (None,) * 5


class TestOrderAndLookup:
    @pytest.fixture
    def obj(self, write_file):
        return store(write_file, line(D4, obs="4"), line(D2, obs="2"), line(D1, obs="1"), line(D4, obs="9"),
                     line(D2, obs="9"))

    def test_sorted_and_counted_by_distinct_date(self, obj):
        assert [(r["date"], r["f10_7_obs"]) for r in everything(obj)] == [(D1, 1.0), (D2, 2.0), (D4, 4.0)]
        assert obj.len() == len(obj) == 3 and bool(obj) is True
        assert obj.date_range() == (D1, D4)

    @pytest.mark.parametrize("day", [date(2020, 2, 27), D3, date(2020, 12, 31), date(2021, 1, 2), date(1, 1, 1)])
    def test_get_unstored(self, obj, day):
        assert obj.get(day) is None

    def test_get_stored(self, obj):
        assert obj.get(datetime(2021, 1, 1, 23, 59))["f10_7_obs"] == 4.0

    @pytest.mark.parametrize("start, end, expected", [
        (D1, D1, [D1]), (D2, D4, [D2, D4]), (D1, D4, [D1, D2, D4]), (D3, D3, []), (D3, date(2020, 12, 31), []),
        (D4, D1, []), (D2, D1, []), (date(1900, 1, 1), D2, [D1, D2]), (D3, date(2100, 1, 1), [D4]),
        (date(1900, 1, 1), date(2100, 1, 1), [D1, D2, D4]), (date(2030, 1, 1), date(2031, 1, 1), []),
        (date(1900, 1, 1), date(1901, 1, 1), []),
    ])
    def test_get_range_inclusive_and_clipped(self, obj, start, end, expected):
        result = obj.get_range(start, end)
        assert [r["date"] for r in result] == expected
        assert result == [obj.get(d) for d in expected]

    def test_single_record_span(self, write_file):
        first, last = store(write_file, line(D3)).date_range()
        assert first == last == D3 and first is not last


class TestEmpty:
    def test_header_only(self, write_file):
        obj = store(write_file)
        assert (obj.len(), len(obj), bool(obj), obj.date_range()) == (0, 0, False, None)
        assert obj.get(D1) is None and everything(obj) == [] and obj.get_range(D1, D1) == []


class TestMerge:
    def test_receiver_wins_other_fills(self, write_file):
        a = store(write_file, line(D1, obs="1"), line(D2, obs="2", ap="nan", kps="3"))
        b = store(write_file, line(D2, obs="20", adj="21", ap="22", aps="23", kps="24"), line(D4, obs="40"))
        a.merge(b)
        assert [r["date"] for r in everything(a)] == [D1, D2, D4] and a.len() == 3
        obs, adj, ap, aps, kps = values(a, D2, *FIELDS)
        assert (obs, adj, aps, kps) == (2.0, 21.0, [23.0] * 8, [3.0] * 8) and math.isnan(ap)
        assert values(a, D1, *FIELDS) == (1.0, None, None, None, None) and a.get(D4)["f10_7_obs"] == 40.0

    def test_other_ends_empty_and_stays_usable(self, write_file):
        a, b = store(write_file, line(D1, obs="1")), store(write_file, line(D2, obs="2"), line(D3, obs="3"))
        a.merge(b)
        assert (b.len(), len(b), bool(b), b.date_range(), b.get(D2), everything(b)) == (0, 0, False, None, None, [])
        b.merge(store(write_file, line(D4, obs="4")))
        assert [r["date"] for r in everything(b)] == [D4]
        a.merge(b)
        assert [r["date"] for r in everything(a)] == [D1, D2, D3, D4] and b.len() == 0

    def test_merge_of_empty_store(self, write_file):
        a = store(write_file, line(D1, obs="1", aps="2"), line(D4, adj="3"))
        before = everything(a)
        a.merge(store(write_file))
        assert everything(a) == before and a.date_range() == (D1, D4)

    def test_merge_into_empty_store(self, write_file):
        a = store(write_file, line(D1, obs="1", aps="2"), line(D4, adj="3"))
        before, empty = everything(a), store(write_file)
        empty.merge(a)
        assert everything(empty) == before and empty.len() == 2 and a.len() == 0 and a.date_range() is None

    def test_interleaved_dates_sorted(self, write_file):
        a, b = store(write_file, line(D4), line(D2)), store(write_file, line(D3), line(D1))
        b_len = b.len()
        a.merge(b)
        assert [r["date"] for r in everything(a)] == [D1, D2, D3, D4] and a.len() == 2 + b_len


class TestMergeOutOfMemory:
    @pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                        reason="AddressSanitizer ends the process instead of throwing when memory runs out")
    def test_both_stores_unchanged(self, write_file):
        """Running out of memory part way must lose no records: the merge happens whole or not at all."""
        # Two interleaved stores of 40,000 days each: the first has no room for the other's
        # records, so merging them needs one new block of ~17 MB. Blocks of 1 MB and more are
        # mapped and unmapped one by one, and every thread allocates from one arena, so that
        # no freed block and no reserve of a reading thread's arena can hold it.
        paths = [write_file("\n".join([HEADER, *(f"{date.fromordinal(730000 + 2 * i + odd)},{i}" for i in range(40_000))]))
                 for odd in (0, 1)]
        code = textwrap.dedent(f"""
            import ctypes, resource, sunindex
            M_MMAP_THRESHOLD, M_ARENA_MAX = -3, -8
            libc = ctypes.CDLL(None)
            libc.mallopt(M_MMAP_THRESHOLD, 2**20)
            libc.mallopt(M_ARENA_MAX, 1)
            a, b = (sunindex.Sunindex.from_celestrak_csv(p) for p in {paths!r})
            before = (a.len(), a.date_range(), b.len(), b.date_range())
            with open("/proc/self/statm") as f:
                size = int(f.read().split()[0]) * resource.getpagesize()
            soft, hard = resource.getrlimit(resource.RLIMIT_AS)
            resource.setrlimit(resource.RLIMIT_AS, (size + 8 * 2**20, hard))
            try:
                a.merge(b)
                outcome = "merged"
            except MemoryError:
                outcome = "MemoryError"
            finally:
                resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
            print(outcome, (a.len(), a.date_range(), b.len(), b.date_range()) == before)
        """)
        done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
        assert done.stdout.split() == ["MemoryError", "True"], done.stderr
