"""Inputs past the daily rows from MSFC's solar-cycle prediction: the published
vectors, Orekit's values, the junction with the daily rows, percentiles and
ensembles, and the prediction file's reader."""

import datetime as dt
import json
import pickle
import random
import re
import warnings
from statistics import NormalDist

import numpy as np
import pytest

from conftest import SAMPLE_DIR
from test_hostile_epochs import same_inputs
from test_robustness import memory_growth, rss_bytes
from sunindex_tools import SpaceWeather
from sunindex_tools.cli import main
from sunindex_tools.space_weather import BUNDLED_PREDICTION, _bundled_prediction

PUBLISHED = {95: 0, 50: 1, 5: 2}  # percentile: its column among the three of a quantity


def prediction_months(text):
    """The data lines of a prediction's text: {(year, month): (F10.7 columns, Ap columns)}."""
    names = "JAN FEB MAR APR MAY JUN JUL AUG SEP OCT NOV DEC".split()
    months = {}
    for line in text.splitlines():
        fields = line.split()
        if len(fields) == 8 and re.fullmatch(r"\d{4}\.\d+", fields[0]):
            values = [float(field) for field in fields[2:]]
            months[(int(float(fields[0])), names.index(fields[1]) + 1)] = (values[:3], values[3:])
    return months


BUNDLED_TEXT = _bundled_prediction()[1].decode()
BUNDLED_MONTHS = prediction_months(BUNDLED_TEXT)


class Reference:
    """The prediction's rules computed the plain way, from the file's text and
    datetime arithmetic: an oracle for the tables."""

    def __init__(self, months):
        self.months = months
        self.keys = sorted(months)
        self.first = self.keys[0][0] * 12 + self.keys[0][1] - 1
        self.last = self.keys[-1][0] * 12 + self.keys[-1][1] - 1

    def entry(self, index):
        while index > self.last:
            index -= 132
        return self.months[divmod(index, 12)[0], index % 12 + 1]

    def value(self, quantity, column, t):
        t0 = dt.datetime(t.year, t.month, 1)
        t1 = dt.datetime(t.year + t.month // 12, t.month % 12 + 1, 1)
        index = t.year * 12 + t.month - 1
        v0, v1 = self.entry(index)[quantity][column], self.entry(index + 1)[quantity][column]
        span, into = (t1 - t0).total_seconds(), (t - t0).total_seconds()
        return v0 * (span - into) / span + v1 * into / span

    def mean81(self, column, t):
        return sum(self.value(0, column, t + dt.timedelta(days=k)) for k in range(-40, 41)) / 81


@pytest.fixture(scope="module")
def sample():
    """The shipped CSV sample (daily rows to L = 2026-09-18) with the bundled prediction."""
    return SpaceWeather.load(csv=SAMPLE_DIR / "SW-sample.csv")


class TestPublishedVectors:
    # Computed independently from the rules on SW-All.csv (L = 2026-09-18) with
    # oct2026f10-prd.txt; the shipped sample holds the same rows from 2024 on.
    VECTORS = [
        ("2026-09-18T12:00", 50, 128.6, 125.0, [5, 5, 5, 5, 5, 5, 7.625], "PRD"),
        ("2026-09-19T00:00", 50, 128.7, 121.51071286340103, [14.46, 14.46, 5, 5, 5, 5, 6.125], "MSFC"),
        ("2026-09-19T13:30", 95, 128.7, 133.4111086220629, [20.57125] * 5 + [6.94640625, 5.0], "MSFC"),
        ("2026-09-21T10:00", 5, 111.57611111111112, 111.47872029735827, [10.540277777777] * 7, "MSFC"),
        ("2030-01-15T06:00", 50, 73.90080645161291, 73.90839022586333, [11.270161290322] * 7, "MSFC"),
        ("2030-01-15T06:00", 84.13, 76.63610632726505, 76.66193200456311, [13.847617696448] * 7, "MSFC"),
        ("2041-10-01T00:00", 50, 70.00666666666667, 70.22385503783347, [8.9] * 7, "MSFC"),
        ("2045-06-01T00:00", 50, 148.6741935483871, 148.62817602548785, [14.1] * 7, "MSFC"),
        # Far below 5 %, each month is held at its floor before interpolating in time.
        ("2035-01-01T00:00", 0.001, 64.0, 64.0, [0.0] * 7, "MSFC"),
        ("2035-01-01T00:00", 0.3, 64.0, 64.0, [3.676805204712] * 7, "MSFC"),
        ("2030-01-15T06:00", 0.01, 65.92165929201337, 65.9101666300385, [0.067661249863] * 7, "MSFC"),
    ]

    @pytest.mark.parametrize("epoch, q, f107, f107a, ap, data_type", VECTORS)
    def test_vector(self, sample, epoch, q, f107, f107a, ap, data_type):
        inputs = sample.msis_inputs(epoch, forecast_percentile=q)
        assert inputs["f107"] == pytest.approx(f107, rel=1e-12)
        assert inputs["f107a"] == pytest.approx(f107a, rel=1e-12)
        # Three vectors print their non-terminating ap to 14 digits: still within 1e-12.
        assert inputs["ap"] == pytest.approx(ap, rel=1e-12)
        assert inputs["data_type"] == data_type

    @pytest.mark.parametrize("day", ["2026-09-25", "2030-01-15"])
    def test_an_instant_gives_the_same_inputs_in_every_unit(self, sample, day):
        """The fraction of the day is one rounding of the instant, whatever unit writes it."""
        epochs = np.datetime64(day, "m") + np.arange(1440).astype("m8[m]")
        want = sample.msis_inputs(epochs, forecast_percentile=30)
        for unit in ("s", "ms", "us", "ns"):
            assert same_inputs(sample.msis_inputs(epochs.astype(f"M8[{unit}]"), forecast_percentile=30), want)

    def test_vectors_in_one_call_with_the_full_file(self, full_data):
        sw = SpaceWeather.load(csv=full_data("SW-All.csv"))
        epochs = [row[0] for row in self.VECTORS]
        inputs = sw.msis_inputs(epochs, forecast_percentile=[row[1] for row in self.VECTORS])
        assert inputs["f107"] == pytest.approx([row[2] for row in self.VECTORS], rel=1e-12)
        assert inputs["f107a"] == pytest.approx([row[3] for row in self.VECTORS], rel=1e-12)
        assert list(inputs["data_type"]) == [row[5] for row in self.VECTORS]

    def test_without_a_percentile_nothing_changes(self, sample):
        epochs = np.arange("2026-09-10", "2026-09-19", np.timedelta64(90, "m"), dtype="M8[m]")
        plain, forecast = sample.msis_inputs(epochs), sample.msis_inputs(epochs, forecast_percentile=50)
        for key in ("f107", "f107a", "ap"):
            assert plain[key].tobytes() == forecast[key].tobytes()
        assert list(plain["data_type"]) == list(forecast["data_type"])
        with pytest.raises(ValueError, match="2026-09-19.*outside.*forecast_percentile gives inputs"):
            sample.msis_inputs("2026-09-19")


class TestOrekit:
    # Orekit's own tests of its MSAFE reader on Jan2011F10.txt: F at these
    # instants, which is our f107 one day later.
    VALUES = [("2010-10-01T00:00", 94.2, 87.6, 80.4), ("2010-10-16T12:00", 96.6, 88.7, 80.6),
              ("2010-11-01T00:00", 99.0, 89.8, 80.8)]

    @pytest.fixture(scope="class")
    @classmethod
    def old(cls, tmp_path_factory):
        """A CSV whose daily rows end on 2010-06-09, before the prediction starts."""
        header, row = (SAMPLE_DIR / "SW-sample.csv").read_text().splitlines()[:2]
        rows = [f"2010-06-{day:02d}{row[10:]}" for day in range(1, 10)]
        path = tmp_path_factory.mktemp("orekit") / "SW.csv"
        path.write_text("\n".join([header, *rows]) + "\n")
        return path

    def test_f107_one_day_later(self, old, full_data):
        sw = SpaceWeather.load(csv=old, msfc=full_data("msfc/Jan2011F10.txt"))
        epochs = np.array([value[0] for value in self.VALUES], dtype="M8[m]") + np.timedelta64(1, "D")
        f107 = sw.msis_inputs(epochs, forecast_percentile=[[95], [50], [5]])["f107"]
        assert f107 == pytest.approx(np.array([value[1:] for value in self.VALUES]).T, rel=1e-10)

    def test_an_epoch_before_the_prediction(self, old, full_data):
        path = full_data("msfc/Jan2011F10.txt")
        sw = SpaceWeather.load(csv=old, msfc=path)
        # The centred mean of 2010-08-09 would need 2010-06-30.
        with pytest.raises(ValueError, match=rf"epoch 2010-08-09T23:00.* has no 81-day mean .* {path} starts "
                                             "2010-07-01, so the mean of a day before 2010-08-10 cannot be had"):
            sw.msis_inputs(["2010-08-10", "2010-08-09T23:00"], forecast_percentile=50)
        assert sw.msis_inputs("2010-08-10", forecast_percentile=50)["data_type"] == "MSFC"
        with pytest.raises(ValueError, match="epoch 2010-06-30.* before its first month"):
            sw.forecast("2010-06-30T23:59")


class TestTheMeansFirstDays:
    def test_an_epoch_inside_the_first_month(self, tmp_path):
        """Daily rows ending 2026-05-01, the bundled prediction starting 2026-04-01: the
        next day lies in a month the prediction covers, but its mean would need March."""
        header, row = (SAMPLE_DIR / "SW-sample.csv").read_text().splitlines()[:2]
        path = tmp_path / "SW.csv"
        path.write_text("\n".join([header, *(f"{day}{row[10:]}" for day in ("2026-04-30", "2026-05-01"))]) + "\n")
        sw = SpaceWeather.load(csv=path)
        with pytest.raises(ValueError, match=r"^epoch 2026-05-02\S* has no 81-day mean of F10.7: the mean takes the 40 "
                                             rf"days before it from the solar-cycle prediction, and \S*{BUNDLED_PREDICTION}"
                                             " starts 2026-04-01, so the mean of a day before 2026-05-11 cannot be had$"):
            sw.msis_inputs("2026-05-02", forecast_percentile=50)
        assert sw.msis_inputs("2026-05-11", forecast_percentile=50)["data_type"] == "MSFC"


class TestJunction:
    """L = 2026-09-18 is the sample's last daily row."""

    def test_the_day_after_L(self, sample):
        inputs = sample.msis_inputs("2026-09-19T21:00", forecast_percentile=95)
        row = next(line for line in (SAMPLE_DIR / "SW-sample.csv").read_text().splitlines()
                   if line.startswith("2026-09-18"))
        csv_ap = [float(value) for value in row.split(",")[12:20]]
        assert inputs["f107"] == float(row.split(",")[24])  # L's own flux
        a = inputs["ap"][0]
        # Slot 7 of L+1: ap[1..4] are slots 7..4 of the day, all forecast; ap[5]
        # is slots 3..0 of L+1 and 7..4 of L; ap[6] slots 3..0 and 7..4 of L.
        assert list(inputs["ap"][1:5]) == [a] * 4
        assert inputs["ap"][5] == pytest.approx((4 * a + sum(csv_ap[4:])) / 8, rel=1e-15)
        assert inputs["ap"][6] == pytest.approx(sum(csv_ap) / 8, rel=1e-15)

    def test_a_gap_in_the_daily_rows_stays_nan(self, write_file):
        lines = (SAMPLE_DIR / "SW-sample.csv").read_text().splitlines()
        sw = SpaceWeather.load(csv=write_file("".join(f"{line}\n" for line in lines if not line.startswith("2026-09-10"))))
        inputs = sw.msis_inputs("2026-09-10T12:00", forecast_percentile=50)
        assert np.isnan(inputs["f107a"]) and np.isnan(inputs["ap"][0]) and inputs["data_type"] != "MSFC"

    def test_the_burst_limit_applies_to_the_daily_flux_of_L(self, write_file):
        lines = (SAMPLE_DIR / "SW-sample.csv").read_text().splitlines()
        row = next(i for i, line in enumerate(lines) if line.startswith("2026-09-18"))
        fields = lines[row].split(",")
        fields[24] = "999.0"
        lines[row] = ",".join(fields)
        sw = SpaceWeather.load(csv=write_file("\n".join(lines) + "\n"))
        assert sw.msis_inputs("2026-09-19", forecast_percentile=50)["f107"] == 999.0
        limited = sw.msis_inputs("2026-09-19", forecast_percentile=50, burst_limit=400)["f107"]
        assert limited == float(fields[27])


class TestPrediction:
    @pytest.mark.parametrize("q", PUBLISHED)
    @pytest.mark.parametrize("month", [(2027, 2), (2030, 3), (2041, 10)])
    def test_published_columns_exactly_on_month_boundaries(self, sample, q, month):
        flux, ap = BUNDLED_MONTHS[month]
        start = dt.datetime(*month, 1)
        values = sample.forecast(start, q)
        assert (values["f107"], values["ap"]) == (flux[PUBLISHED[q]], ap[PUBLISHED[q]])
        inputs = sample.msis_inputs(start + dt.timedelta(days=1), forecast_percentile=q)
        assert inputs["f107"] == flux[PUBLISHED[q]]

    def test_a_percentile_between_the_columns(self, sample):
        epochs = ["2028-03-01", "2029-07-17T05:00"]
        low, mid, high = (sample.forecast(epochs, q)["f107"] for q in (50, 84.13, 95))
        # z(0.8413) / z(0.95) of the way up at every epoch; the standard
        # library's quantile is the reference.
        z = NormalDist().inv_cdf
        assert (mid - low) / (high - low) == pytest.approx([z(0.8413) / z(0.95)] * 2, rel=1e-12)
        low_side, below = (sample.forecast(epochs, q)["f107"] for q in (5, 2))  # above the floor
        assert (below - low) / (low_side - low) == pytest.approx([z(0.02) / z(0.05)] * 2, rel=1e-12)

    def test_the_smallest_percentiles_stay_finite(self, sample):
        """Below about 5e-322, q / 100 underflows to zero: its quantile must not become -inf or NaN."""
        values = [sample.forecast("2030-01-01", q)["f107"] for q in (1e-300, 4e-322, 1e-323, 5e-324)]
        assert np.isfinite(values).all() and values == sorted(values, reverse=True)

    def test_repeats_the_last_132_months(self, sample):
        # Windows that meet no February, so that the months have the same lengths.
        later = np.array(["2060-07-10T05:00", "2150-08-20T23:00"], dtype="M8[m]")
        earlier = np.array(["2049-07-10T05:00", "2051-08-20T23:00"], dtype="M8[m]")
        for q in (95, 62.5):
            a = sample.msis_inputs(later, forecast_percentile=q)
            b = sample.msis_inputs(earlier, forecast_percentile=q)
            for key in ("f107", "f107a", "ap"):
                assert a[key] == pytest.approx(b[key], rel=1e-13)

    def test_agrees_with_the_rules_computed_the_plain_way(self, sample):
        reference = Reference(BUNDLED_MONTHS)
        rng = random.Random(17)
        start = dt.datetime(2026, 9, 19)
        # Inside the table, across its end (2096), and far past it.
        epochs = [start + dt.timedelta(minutes=rng.randrange(0, 200 * 525_600)) for _ in range(40)]
        epochs += [dt.datetime(2096, 10, 1) + dt.timedelta(hours=h) for h in range(-1000, 1000, 97)]
        for q, column in PUBLISHED.items():
            inputs = sample.msis_inputs(epochs, forecast_percentile=q)
            assert inputs["f107"] == pytest.approx(
                [reference.value(0, column, t - dt.timedelta(days=1)) for t in epochs], rel=1e-12)
            assert inputs["f107a"] == pytest.approx([reference.mean81(column, t) for t in epochs], rel=1e-12)
            assert inputs["ap"][:, 0] == pytest.approx([reference.value(1, column, t) for t in epochs], rel=1e-12)

    def test_sources_and_pickle(self, sample):
        source = sample.sources["msfc"]
        assert source.path.name == BUNDLED_PREDICTION
        assert (source.first, source.last) == (dt.date(2026, 4, 1), dt.date(2041, 10, 1))
        copy = pickle.loads(pickle.dumps(sample))
        assert copy.sources["msfc"] == source
        assert copy.forecast("2030-01-01", 90) == sample.forecast("2030-01-01", 90)

    @pytest.mark.parametrize("q", [0, 100, -5, 150, float("nan"), float("inf"), [50, 100]])
    def test_percentiles_outside_0_to_100(self, sample, q):
        with pytest.raises(ValueError, match="strictly between 0 and 100"):
            sample.msis_inputs("2030-01-01", forecast_percentile=q)

    def test_past_the_year_9999(self, sample):
        with pytest.raises(ValueError, match="past 9999-12-31"):
            sample.msis_inputs(np.datetime64(2**62, "D"), forecast_percentile=50)


class TestEnsembles:
    EPOCHS = np.arange("2026-09-12", "2027-03-01", np.timedelta64(7, "h"), dtype="M8[h]")

    def test_members_drawn_below_5_percent_stay_physical_and_ordered(self, sample):
        epochs = np.arange("2026-09-15", "2045-01-01", np.timedelta64(997, "h"), dtype="M8[h]")
        q = np.sort(np.random.default_rng(3).uniform(0, 100, 400))[:, None]
        inputs, alone = sample.msis_inputs(epochs, forecast_percentile=q), sample.forecast(epochs, q)
        for flux in (inputs["f107"], inputs["f107a"], alone["f107"]):
            assert (flux >= 64).all() and (np.diff(flux, axis=0) >= -1e-9).all()
        for ap in (inputs["ap"], alone["ap"]):
            assert (ap >= 0).all() and (np.diff(ap, axis=0) >= -1e-9).all()

    def test_members_by_broadcasting(self, sample):
        q = np.array([[5], [37.5], [50], [99.9]])
        inputs = sample.msis_inputs(self.EPOCHS, forecast_percentile=q)
        n = len(self.EPOCHS)
        assert inputs["f107"].shape == inputs["f107a"].shape == inputs["data_type"].shape == (4, n)
        assert inputs["ap"].shape == (4, n, 7)
        for member, percentile in enumerate(q[:, 0]):
            one = sample.msis_inputs(self.EPOCHS, forecast_percentile=percentile)
            for key in ("f107", "f107a", "ap"):
                assert inputs[key][member].tobytes() == one[key].tobytes()
            assert list(inputs["data_type"][member]) == list(one["data_type"])

    def test_paired_percentiles_agree_with_calls_per_epoch(self, sample):
        rng = np.random.default_rng(5)
        q = rng.uniform(0, 100, len(self.EPOCHS))
        inputs = sample.msis_inputs(self.EPOCHS, forecast_percentile=q)
        assert inputs["ap"].shape == (len(self.EPOCHS), 7)
        for i in rng.choice(len(self.EPOCHS), 20):
            one = sample.msis_inputs(self.EPOCHS[i], forecast_percentile=q[i])
            assert (one["f107"], one["f107a"], list(one["ap"])) == (
                inputs["f107"][i], inputs["f107a"][i], list(inputs["ap"][i]))

    def test_other_shapes(self, sample):
        grid = self.EPOCHS[:6].reshape(2, 3)
        assert sample.msis_inputs(grid, forecast_percentile=[[[10]], [[90]]])["ap"].shape == (2, 2, 3, 7)
        assert sample.forecast(self.EPOCHS[0], [10, 20])["f107"].shape == (2,)
        assert sample.msis_inputs(self.EPOCHS[:3, None], forecast_percentile=[10, 20])["f107"].shape == (3, 2)
        nat = sample.msis_inputs([self.EPOCHS[-1], np.datetime64("NaT", "h")], forecast_percentile=[[1], [2]])
        assert np.isnan(nat["f107"][:, 1]).all() and list(nat["data_type"][:, 1]) == ["", ""]
        with pytest.raises(ValueError, match="broadcast"):
            sample.msis_inputs(self.EPOCHS[:3], forecast_percentile=[1, 2])


class TestLeaks:
    def test_thousands_of_calls_keep_nothing(self, sample):
        epochs = np.array(["2026-09-18T10:00", "2030-01-01T00:00"], dtype="M8[m]")

        def call():
            sample.msis_inputs(epochs, forecast_percentile=[[5], [95.5]])
            sample.forecast(epochs, [1.5, 2.5])
            for bad_epoch, bad_q in (("2030-01-01", 100), ("2023-01-01", 50), ("2030-01-01", [50, 0])):
                with pytest.raises(ValueError):
                    sample.msis_inputs(bad_epoch, forecast_percentile=bad_q)

        traced, rss = memory_growth(call, 1000)
        assert traced < 10_000 and rss < 1_000_000


class TestJb2008:
    def test_its_error_says_it_has_no_long_term_forecast(self):
        sw = SpaceWeather.load(solfsmy=SAMPLE_DIR / "SOLFSMY-sample.TXT", dtcfile=SAMPLE_DIR / "DTCFILE-sample.TXT")
        with pytest.raises(ValueError, match="JB2008 has no long-term forecast of S10, M10 and Y10"):
            sw.jb2008_inputs("2030-01-01")


def replaced(line_number, new_line):
    """The bundled prediction with line `line_number` (from 1) replaced."""
    lines = BUNDLED_TEXT.splitlines()
    lines[line_number - 1] = new_line
    return "\n".join(lines) + "\n"


class TestReader:
    FIRST_DATA_LINE = 8  # " 2026.2503   APR   137.7 ..."

    @pytest.mark.parametrize("content, line, message", [
        (replaced(9, " 2026.4170   JUN   138.9     130.1     122.0      16.4      13.7      11.3"), 9,
         "2026 JUN does not follow 2026 APR"),
        (replaced(9, " 2026.3337   MAY   138.7     132.1     1272      15.1      13.4      12.0".replace("1272", "12.7.2")),
         9, "bad number in F10.7 5%"),
        (replaced(9, " 2026.3337   MAY   138.7     132.1     127.2      15.1      13.4      -1"), 9, "bad number in Ap 5%"),
        (replaced(9, " 2026.3337   MAY   138.7     132.1     127.2      15.1      13.4"), 9, "expected 8 fields"),
        (replaced(9, " 2026.3337   May   138.7     132.1     127.2      15.1      13.4      12.0"), 9, "bad month name"),
        (replaced(9, " 2026.5003   MAY   138.7     132.1     127.2      15.1      13.4      12.0"), 9,
         "decimal year 2026.5003 is not in MAY"),
        (replaced(9, " 2026.3337   MAY   138.7     132.1     nan      15.1      13.4      12.0"), 9, "bad number"),
        (replaced(30, "  notes follow"), 30, "not a data line"),
        ("\n".join(BUNDLED_TEXT.splitlines()[:7]) + "\n", 7, "no data line"),
        ("", 0, "no data line"),
        ("\n".join(BUNDLED_TEXT.splitlines()[:100]) + "\n", 100, "the prediction holds 93 months"),
        (replaced(9, " 2026.3337   MAY   127.2     132.1     138.7      15.1      13.4      12.0"), 9,
         "F10.7 at 95, 50 and 5 % is not in decreasing order"),
        (replaced(9, " 2026.3337   MAY   138.7     132.1     127.2      12.0      13.4      15.1"), 9,
         "Ap at 95, 50 and 5 % is not in decreasing order"),
        (replaced(9, " 2026.3337   MAY   1e308     132.1     127.2      15.1      13.4      12.0"), 9,
         "F10.7 95% is 1e308, above any solar index"),
        (replaced(8, " 10000.2503   APR   137.7     133.9     131.3      13.9      13.1      12.1"), 8,
         "year outside 1-9999"),
        (replaced(8, " 0.2503   APR   137.7     133.9     131.3      13.9      13.1      12.1"), 8, "year outside 1-9999"),
        (b"\xed\xa0\x80 2026.2503", 1, "invalid utf-8"),
        (replaced(9, " 2026.3337   MAY   13\xe9.7").encode("latin-1"), 9, "invalid utf-8"),
    ])
    def test_malformed(self, write_file, content, line, message):
        path = write_file(content, "prediction.txt")
        with pytest.raises(ValueError, match=rf"^{re.escape(path)}: parse error at row {line}: {message}"):
            SpaceWeather.load(csv=SAMPLE_DIR / "SW-sample.csv", msfc=path)

    @pytest.mark.filterwarnings("ignore:the solar-cycle prediction .* starts 0001-01")
    def test_a_prediction_to_the_year_9999(self, write_file):
        """Its day table stops where epochs stop, and is bounded: this span once asked for 340 MB."""
        names = "JAN FEB MAR APR MAY JUN JUL AUG SEP OCT NOV DEC".split()
        lines = [f" {year + (month + 0.5) / 12:.4f} {names[month]} 150 120 90 20 12 6"
                 for year in range(1, 10_000) for month in range(12)]
        sw = SpaceWeather.load(csv=SAMPLE_DIR / "SW-sample.csv", msfc=write_file("\n".join(lines) + "\n"))
        before = rss_bytes()
        inputs = sw.msis_inputs(["9999-12-31T23:00", "5000-06-01"], forecast_percentile=50)
        assert inputs["f107"] == pytest.approx([120] * 2) and list(inputs["data_type"]) == ["MSFC"] * 2
        assert sw.forecast(["0002-01-01", "9999-12-31"], 5)["ap"] == pytest.approx([6, 6])
        assert rss_bytes() - before < 100_000_000

    def test_header_variants_crlf_and_trailing_blanks(self, write_file, sample):
        lines = BUNDLED_TEXT.splitlines()
        variant = ["TABLE 3: ESTIMATES OF 13-MONTH SMOOTHED SOLAR ACTIVITY", "", "  95.0%  50%  5.0%   "]
        variant += [line + " \t " for line in lines[self.FIRST_DATA_LINE - 1:]] + ["", "   "]
        sw = SpaceWeather.load(csv=SAMPLE_DIR / "SW-sample.csv", msfc=write_file("\r\n".join(variant)))
        epochs = ["2027-01-01", "2031-05-05T05:05", "2050-01-01"]
        ours, shipped = sw.forecast(epochs, [[5], [70]]), sample.forecast(epochs, [[5], [70]])
        assert all(ours[key].tobytes() == shipped[key].tobytes() for key in ("f107", "ap"))


class TestCommandLine:
    def test_msis_with_a_percentile_and_info_names_the_prediction(self, tmp_path, capsys):
        folder = tmp_path / "data"
        folder.mkdir()
        for sample_name, name in [("SW-sample.csv", "SW-All.csv"), ("SOLFSMY-sample.TXT", "SOLFSMY.TXT"),
                                  ("DTCFILE-sample.TXT", "DTCFILE.TXT")]:
            (folder / name).write_bytes((SAMPLE_DIR / sample_name).read_bytes())
        prediction = tmp_path / "other.txt"
        prediction.write_text(BUNDLED_TEXT)
        common = ["--data-dir", str(folder), "--offline"]
        assert main(["msis", "2030-01-15T06:00", "--forecast-percentile", "84.13", "--json", *common]) == 0
        row = json.loads(capsys.readouterr().out)[0]
        assert row["data_type"] == "MSFC" and row["f107"] == pytest.approx(76.63610632726505, rel=1e-12)
        assert main(["msis", "2030-01-15T06:00", *common]) == 1
        assert "--forecast-percentile gives inputs" in capsys.readouterr().err
        assert main(["info", "--msfc", str(prediction), *common]) == 0
        assert f"msfc     {prediction} 2026-04 to 2041-10" in capsys.readouterr().out
        assert main(["info", *common]) == 0
        assert f"{BUNDLED_PREDICTION} (shipped) 2026-04 to 2041-10" in capsys.readouterr().out


class TestAStalePrediction:
    @staticmethod
    def shifted(tmp_path, years):
        """The shipped prediction with each month `years` earlier."""
        lines = []
        for line in BUNDLED_TEXT.splitlines():
            fields = line.split()
            if len(fields) == 8 and re.fullmatch(r"\d{4}\.\d+", fields[0]):
                line = line.replace(fields[0], f"{int(fields[0][:4]) - years}{fields[0][4:]}", 1)
            lines.append(line)
        path = tmp_path / f"prediction-{years}.txt"
        path.write_text("\n".join(lines) + "\n")
        return path

    @pytest.mark.parametrize("years, csv, warned", [
        (0, True, False),  # 2026-04, with daily rows to 2026-09-18
        (1, True, True),  # 2025-04: more than a year before them
        (16, True, True),
        (16, False, False),  # no daily rows to be older than
    ])
    def test_warns_once_per_object_when_first_used(self, tmp_path, years, csv, warned):
        files = {"csv": SAMPLE_DIR / "SW-sample.csv"} if csv else {"solfsmy": SAMPLE_DIR / "SOLFSMY-sample.TXT"}
        prediction = self.shifted(tmp_path, years)
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            sw = SpaceWeather.load(**files, msfc=prediction)
            assert not caught  # loading uses no prediction
            for _ in range(2):
                sw.forecast("2030-01-01")
                if csv:
                    sw.msis_inputs(["2030-01-01"], forecast_percentile=[[5], [95]])
            pickle.loads(pickle.dumps(sw)).forecast("2030-01-01")  # another object: its own warning
        messages = [str(warning.message) for warning in caught]
        assert len(messages) == 2 * warned and all(message == messages[0] for message in messages)
        if warned:
            assert all(warning.filename == __file__ for warning in caught)  # blamed on the caller
            assert messages[0].startswith(f"the solar-cycle prediction {prediction} starts {2026 - years}-04, more "
                                          "than a year before the daily rows end (2026-09-18)")
            assert sw.coverage["msis"][1] == dt.date(2026, 9, 18)

    def test_the_command_line_shows_it_as_one_warning_line(self, tmp_path, capsys):
        argv = ["msis", "2030-01-01", "2030-01-03", "--step", "1d", "--forecast-percentile", "50",
                "--file", str(SAMPLE_DIR / "SW-sample.csv"), "--msfc", str(self.shifted(tmp_path, 15))]
        assert main(argv) == 0
        err = capsys.readouterr().err
        assert err.startswith("sunindex: warning: the solar-cycle prediction ") and err.count("\n") == 1
