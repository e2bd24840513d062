"""The CelesTrak CSV reader, observed through Sunindex.from_celestrak_csv."""
import math
import struct
from datetime import date, timedelta
from types import SimpleNamespace as NS

import pytest
from hypothesis import HealthCheck, given, settings, strategies as st

from sunindex import Sunindex

DAY = date(2023, 1, 5)
HEADER_ERROR = "invalid or missing CSV header"
MARKERS = ("9999.9", "99999", "999.9")
APS = ["0", "2", "3", "4", "5", "6", "7", "9"]
KPS = ["0", "3", "7", "10", "13", "17", "20", "23"]
BASE = [("DATE", "2023-01-05"), ("F10.7_OBS", "150.5"), ("F10.7_ADJ", "148.25"), ("AP_AVG", "7"),
        *((f"AP{i + 1}", v) for i, v in enumerate(APS)), *((f"KP{i + 1}", v) for i, v in enumerate(KPS))]
HEADER = ",".join(name for name, _ in BASE)


def row(day="2023-01-05", **changes):
    return ",".join(changes.get(name, value) if name != "DATE" else day for name, value in BASE)


def csv_bytes(*rows, header=HEADER, eol="\n"):
    return "".join(line + eol for line in (header, *rows)).encode()


def load(write_file, content):
    return Sunindex.from_celestrak_csv(write_file(content))


def error(write_file, content):
    with pytest.raises(ValueError) as caught:
        load(write_file, content)
    assert caught.type is ValueError
    return str(caught.value)


def single(write_file, pairs):
    """The record of DAY from a file with one header line and one row built from (name, text) pairs."""
    text = ",".join(n for n, _ in pairs) + "\n" + ",".join(v for _, v in pairs) + "\n"
    obj = load(write_file, text.encode())
    assert obj.len() == 1
    return obj.get(DAY)


def replaced(**new):
    return [(n, new.get(n, v)) for n, v in BASE]


def expected(text):
    """What the file's text must give: None for empty text and the markers, else Python's float."""
    return None if text.strip() in ("", *MARKERS) else float(text)


def same(got, want):
    if want is None or got is None:
        return got is want
    if math.isnan(want):
        return type(got) is float and math.isnan(got)
    return type(got) is float and struct.pack("<d", got) == struct.pack("<d", want)


class TestHeader:
    @pytest.mark.parametrize("content", [
        b"", b"\n", b"\r\n", b"   \n", b"\n" + csv_bytes(row()), b"\xef\xbb\xbf" + csv_bytes(row()),
        csv_bytes(row(), header=HEADER.replace("DATE", "date")), csv_bytes(row(), header=HEADER.replace("DATE", "\"DATE\"")),
        csv_bytes(header=HEADER.replace(",KP8", "")), csv_bytes(row(), header=HEADER.replace("KP8", "KP9")),
        csv_bytes(header=HEADER.replace("AP1,", "AP01,")), csv_bytes(header=HEADER.replace("F10.7_OBS", "F10.7_Obs")),
        csv_bytes(header=HEADER.replace("F10.7_ADJ", "F107A")), csv_bytes(header=HEADER.replace("AP_AVG", "APAVG")),
        csv_bytes(header=HEADER.replace("DATE", "\ufeffDATE")), csv_bytes(header=HEADER.replace("DATE", "\x1cDATE")),
        csv_bytes(row(), header=HEADER.replace(",", "\t")), csv_bytes(row(), eol="\r"),
    ])
    def test_header_error(self, write_file, content):
        assert error(write_file, content) == HEADER_ERROR

    @pytest.mark.parametrize("names", [[" DATE "], ["\tKP3 ", "\u3000AP1\u3000", " DATE\u00a0", "\u2028KP8"]])
    def test_names_trimmed(self, write_file, names):
        header = HEADER
        for name in names:
            header = header.replace(name.strip(), name)
        assert load(write_file, csv_bytes(row(), header=header)).get(DAY)["kp_3hr"] == [float(k) for k in KPS]

    @pytest.mark.parametrize("alias, field", [("F10.7", "f10_7_obs"), ("F10.7A", "f10_7_adj"), ("AP", "ap_daily")])
    def test_fallback_and_precedence(self, write_file, alias, field):
        full = {"f10_7_obs": "F10.7_OBS", "f10_7_adj": "F10.7_ADJ", "ap_daily": "AP_AVG"}[field]
        alone = [(alias if n == full else n, v) for n, v in BASE]
        assert single(write_file, alone)[field] == float(dict(BASE)[full])
        assert single(write_file, [(alias, "1.5"), *BASE])[field] == float(dict(BASE)[full])
        assert single(write_file, [*BASE, (alias, "1.5")])[field] == float(dict(BASE)[full])
        assert error(write_file, csv_bytes(header=",".join(n for n, _ in BASE if n != full))) == HEADER_ERROR

    @pytest.mark.parametrize("name, field, value", [
        ("DATE", "date", DAY), ("F10.7_OBS", "f10_7_obs", 42.0), ("KP1", "kp_3hr", [42.0] + [float(k) for k in KPS[1:]])])
    def test_repeated_name_uses_right_hand_column(self, write_file, name, field, value):
        left = "not a date" if name == "DATE" else "99.0"
        pairs = [(n, left if n == name else v) for n, v in BASE] + [(name, "2023-01-05" if name == "DATE" else "42")]
        assert single(write_file, pairs)[field] == value

    def test_columns_in_any_order_and_others_ignored(self, write_file):
        pairs = [("BSRN", "x"), *reversed(BASE), ("F10.7_DATA_TYPE", "OBS"), ("", "junk")]
        assert single(write_file, pairs) == single(write_file, BASE)

    def test_bom_in_an_ignored_first_column_is_harmless(self, write_file):
        assert load(write_file, b"\xef\xbb\xbfBSRN," + csv_bytes("1," + row(), header=HEADER)).len() == 1

    def test_header_without_rows_gives_empty_store(self, write_file):
        obj = load(write_file, HEADER.encode())
        assert (obj.len(), obj.date_range(), obj.get_range(date(1, 1, 1), date(9999, 12, 31))) == (0, None, [])


class TestLines:
    ROWS = [row("2023-01-05"), row("2023-01-06", **{"F10.7_OBS": ""}), row("2023-01-07", KP3="")]

    @pytest.mark.parametrize("content", [
        csv_bytes(*ROWS, eol="\r\n"), csv_bytes(*ROWS).rstrip(b"\n"), csv_bytes(*ROWS, eol="\r\n").rstrip(b"\r\n"),
        "\r\n".join([HEADER, ROWS[0]]).encode() + b"\n" + "\r\n".join(ROWS[1:]).encode() + b"\r\n",
        csv_bytes(*ROWS, eol="\r\r\n"), csv_bytes(*ROWS).replace(b"\n", b"\n \t\n\n"),
    ])
    def test_line_ends_and_blank_lines(self, write_file, content):
        def everything(obj):
            return obj.get_range(date(2023, 1, 1), date(2023, 1, 31))
        assert everything(load(write_file, content)) == everything(load(write_file, csv_bytes(*self.ROWS)))
        assert len(everything(load(write_file, content))) == 3

    def test_cr_inside_a_field_is_kept(self, write_file):
        assert load(write_file, csv_bytes(row(**{"F10.7_OBS": "1\r5"}))).get(DAY)["f10_7_obs"] is None

    @pytest.mark.parametrize("before, bad, number", [
        ([], "2023-13-01", 2), ([row()], "2023-13-01", 3), (["", "  ", "\t\r", "\u3000"], "2023-13-01", 6),
        ([row(), "", row("2023-01-06")], "", 5), ([], "# comment", 2), ([row()], "#" + row(), 3),
    ])
    def test_row_numbers_count_every_line(self, write_file, before, bad, number):
        for eol in ("\n", "\r\n"):
            content = csv_bytes(*before, bad if "," in bad else row(bad), row("2023-02-01"), eol=eol)
            assert error(write_file, content) == f"parse error at row {number}: invalid date"

    def test_bad_date_in_last_of_many_rows(self, write_file):
        rows = [row((date(2000, 1, 1) + timedelta(i)).isoformat()) for i in range(3000)]
        assert error(write_file, csv_bytes(*rows, "2023-1-5x")) == "parse error at row 3002: invalid date"


class TestDate:
    @pytest.mark.parametrize("text", ["2023-1-5", "+2023-01-05", " 2023-01-05 ", "2023-001-05", "2023-+1-+05",
                                      "0002023-01-0005", "\u00a02023-01-05\u3000", "\t2023-01-05\u2028"])
    def test_accepted(self, write_file, text):
        assert load(write_file, csv_bytes(row(text))).date_range() == (DAY, DAY)

    @pytest.mark.parametrize("text", [
        "2023/01/05", "20230105", "2023-01-05T00:00", "2023 -01-05", "2023-1 -5", "2023-13-01", "2023-00-10",
        "2023-01-32", "2023-01-00", "2023-01-", "-2023-01-05", "2023-01-05-", "\"2023-01-05\"", "", " ", "+-01-05",
        "++2023-01-05", "2023-0x1-05", "2023-01-257", "2023-257-01", "2147483648-01-05", "4294969319-01-05",
        "٢٠٢٣-01-05", "２０２３-01-05", "\x1c2023-01-05", "\ufeff2023-01-05", "2023-01-05\ufeff", "2023-01-5.0",
    ])
    def test_rejected(self, write_file, text):
        assert error(write_file, csv_bytes(row(text))) == "parse error at row 2: invalid date"

    @pytest.mark.parametrize("line", ["1,2,3", row().replace("2023-01-05,", "") + ","])
    def test_date_field_missing_from_row(self, write_file, line):
        header = ",".join([n for n, _ in BASE[1:]] + ["DATE"])
        assert error(write_file, f"{header}\n{line}\n".encode()) == "parse error at row 2: invalid date"

    def test_day_not_checked_against_month(self, write_file):
        obj = load(write_file, csv_bytes(row("2023-02-27"), row("2023-02-31"), row("2023-03-02")))
        assert obj.len() == 3
        assert obj.date_range() == (date(2023, 2, 27), date(2023, 3, 2))
        assert obj.get(date(2023, 2, 27))["date"] == date(2023, 2, 27)
        assert [r["date"] for r in obj.get_range(date(2023, 3, 1), date(2023, 3, 9))] == [date(2023, 3, 2)]
        with pytest.raises(ValueError, match="day is out of range for month"):
            obj.get(NS(year=2023, month=2, day=31))
        with pytest.raises(ValueError, match="day is out of range for month"):
            obj.get_range(date(2023, 2, 1), date(2023, 3, 31))

    @pytest.mark.parametrize("text", ["0-01-01", "2147483647-12-31"])
    def test_years_outside_datetime_are_stored(self, write_file, text):
        obj = load(write_file, csv_bytes(row(text)))
        assert obj.len() == 1
        with pytest.raises(ValueError, match="year"):
            obj.date_range()


VALID = ["150.5", "0", "-0", "-0.0", "12.", ".5", "5.", "+7", "-1", "1E2", "2.5E-02", "1e+3", "0012.50", "9999.90",
         "99999.0", "999.90", "09999.9", "NaN", "nan", "-NAN", "inf", "-inf", "+Infinity", "iNfInItY", "1e400",
         "-1e400", "1e-400", "-1e-400", "0.1", "9007199254740993", "4.9406564584124654e-324",
         "2.4703282292062327e-324", "2.4703282292062328e-324", "2.2250738585072011e-308", "1.7976931348623158e308",
         "1.7976931348623159e308", "1" + "0" * 400 + "e-400", "0." + "0" * 400 + "1e400"]
INVALID = ["abc", "1e", "e5", "0x10", "1_0", "+-1", "--1", ".", "+", "-", "+.", ".e1", "1e+", "1e-", "12a", "1..2",
           "1.2.3", "1 2", "1e5.5", "0x1p3", "infin", "infinityy", "nana", "in", "1d5", "\"1\"", "٣", "１２", "1e٣"]


class TestValues:
    @pytest.mark.parametrize("text", [*MARKERS, " 99999 ", "\t999.9\u3000", "", *VALID, *INVALID])
    def test_every_value_column(self, write_file, text):
        got = load(write_file, csv_bytes(row(**{n: text for n, _ in BASE[1:]}))).get(DAY)
        want = None if text in INVALID else expected(text)
        for field in ("f10_7_obs", "f10_7_adj", "ap_daily"):
            assert same(got[field], want), (field, got[field], want)
        for field in ("ap_3hr", "kp_3hr"):
            assert got[field] is None if want is None else (len(got[field]) == 8 and all(same(v, want) for v in got[field]))

    @pytest.mark.parametrize("prefix", ["AP", "KP"])
    @pytest.mark.parametrize("slot", range(1, 9))
    @pytest.mark.parametrize("bad", ["", "9999.9", "x"])
    def test_one_absent_slot_drops_only_that_array(self, write_file, prefix, slot, bad):
        got = load(write_file, csv_bytes(row(**{f"{prefix}{slot}": bad}))).get(DAY)
        full = single(write_file, BASE)
        field, other = ("ap_3hr", "kp_3hr") if prefix == "AP" else ("kp_3hr", "ap_3hr")
        assert got[field] is None and got[other] is not None and got == full | {field: None}

    def test_arrays_keep_slot_order(self, write_file):
        got = single(write_file, BASE[:4] + list(reversed(BASE[4:])))
        assert got["ap_3hr"] == [float(v) for v in APS] and got["kp_3hr"] == [float(v) for v in KPS]

    def test_row_of_only_a_date(self, write_file):
        got = load(write_file, csv_bytes("2023-01-05")).get(DAY)
        assert got["date"] == DAY and all(v is None for k, v in got.items() if k != "date")

    def test_short_and_long_rows(self, write_file):
        obj = load(write_file, csv_bytes("2023-01-05,150.5,", row("2023-01-06") + ",1,x,,"))
        short = obj.get(DAY)
        assert short["f10_7_obs"] == 150.5 and all(v is None for k, v in short.items() if k not in ("date", "f10_7_obs"))
        assert obj.get(date(2023, 1, 6)) == single(write_file, BASE) | {"date": date(2023, 1, 6)}

    def test_full_record(self, write_file):
        values = dict(BASE)
        assert single(write_file, BASE) == {
            "date": DAY, "f10_7_obs": float(values["F10.7_OBS"]), "f10_7_adj": float(values["F10.7_ADJ"]),
            "f10_7_jb": None, "f10_7_jb_81c": None, "ap_daily": float(values["AP_AVG"]), "ap_3hr": [float(v) for v in APS],
            "kp_3hr": [float(v) for v in KPS], "s10_7": None, "m10_7": None, "y10_7": None, "dtc": None}

    @pytest.mark.parametrize("space", ["\u00a0", "\u3000", "\u2028", "\u2029", "\u0085", "\u1680", "\u2000", "\u200a",
                                       "\u202f", "\u205f", "\t\x0b\x0c\r", "  "])
    def test_white_space_trimmed(self, write_file, space):
        got = load(write_file, csv_bytes(row(f"{space}2023-01-05{space}", **{"F10.7_OBS": f"{space}150.5{space}"}))).get(DAY)
        assert got["f10_7_obs"] == 150.5

    @pytest.mark.parametrize("other", ["\x1c", "\x1d", "\x1e", "\x1f", "\ufeff", "\u200b", "\x00"])
    def test_non_white_space_not_trimmed(self, write_file, other):
        assert load(write_file, csv_bytes(row(**{"F10.7_OBS": f"{other}150.5{other}"}))).get(DAY)["f10_7_obs"] is None
        assert load(write_file, csv_bytes(row(**{"F10.7_OBS": f"150.5{other}"}))).get(DAY)["f10_7_obs"] is None
        assert error(write_file, csv_bytes(row(f"{other}2023-01-05{other}"))) == "parse error at row 2: invalid date"


@st.composite
def decimal_text(draw):
    digits = st.text("0123456789", max_size=40)
    whole, point, frac = draw(digits), draw(st.booleans()), draw(digits)
    if not whole and not (point and frac):
        whole = draw(st.text("0123456789", min_size=1, max_size=25))
    exponent = draw(st.none() | st.tuples(st.sampled_from("eE"), st.sampled_from(["", "+", "-"]),
                                          st.text("0123456789", min_size=1, max_size=4)))
    return draw(st.sampled_from(["", "+", "-"])) + whole + ("." + frac if point else "") + "".join(exponent or ())


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(texts=st.lists(decimal_text(), min_size=1, max_size=20))
def test_numbers_match_python_float(write_file, texts):
    days = [date(2000, 1, 1) + timedelta(i) for i in range(len(texts))]
    obj = load(write_file, csv_bytes(*(row(d.isoformat(), **{"F10.7_OBS": t}) for d, t in zip(days, texts))))
    for got, text in zip(obj.get_range(days[0], days[-1]), texts, strict=True):
        assert same(got["f10_7_obs"], expected(text)), (text, got["f10_7_obs"])


UTF8_FAULTS = [b"\xc0\xaf", b"\xc1\xbf", b"\xe0\x80\xaf", b"\xf0\x80\x80\xaf", b"\xed\xa0\x80", b"\xed\xbf\xbf",
               b"\xe2\x82", b"\xf0\x9f\x98", b"\x80", b"\xbf", b"\xf4\x90\x80\x80", b"\xf5\x80\x80\x80", b"\xff", b"\xfe"]


class TestUtf8:
    @pytest.mark.parametrize("fault", UTF8_FAULTS)
    @pytest.mark.parametrize("where", ["header", "value", "ignored", "bad date row", "after last row", "end of file"])
    def test_fault_anywhere_is_header_error(self, write_file, fault, where):
        head, good, bad = b"BSRN," + HEADER.encode(), b"1," + row().encode(), b"1," + row("x").encode()
        content = {
            "header": b"BSRN" + fault + b"," + HEADER.encode() + b"\n" + good + b"\n",
            "value": head + b"\n" + good.replace(b"150.5", b"150.5" + fault) + b"\n",
            "ignored": head + b"\n" + fault + good + b"\n",
            "bad date row": head + b"\n" + bad + b"\n" + fault + b"\n",
            "after last row": head + b"\n" + good + b"\n\n" + fault + b"\n",
            "end of file": head + b"\n" + good + b"\n" + fault,
        }[where]
        assert error(write_file, content) == HEADER_ERROR

    @pytest.mark.parametrize("text", ["é", "€", "\U0001d11e", "\U0010ffff", "\ud7ff", "\ue000", "\u0080", "\u07ff"])
    def test_valid_multibyte_accepted(self, write_file, text):
        content = f"BSRN{text},{HEADER}\n{text},{row()}\n".encode()
        assert load(write_file, content).get(DAY) == single(write_file, BASE)


# Files from this size on are read by two threads, each taking the rows on one side of a line end near the middle.
TWO_THREADS_BYTES = 256 * 1024


def long_csv(count=5000, bad_rows=()):
    """A file of `count` rows of consecutive days with varied values; the rows numbered in `bad_rows`
    (the header is row 1) get a date that does not parse."""
    days = [date(1950, 1, 1) + timedelta(k) for k in range(count)]
    rows = [row(d.isoformat(), **{"F10.7_OBS": f"{(k * 37) % 99999 / 10:.1f}", "AP1": str(k % 400), "KP8": ""})
            for k, d in enumerate(days)]
    for bad in bad_rows:
        rows[bad - 2] = row("2020-13-01")
    content = csv_bytes(*rows)
    assert len(content) >= TWO_THREADS_BYTES
    return content, rows


class TestLongFiles:
    def test_two_threads_read_what_short_pieces_read(self, write_file):
        content, rows = long_csv()
        whole = load(write_file, content)
        pieces = [record for k in range(0, len(rows), 700)
                  for record in load(write_file, csv_bytes(*rows[k:k + 700])).get_range(date.min, date.max)]
        assert whole.get_range(date.min, date.max) == pieces and len(pieces) == len(rows)

    @pytest.mark.parametrize("bad_rows", [[4900], [2600], [2400], [300, 4900], [2501, 2502], [5001]])
    def test_first_error_in_file_order_names_its_row(self, write_file, bad_rows):
        content, _ = long_csv(bad_rows=bad_rows)
        assert error(write_file, content) == f"parse error at row {min(bad_rows)}: invalid date"

    @pytest.mark.parametrize("bad_row, utf8_row", [(100, 4900), (4900, 100)])
    def test_invalid_utf8_anywhere_wins_over_a_bad_row(self, write_file, bad_row, utf8_row):
        content, _ = long_csv(bad_rows=[bad_row])
        lines = content.split(b"\n")
        lines[utf8_row - 1] += b"\xe2\x82"
        assert error(write_file, b"\n".join(lines)) == HEADER_ERROR
