"""SOLFSMY and DTCFILE readers, observed through the Sunindex constructors and queries."""
import math
from collections import namedtuple
from datetime import date, timedelta

import pytest

from sunindex import Sunindex

KEYS = ("date", "f10_7_obs", "f10_7_adj", "f10_7_jb", "f10_7_jb_81c", "ap_daily",
        "ap_3hr", "kp_3hr", "s10_7", "m10_7", "y10_7", "dtc")
SOL_KEYS = ("f10_7_jb", "f10_7_jb_81c", "s10_7", "m10_7", "y10_7")
SOL_LABELS = ("F10.7", "F81c", "S10.7", "M10.7", "Y10.7")
SOL_STARTS = (22, 28, 34, 46, 58)
GOOD = ("150.0", "151.0", "152.0", "153.0", "154.0")
NBSP, IDEO = "\u00a0".encode(), "\u3000".encode()  # 2- and 3-byte White_Space characters


def fit(value, width):
    """The field's bytes, right-aligned to exactly `width` bytes as in the published files."""
    raw = (value if isinstance(value, bytes) else str(value).encode()).rjust(width)
    assert len(raw) == width, (value, width)
    return raw


def sol_line(year=2024, doy=1, values=GOOD, gap=b"   2460311.0", fill=(b" 149.0", b" 148.0"),
             tail=b" 160.0  1E11"):
    f, c, s, m, y = (fit(v, 6) for v in values)
    return fit(year, 6) + fit(doy, 4) + fit(gap, 12) + f + c + s + fit(fill[0], 6) + m + fit(fill[1], 6) + y + tail


def dtc_line(year=2024, doy=1, hours=(50,) * 24, tag=b"DTC ", tail=b""):
    return fit(tag, 4) + fit(year, 4) + fit(doy, 5) + b"".join(fit(h, 4) for h in hours) + tail


def text(*lines, eol=b"\n"):
    return b"".join(line + eol for line in lines)


def overwrite(line, pos, chunk):
    return line[:pos] + chunk + line[pos + len(chunk):]


# line(year, doy, v): a valid line whose values all read back as v under `key`.
# exact: a line of the minimum length whose last field is complete one byte before its end.
# padded: a line whose every field has a space at both ends, so a character crossing an edge only replaces spaces.
Fmt = namedtuple("Fmt", "name load line key keys width exact exact_value padded padded_day padded_value edges")
SOL = Fmt("solfsmy", Sunindex.from_set_solfsmy,
          lambda year=2024, doy=1, v=150, **kw: sol_line(year, doy, (v,) * 5, **kw), "y10_7", SOL_KEYS, 64,
          sol_line(values=(150,) * 4 + (b"150   ",), tail=b""), 150.0,
          sol_line(b" 2024 ", b" 10 ", (b"  1.5 ",) * 5, gap=b" " * 12, fill=(b" " * 6,) * 2, tail=b""),
          date(2024, 1, 10), 1.5,
          [(6, "year"), (10, "doy"), (22, "F10.7"), (28, "F10.7"), (34, "F81c"), (40, "S10.7"),
           (46, "M10.7"), (52, "M10.7"), (58, "Y10.7"), (64, "Y10.7")])
DTC = Fmt("dtcfile", Sunindex.from_set_dtcfile,
          lambda year=2024, doy=1, v=50, **kw: dtc_line(year, doy, (v,) * 24, **kw), "dtc", ("dtc",), 109,
          dtc_line(hours=(50,) * 23 + (b"50  ",)), 50.0,
          dtc_line(b" 24 ", b" 10  ", (b" 5  ",) * 24, tag=b"    "), date(24, 1, 10), 5.0,
          [(4, "year"), (8, "year"), (13, "doy"), (17, "Dtc"), (109, "Dtc")])
both = pytest.mark.parametrize("fmt", [SOL, DTC], ids=lambda f: f.name)


@pytest.fixture
def load(write_file):
    return lambda fmt, content: fmt.load(write_file(content))


@pytest.fixture
def error(write_file):
    def run(fmt, content):
        with pytest.raises(ValueError) as info:
            fmt.load(write_file(content))
        assert type(info.value) is ValueError
        return str(info.value)
    return run


def values(obj, fmt):
    return [(r["date"], r[fmt.key]) for r in obj.get_range(date.min, date.max)]


@both
class TestLineWalk:
    def test_line_ends_give_same_records(self, fmt, load):
        lines = [fmt.line(2024, d, 100 + d) for d in (1, 2, 3)]
        contents = [text(*lines), text(*lines, eol=b"\r\n"), lines[0] + b"\r\n" + lines[1] + b"\n" + lines[2]]
        got = [load(fmt, c).get_range(date.min, date.max) for c in contents]
        assert got[0] == got[1] == got[2]
        assert [r[fmt.key] for r in got[0]] == [101, 102, 103]

    @pytest.mark.parametrize("skipped, row", [
        ([b"# a"] * 4, 5), ([b"#", b"  # indented", b"\t# tab"], 4), ([b"", b"   ", b" \t\x0b\x0c", b"\r\r"], 5),
        (["\u3000\u00a0".encode(), "\u2003# after em space".encode()], 3)])
    def test_skipped_lines_count_in_rows(self, fmt, error, skipped, row):
        assert error(fmt, text(*skipped, fmt.line(2024, 0))) == f"parse error at row {row}: invalid day-of-year"

    @pytest.mark.parametrize("content", [b"", b"\n\n", b"# x\n   \n\t#\n", b"# no final line end"])
    def test_only_skipped_lines_give_empty_store(self, fmt, load, content):
        obj = load(fmt, content)
        assert (obj.len(), len(obj), obj.date_range()) == (0, 0, None)

    def test_minimum_length_is_read_and_one_byte_less_fails(self, fmt, load, error):
        assert len(fmt.exact) == fmt.width
        assert load(fmt, text(b"# c", fmt.exact)).get(date(2024, 1, 1))[fmt.key] == fmt.exact_value
        assert error(fmt, text(b"# c", fmt.exact[:-1])) == "parse error at row 2: line too short"

    def test_cr_ending_last_line_counts_toward_length(self, fmt, load, error):
        assert load(fmt, b"# c\n" + fmt.exact[:-1] + b"\r").get(date(2024, 1, 1))[fmt.key] == fmt.exact_value
        assert error(fmt, b"# c\n" + fmt.exact[:-1] + b"\r\n") == "parse error at row 2: line too short"

    def test_text_after_last_column_ignored(self, fmt, load):
        obj = load(fmt, text(fmt.line(2024, 5, 77, tail=" #x\t\u20ac 1e \x00 ,\u2028z".encode())))
        assert obj.get(date(2024, 1, 5))[fmt.key] == 77

    def test_extra_leading_space_is_not_realigned(self, fmt, error):
        assert error(fmt, text(b" " + fmt.line(2024, 100))) == "parse error at row 1: doy"

    @pytest.mark.parametrize("first", [b"# header", b"# " + b"x" * 120, None], ids=["short", "long", "data"])
    def test_bom_makes_a_data_line(self, fmt, error, first):
        line = b"\xef\xbb\xbf" + (first or fmt.line())
        label = "line too short" if len(line) < fmt.width else "year"
        assert error(fmt, text(line, fmt.line())) == f"parse error at row 1: {label}"

    @pytest.mark.parametrize("bad", [b"\xc0\xaf", b"\xed\xa0\x80", b"\xe2\x82", b"\x80", b"\xf4\x90\x80\x80", b"\xff"])
    @pytest.mark.parametrize("where", ["comment", "unread", "end", "after_bad_line"])
    def test_invalid_utf8_anywhere(self, fmt, error, bad, where):
        lines = [b"# ok", fmt.line(2024, 1), fmt.line(2024, 2)]
        if where == "comment":
            lines[0] += bad
        elif where == "unread":
            lines[1] += bad
        elif where == "after_bad_line":
            lines[0] = fmt.line(2024, 0)
        content = text(*lines) + (bad if where in ("end", "after_bad_line") else b"")
        assert error(fmt, content) == "parse error at row 0: invalid utf-8"


@both
class TestDayOfYear:
    @pytest.mark.parametrize("year", [2023, 2024, 2000, 1900, 2100])
    def test_every_day_of_the_year(self, fmt, load, year):
        days = (date(year, 12, 31) - date(year, 1, 1)).days + 1
        obj = load(fmt, text(*(fmt.line(year, d, d) for d in range(1, days + 1))))
        assert values(obj, fmt) == [(date(year, 1, 1) + timedelta(d - 1), d) for d in range(1, days + 1)]
        assert all((r[k] is None) != (k in fmt.keys) for r in obj.get_range(date.min, date.max) for k in KEYS[1:])

    @pytest.mark.parametrize("year, doy, day", [
        (2024, 60, date(2024, 2, 29)), (2023, 60, date(2023, 3, 1)), (2000, 366, date(2000, 12, 31)),
        (2100, 60, date(2100, 3, 1)), (2024, "+32", date(2024, 2, 1)), (2024, "0032", date(2024, 2, 1)),
        (2024, b"32  ", date(2024, 2, 1)), ("+999", 1, date(999, 1, 1)), (b"999 ", 1, date(999, 1, 1))])
    def test_accepted(self, fmt, load, year, doy, day):
        assert load(fmt, text(fmt.line(year, doy, 7))).get(day)[fmt.key] == 7

    @pytest.mark.parametrize("year, doy", [(1900, 366), (2023, 366), (2100, 366), (-100, 366), (2024, 367),
                                           (2024, 0), (2024, "+0"), (2023, 9999)])
    def test_invalid_day_of_year(self, fmt, error, year, doy):
        assert error(fmt, text(fmt.line(year, doy))) == "parse error at row 1: invalid day-of-year"

    @pytest.mark.parametrize("doy", ["-1", "-0", "1.0", "", "+", "1 2", "++1", "x", "1e2", "\u00bd"])
    def test_bad_doy(self, fmt, error, doy):
        assert error(fmt, text(fmt.line(2024, 1), fmt.line(2024, doy))) == "parse error at row 2: doy"

    @pytest.mark.parametrize("year", ["-", "", "+", "+-1", "2.0", "x", "2 24", "1e3"])
    def test_bad_year(self, fmt, error, year):
        assert error(fmt, text(fmt.line(year, 1))) == "parse error at row 1: year"

    def test_years_datetime_refuses_are_stored(self, fmt, load):
        obj = load(fmt, text(fmt.line(-200, 1), fmt.line(0, 366), fmt.line(-4, 366), fmt.line(5, 1)))
        assert (obj.len(), len(obj)) == (4, 4)
        assert [r["date"] for r in obj.get_range(date(1, 1, 1), date(9, 1, 1))] == [date(5, 1, 1)]
        with pytest.raises(ValueError, match="out of range"):
            obj.date_range()


class TestSolfsmyFields:
    @pytest.mark.parametrize("field", ["nan", "NaN", "-nan", "1e400", "-1e400", " -inf", "INF", "+Inf", ".5", "5.",
                                       "+7", "1E2", "2.5e-2", "1e-400", "-0", "0012.5", "152.3", " 0.1  ",
                                       "-.5", "-0.0", "999999", "-99999", ".00001", "12.5  ", "\t-1.5", "1.5\x0b",
                                       "+1.5", " 1e2"])
    def test_value_syntax(self, load, field):
        rec = load(SOL, text(sol_line(values=(field,) * 5))).get(date(2024, 1, 1))
        want = float(field)
        for key in SOL_KEYS:
            assert math.isnan(rec[key]) if math.isnan(want) else (rec[key], math.copysign(1, rec[key])) == (
                want, math.copysign(1, want))

    @pytest.mark.parametrize("field", ["", "abc", "1e", "e5", ".", "0x10", "1_0", "1.2.3", "+-1", "--1", "1 0", "12a",
                                       "infi", "1,5", "1e+", "+", "-", "in f", "\u221e", "\u0661\u0662", "nan1",
                                       "1-2", "5-", "-.", "1.2-", "- 1.5", "1..5", "-1.5-", "1.5.", "1/5"])
    @pytest.mark.parametrize("col", range(5))
    def test_bad_value_names_its_column(self, error, field, col):
        vals = GOOD[:col] + (field,) + GOOD[col + 1:]
        assert error(SOL, text(sol_line(), b"# c", sol_line(doy=2, values=vals))) == \
            f"parse error at row 3: {SOL_LABELS[col]}"

    @pytest.mark.parametrize("fields, label", [
        (dict(year="x", doy="x", values=("x",) * 5), "year"), (dict(doy="x", values=("x",) * 5), "doy"),
        (dict(doy=0, values=("x",) * 5), "invalid day-of-year"),
        *[(dict(values=GOOD[:k] + ("x",) * (5 - k)), SOL_LABELS[k]) for k in range(5)]])
    def test_first_failing_step_wins(self, error, fields, label):
        assert error(SOL, text(b"#", sol_line(**{"year": 2024, "doy": 2, **fields}))) == f"parse error at row 2: {label}"

    def test_length_checked_first_and_earliest_line_wins(self, error):
        assert error(SOL, text(sol_line(year="x")[:63])) == "parse error at row 1: line too short"
        bad_81c = sol_line(values=("1", "x", "x", "x", "x"))
        assert error(SOL, text(bad_81c, sol_line(year="x"))) == "parse error at row 1: F81c"

    def test_unread_columns_hold_anything(self, load):
        line = sol_line(2024, 9, gap="#\u20ac\t\x00x;,-+e".encode(), fill=("\u00fc#A\u00e9".encode(), b"\t" * 6),
                        tail="\u2028 anything".encode())
        rec = load(SOL, text(line)).get(date(2024, 1, 9))
        assert [rec[k] for k in SOL_KEYS] == [float(v) for v in GOOD]


class TestDtcfileFields:
    @pytest.mark.parametrize("hours", [(50,) * 24, (1,) + (0,) * 23, tuple(range(-12, 12)), (-999,) * 12 + (9999,) * 12,
                                       ("+12",) * 24, (b"7   ",) * 24, (-1,) * 23 + (0,), (579, 7) * 12, (1, 2) * 12,
                                       ("+1", -5) * 12, (8, b" 9  ") * 12, ("-0", "0000", b"\t-3", b"-3\t") * 6])
    def test_dtc_is_mean_of_hours(self, load, hours):
        rec = load(DTC, text(dtc_line(hours=hours))).get(date(2024, 1, 1))
        assert rec["dtc"] == sum(int(h) for h in hours) / 24

    @pytest.mark.parametrize("bad", ["5.0 ", "    ", "1e2", "+", "- 5", "0x1", "nan", "5,0", "\u00bd", "--1",
                                     "1-2", "-", "12 -", "-1-", "5.", "1 2"])
    @pytest.mark.parametrize("hour", [0, 11, 23])
    def test_bad_hour(self, error, bad, hour):
        hours = [50] * 24
        hours[hour] = bad
        assert error(DTC, text(b"#", b"#", b"#", dtc_line(hours=hours))) == "parse error at row 4: Dtc"

    @pytest.mark.parametrize("fields, label", [
        (dict(year="x", doy="x", hours=("x",) * 24), "year"), (dict(doy="x", hours=("x",) * 24), "doy"),
        (dict(year=2023, doy=366, hours=("x",) * 24), "invalid day-of-year"),
        (dict(doy=65535), "invalid day-of-year"), (dict(doy=65536), "doy"), (dict(doy=99999), "doy")])
    def test_order_and_sixteen_bit_doy(self, error, fields, label):
        assert error(DTC, text(dtc_line(**fields))) == f"parse error at row 1: {label}"

    @pytest.mark.parametrize("tag, tail", [(b"", b""), ("\u20ac#".encode(), b" 999 x"), (b"1234", b"\t"), (b"\t" * 4, b"#")])
    def test_unread_bytes_hold_anything(self, load, tag, tail):
        assert load(DTC, text(dtc_line(doy=9, hours=(3,) * 24, tag=tag, tail=tail))).get(date(2024, 1, 9))["dtc"] == 3.0


@pytest.mark.parametrize("fmt, pos, chunk, label", [
    (fmt, edge - back, chunk, label)
    for fmt in (SOL, DTC) for edge, label in fmt.edges for chunk, back in ((NBSP, 1), (IDEO, 1), (IDEO, 2))],
    ids=lambda v: v.name if isinstance(v, Fmt) else None)
def test_character_crossing_a_field_edge_fails_that_field(error, fmt, pos, chunk, label):
    assert error(fmt, text(overwrite(fmt.padded, pos, chunk))) == f"parse error at row 1: {label}"


@both
def test_padded_line_reads_whole(fmt, load):
    assert load(fmt, text(fmt.padded)).get(fmt.padded_day)[fmt.key] == fmt.padded_value


FEFF = "\ufeff".encode()


@pytest.mark.parametrize("fmt, line, key, want", [  # U+0085, U+00A0, U+3000 are White_Space; U+FEFF, U+001C/1F are not
    (SOL, sol_line(values=(NBSP + b"1.5 ",) + GOOD[1:]), "f10_7_jb", 1.5),
    (SOL, sol_line(values=GOOD[:4] + (b"1.5" + IDEO,)), "y10_7", 1.5),
    (SOL, sol_line(year=b"\xc2\x852024"), "f10_7_jb", 150.0),
    (SOL, sol_line(values=(FEFF + b"1.5",) + GOOD[1:]), "f10_7_jb", "F10.7"),
    (SOL, sol_line(values=(b"\x1c 1.5",) + GOOD[1:]), "f10_7_jb", "F10.7"),
    (SOL, sol_line(year=b"2024\x1f"), "f10_7_jb", "year"),
    (DTC, dtc_line(hours=(NBSP + b"5 ",) * 24), "dtc", 5.0),
    (DTC, dtc_line(doy=b"1" + IDEO + b" "), "dtc", 50.0),
    (DTC, dtc_line(hours=(FEFF + b"5",) + (50,) * 23), "dtc", "Dtc"),
    (DTC, dtc_line(year=b"\x1c24 "), "dtc", "year")], ids=lambda v: v.name if isinstance(v, Fmt) else None)
def test_trimming_removes_only_white_space(fmt, load, error, line, key, want):
    if isinstance(want, str):
        assert error(fmt, text(line)) == f"parse error at row 1: {want}"
    else:
        assert load(fmt, text(line)).get(date(2024, 1, 1))[key] == want


@both
def test_last_line_without_line_end_reads_to_the_last_byte(fmt, load):
    line = fmt.line(2024, 7, -12)[:fmt.width]
    assert load(fmt, text(fmt.line(2024, 6, 5)) + line).get(date(2024, 1, 7))[fmt.key] == -12


@both
def test_duplicates_keep_first_line_and_lines_are_sorted(fmt, load):
    obj = load(fmt, text(*(fmt.line(y, d, v) for y, d, v in
                           [(2024, 3, 3), (2024, 1, 1), (2024, 3, 33), (2024, 2, 2), (2023, 365, 9), (2024, 1, 11)])))
    assert (obj.len(), obj.date_range()) == (4, (date(2023, 12, 31), date(2024, 1, 3)))
    assert values(obj, fmt) == [(date(2023, 12, 31), 9), (date(2024, 1, 1), 1), (date(2024, 1, 2), 2),
                                (date(2024, 1, 3), 3)]


def expected_from_text(path, fmt):
    """(data line count, {date: record dict}) parsed here from the file's own text."""
    count, out = 0, {}
    for line in open(path, "rb").read().decode().split("\n"):
        line = line.removesuffix("\r")
        if not line.strip() or line.strip().startswith("#"):
            continue
        count += 1
        if fmt is SOL:
            day = date(int(line[0:6]), 1, 1) + timedelta(int(line[6:10]) - 1)
            vals = dict(zip(SOL_KEYS, (float(line[a:a + 6]) for a in SOL_STARTS)))
        else:
            day = date(int(line[4:8]), 1, 1) + timedelta(int(line[8:13]) - 1)
            vals = {"dtc": sum(int(line[13 + 4 * k:17 + 4 * k]) for k in range(24)) / 24}
        out.setdefault(day, {"date": day, **dict.fromkeys(KEYS[1:]), **vals})
    return count, out


@pytest.mark.parametrize("fmt, name, kind", [(SOL, "SOLFSMY.TXT", "full"), (DTC, "DTCFILE.TXT", "full"),
                                             (SOL, "SOLFSMY-sample.TXT", "sample"),
                                             (DTC, "DTCFILE-sample.TXT", "sample")])
def test_published_files(fmt, name, kind, full_data, sample_path):
    path = full_data(name) if kind == "full" else sample_path(name)
    count, expected = expected_from_text(path, fmt)
    obj = fmt.load(path)
    assert (obj.len(), len(expected)) == (count, count)
    days = sorted(expected)
    assert obj.date_range() == (days[0], days[-1])
    assert date(2024, 2, 29) in expected
    for day in (days[0], days[-1], days[len(days) // 2], date(2024, 2, 29), date(2000, 2, 29)):
        assert obj.get(day) == expected.get(day)
    assert obj.get_range(days[0], days[-1]) == [expected[d] for d in days]


# Files from this size on are read by two threads, each taking the lines on one side of a line end near the middle.
TWO_THREADS_BYTES = 256 * 1024


def long_file_lines(fmt, count=4000):
    """`count` lines of consecutive days with varied values, and those values as read back."""
    days = [date(1950, 1, 1) + timedelta(k) for k in range(count)]
    if fmt is SOL:
        values = [((k * 37) % 19999 - 9999) / 10 for k in range(count)]
        fields = [f"{v:.1f}" for v in values]
    else:
        values = [(k * 37) % 10999 - 999 for k in range(count)]
        fields = values
    lines = [fmt.line(d.year, d.timetuple().tm_yday, f) for d, f in zip(days, fields)]
    return lines, list(zip(days, values))


@both
class TestLongFiles:
    def test_two_threads_read_what_short_pieces_read(self, fmt, load):
        lines, expected = long_file_lines(fmt)
        content = text(b"# head", *lines[:1000], b"", b"  # inside", *lines[1000:])
        assert len(content) >= TWO_THREADS_BYTES
        whole = load(fmt, content).get_range(date.min, date.max)
        pieces = [record for k in range(0, len(lines), 500)
                  for record in load(fmt, text(*lines[k:k + 500])).get_range(date.min, date.max)]
        assert whole == pieces
        assert [(r["date"], r[fmt.key]) for r in whole] == expected

    @pytest.mark.parametrize("bad_rows", [[3900], [2001], [1999], [2000], [2002], [300, 3900], [2000, 2001], [4001]])
    def test_first_error_in_file_order_names_its_row(self, fmt, error, bad_rows):
        lines, _ = long_file_lines(fmt)
        lines = [b"# head"] + lines  # row r is lines[r - 1]
        for row in bad_rows:
            lines[row - 1] = fmt.line(2024, 0)
        content = text(*lines)
        assert len(content) >= TWO_THREADS_BYTES
        assert error(fmt, content) == f"parse error at row {min(bad_rows)}: invalid day-of-year"

    @pytest.mark.parametrize("bad_row, utf8_row", [(100, 3900), (3900, 100), (2001, 2001), (None, 4000)])
    def test_invalid_utf8_anywhere_wins_over_a_bad_line(self, fmt, error, bad_row, utf8_row):
        lines, _ = long_file_lines(fmt)
        if bad_row:
            lines[bad_row - 1] = fmt.line(2024, 0)
        lines[utf8_row - 1] += b"\xe2\x82"
        assert error(fmt, text(*lines)) == "parse error at row 0: invalid utf-8"
