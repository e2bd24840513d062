"""Files that are not well formed. `SpaceWeather.load` refuses each with
"<path>: parse error at row N: ...", naming the file and the row at fault;
`sunindex` reads each as it always has, leniently."""

import datetime as dt
import math

import numpy as np
import pytest
from sunindex import Sunindex

from sunindex_tools import SpaceWeather

# F10.7_OBS last, so that a line cut inside it still has every field.
HEADER = "DATE,F10.7_ADJ,AP_AVG," + ",".join([f"AP{i}" for i in range(1, 9)] + [f"KP{i}" for i in range(1, 9)]) \
    + ",F10.7_OBS"
FIELDS = HEADER.count(",") + 1


def csv_row(date, obs="178.5", kp3="10"):
    return ",".join([date, "151.2", "7", *["5"] * 8, "10", "10", kp3, *["10"] * 5, obs])


def csv_text(*rows, end="\n"):
    return end.join([HEADER, *rows]) + end


def solfsmy_line(year, doy):
    line = f"{year:6d}{doy:4d}   2458850.0  70.5  71.2  68.0  69.1  70.0  69.8  60.1  60.4  1B11"
    assert len(line) == 76
    return line


def dtc_line(year, doy, hours=24):
    return f"DTC {year:4d}{doy:5d}" + "".join(f"{40 + h:4d}" for h in range(hours))


def lines(*text):
    return "".join(line + "\n" for line in text)


READERS = {"csv": Sunindex.from_celestrak_csv, "solfsmy": Sunindex.from_set_solfsmy,
           "dtcfile": Sunindex.from_set_dtcfile}
DAY1, DAY2 = dt.date(2020, 1, 1), dt.date(2020, 1, 2)


def obs_of(day):
    return lambda store: store.get(day)["f10_7_obs"]


# kind, content, row and message of the timeline's error, what sunindex's lenient read gives
# (a function of the store and its expected value, or the text of the ValueError it raises).
HOSTILE = [
    pytest.param("csv", csv_text(csv_row("2020-01-01"), csv_row("2020-01-02"))[:-4], 3,
                 "the last line has no line end: the file may be cut off", (obs_of(DAY2), 17.0),
                 id="csv-last-line-cut-in-a-value"),
    pytest.param("csv", csv_text(csv_row("2020-01-01"), csv_row("2020-01-02"))[:-1], 3,
                 "the last line has no line end: the file may be cut off", (obs_of(DAY2), 178.5),
                 id="csv-no-line-end-at-all"),
    pytest.param("csv", csv_text(csv_row("2020-01-01") + ",1", csv_row("2020-01-02")), 2,
                 f"{FIELDS + 1} fields where the header has {FIELDS}", (obs_of(DAY1), 178.5),
                 id="csv-row-with-a-field-more"),
    pytest.param("csv", csv_text(csv_row("2020-01-01"), csv_row("2020-01-02").rsplit(",", 1)[0]), 3,
                 f"{FIELDS - 1} fields where the header has {FIELDS}", (obs_of(DAY2), None),
                 id="csv-row-with-a-field-less"),
    pytest.param("csv", csv_text(csv_row("2020-01-01"), ",".join(["2020-01-02"] * 3)), 3,
                 f"3 fields where the header has {FIELDS}", (len, 2),
                 id="csv-short-row"),
    pytest.param("csv", csv_text(csv_row("2020-01-01") + ",4").replace("F10.7_OBS", "F10.7_OBS,KP3", 1), 1,
                 'the header names column "KP3" twice', (lambda s: s.get(DAY1)["kp_3hr"][2], 4.0),
                 id="csv-header-names-a-column-twice"),
    pytest.param("csv", f"{HEADER},ND\r{csv_row('2020-01-01')},1\r{csv_row('2020-01-02')},1\r", 1,
                 "a CR without an LF after it: lines must end with LF or CR LF", (len, 0),
                 id="csv-cr-only-line-ends"),
    pytest.param("csv", csv_text(csv_row("2020-01-01"), csv_row("2020-01-02").replace("151.2", "15\xe9.2"))
                 .encode("latin-1"), 3, "invalid utf-8", "invalid or missing CSV header",
                 id="csv-invalid-utf8-in-a-row"),
    pytest.param("csv", csv_text(csv_row("2020-01-01"), csv_row("0000-03-01")), 3, "year outside 1-9999",
                 (len, 2), id="csv-year-0"),
    pytest.param("csv", csv_text(csv_row("2020-01-01"), csv_row("10000-03-01")), 3, "year outside 1-9999",
                 (len, 2), id="csv-year-10000"),
    pytest.param("solfsmy", lines(solfsmy_line(2020, 1), solfsmy_line(-5, 1)), 2, "year outside 1-9999",
                 (len, 2), id="solfsmy-year-minus-5"),
    pytest.param("solfsmy", lines("# only row", solfsmy_line(0, 1)), 2, "year outside 1-9999",
                 (len, 1), id="solfsmy-only-row-in-year-0"),
    pytest.param("solfsmy", lines(solfsmy_line(2020, 1), solfsmy_line(2020, 2) + "  X"), 2,
                 "text after the last column", (len, 2), id="solfsmy-text-after-the-last-column"),
    pytest.param("solfsmy", lines(solfsmy_line(2020, 1), solfsmy_line(2020, 2))[:-1], 2,
                 "the last line has no line end: the file may be cut off", (len, 2), id="solfsmy-no-line-end"),
    pytest.param("solfsmy", lines(solfsmy_line(2020, 1), solfsmy_line(2020, 2)).replace("\n", "\r"), 1,
                 "a CR without an LF after it: lines must end with LF or CR LF", (len, 1),
                 id="solfsmy-cr-only-line-ends"),
    pytest.param("dtcfile", lines(dtc_line(2020, 1), dtc_line(2020, 2, hours=25)), 2,
                 "more than 24 hourly values", (len, 2), id="dtcfile-25-hours"),
    pytest.param("dtcfile", lines(dtc_line(2020, 1), dtc_line(2020, 2, hours=23)), 2,
                 "line too short", "parse error at row 2: line too short", id="dtcfile-23-hours"),
    pytest.param("dtcfile", lines(dtc_line(2020, 1), dtc_line(-5, 2)), 2, "year outside 1-9999",
                 (len, 2), id="dtcfile-year-minus-5"),
]


@pytest.mark.parametrize("kind,content,row,message,lenient", HOSTILE)
class TestRefusedAtTheirRow:
    def test_load_names_the_file_and_the_row(self, write_file, kind, content, row, message, lenient):
        path = write_file(content)
        with pytest.raises(ValueError) as error:
            SpaceWeather.load(**{kind: path})
        assert str(error.value) == f"{path}: parse error at row {row}: {message}"

    def test_sunindex_reads_it_leniently(self, write_file, kind, content, row, message, lenient):
        path = write_file(content)
        if isinstance(lenient, str):
            with pytest.raises(ValueError, match=f"^{lenient}$"):
                READERS[kind](path)
            return
        look, want = lenient
        assert look(READERS[kind](path)) == want


class TestLongFileReadByTwoThreads:
    """A file of 256 KiB or more is read in two halves: a fault in the second half is named at
    its row in the whole file."""

    ROWS = 5000

    def rows(self):
        first = dt.date(2000, 1, 1)
        rows = [csv_row((first + dt.timedelta(days=d)).isoformat()) for d in range(self.ROWS)]
        assert sum(map(len, rows)) > 256 * 1024
        return rows

    @pytest.mark.parametrize("fault,message", [
        (lambda row: row.replace("151.2", "15\xe9.2"), "invalid utf-8"),
        (lambda row: row + ",1", f"{FIELDS + 1} fields where the header has {FIELDS}"),
        (lambda row: "0000" + row[4:], "year outside 1-9999"),
    ])
    def test_a_faulty_row_in_the_second_half(self, write_file, fault, message):
        rows = self.rows()
        rows[4798] = fault(rows[4798])
        path = write_file(csv_text(*rows).encode("latin-1"))
        with pytest.raises(ValueError) as error:
            SpaceWeather.load(csv=path)
        assert str(error.value) == f"{path}: parse error at row 4800: {message}"

    def test_a_cut_last_line(self, write_file):
        path = write_file(csv_text(*self.rows())[:-4])
        with pytest.raises(ValueError) as error:
            SpaceWeather.load(csv=path)
        assert str(error.value) == \
            f"{path}: parse error at row {self.ROWS + 1}: the last line has no line end: the file may be cut off"


class TestSpanNamesTheStrayRow:
    """Dates that span more than 100,000 days: the row far from all others is named, in
    whichever file it lies, whichever file is read first."""

    @pytest.fixture
    def files(self, write_file):
        solfsmy = [solfsmy_line(year, 1) for year in range(1950, 2021)]
        csv = [csv_row(f"{year}-01-01") for year in range(2000, 2021)]
        return solfsmy, csv

    def test_a_stray_csv_row(self, write_file, files):
        solfsmy, csv = files
        csv.insert(3, csv_row("2250-01-01"))
        csv_path, solfsmy_path = write_file(csv_text(*csv)), write_file(lines(*solfsmy))
        with pytest.raises(ValueError) as error:
            SpaceWeather.load(csv=csv_path, solfsmy=solfsmy_path)
        assert str(error.value) == \
            f"{csv_path}: parse error at row 5: its date and the other rows' dates span more than 100000 days"

    def test_a_stray_solfsmy_row(self, write_file, files):
        solfsmy, csv = files
        solfsmy.append(solfsmy_line(1700, 1))
        csv_path, solfsmy_path = write_file(csv_text(*csv)), write_file(lines("# a comment", *solfsmy))
        with pytest.raises(ValueError) as error:
            SpaceWeather.load(csv=csv_path, solfsmy=solfsmy_path)
        assert str(error.value) == (f"{solfsmy_path}: parse error at row {len(solfsmy) + 1}: "
                                    "its date and the other rows' dates span more than 100000 days")


class TestRowsOfOneDate:
    """The first row of a date that has a value gives it, a NaN included: the store and the
    timeline keep the same value."""

    @pytest.mark.parametrize("first,second,want", [("NaN", "150", math.nan), ("", "150", 150.0),
                                                   ("120", "150", 120.0)])
    def test_sunindex_and_daily_agree(self, write_file, first, second, want):
        path = write_file(csv_text(csv_row("2020-01-01", obs=first), csv_row("2020-01-01", obs=second)))
        stored = Sunindex.from_celestrak_csv(path).get(DAY1)["f10_7_obs"]
        daily = SpaceWeather.load(csv=path).daily(np.datetime64("2020-01-01T12:00"))["f107_obs"]
        assert stored == pytest.approx(want, nan_ok=True) and daily == pytest.approx(want, nan_ok=True)

    # The columns that only the timeline keeps: the first row gives NaN to the first column and
    # nothing to the second (an empty field, or a SOLFSMY line that ends before Y81c).
    EXTRAS_HEADER = HEADER + ",ISN,F10.7_OBS_CENTER81,KP_SUM"

    @pytest.mark.parametrize("kind,content,want", [
        pytest.param("csv", lines(EXTRAS_HEADER, csv_row("2020-01-01") + ",NaN,NaN,", csv_row("2020-01-01") + ",80,150,12"),
                     {"isn": math.nan, "f107_obs_center81": math.nan, "kp_sum": 12.0}, id="csv"),
        pytest.param("solfsmy", lines(solfsmy_line(2020, 1).replace("  69.1", "   NaN")[:64],
                                      solfsmy_line(2020, 1).replace("  60.4", "  61.0")),
                     {"s81c": math.nan, "y81c": 61.0, "m81c": 69.8}, id="solfsmy"),
    ])
    def test_extras_first_row_wins(self, write_file, kind, content, want):
        daily = SpaceWeather.load(**{kind: write_file(content)}).daily(np.datetime64("2020-01-01T12:00"))
        assert {key: daily[key] for key in want} == pytest.approx(want, nan_ok=True)
