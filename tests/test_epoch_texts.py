"""ISO 8601 epoch text: read natively exactly as datetime.fromisoformat reads it, but
with the seconds' fraction kept to the nanosecond; refused where datetime refuses it."""

import datetime as dt
import re

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

from sunindex_tools import _native
from sunindex_tools._epochs import to_ticks

UTC_EPOCH = dt.datetime(1970, 1, 1, tzinfo=dt.timezone.utc)
INT64 = np.iinfo(np.int64)
NOT_ISO = "not an ISO 8601 epoch: {!r}"
TOO_MANY_DIGITS = "epoch {!r}: more digits after the second than nanoseconds hold"
BEYOND_NANOSECONDS = "epoch {!r} out of the range of datetime64[ns]"


def read(text):
    """(ticks, unit) of one text, or the message it is refused with."""
    try:
        ticks, unit = _native.parse_epochs(text)
    except ValueError as error:
        return str(error)
    assert ticks.shape == (1,)
    return int(ticks[0]), unit


def datetime_microseconds(text):
    """The UTC microseconds datetime reads from `text` (naive taken as UTC), or None if it refuses it."""
    try:
        moment = dt.datetime.fromisoformat(text)
    except ValueError:
        return None
    if moment.tzinfo is None:
        moment = moment.replace(tzinfo=dt.timezone.utc)
    return (moment - UTC_EPOCH) // dt.timedelta(microseconds=1)


def two(top):
    return st.integers(0, top).map("{:02}".format)


@st.composite
def epoch_texts(draw):
    """A text in one of the forms datetime reads, its fields often out of range, and its seconds' fraction."""
    year = draw(st.integers(0, 9999).map("{:04}".format))
    month, day, week, weekday = draw(two(13)), draw(two(32)), draw(two(54)), str(draw(st.integers(0, 8)))
    date = draw(st.sampled_from([f"{year}-{month}-{day}", f"{year}{month}{day}", f"{year}-W{week}-{weekday}",
                                 f"{year}W{week}{weekday}", f"{year}-W{week}", f"{year}W{week}"]))
    if draw(st.integers(0, 5)) == 0:
        return date, ""
    hour, minute, second = draw(two(25)), draw(two(61)), draw(two(61))
    clock = draw(st.sampled_from([hour, f"{hour}:{minute}", f"{hour}{minute}", f"{hour}:{minute}:{second}",
                                  f"{hour}{minute}{second}"]))
    fraction = draw(st.sampled_from(["", draw(st.text("0123456789", min_size=1, max_size=11))]))
    if fraction:  # datetime reads one after any field, and straight after hhmmss
        clock += draw(st.sampled_from([".", ","] + ([""] if len(clock) == 6 else []))) + fraction
    sign = draw(st.sampled_from("+-"))
    offset_clock = draw(st.sampled_from([draw(two(99)), f"{draw(two(24))}:{draw(two(99))}", f"{draw(two(23))}30",
                                         f"{draw(two(23))}:{draw(two(59))}:{draw(two(59))}.{draw(two(99))}"]))
    offset = draw(st.sampled_from(["", "Z", sign + offset_clock]))
    separator = draw(st.sampled_from(["T", " ", "t", "5", "-", "é", "\ud800", "\u3000"]))
    return date + separator + clock + offset, fraction


def expected(text, fraction):
    """What the text reads as: datetime's instant, with the fraction's digits past the microsecond added."""
    microseconds = datetime_microseconds(text)
    if microseconds is None:
        return None
    if len(fraction) > 9:
        return TOO_MANY_DIGITS.format(text)
    if len(fraction) <= 6:
        return microseconds, "us"
    nanoseconds = microseconds * 1000 + int(fraction[6:].ljust(3, "0"))
    return (nanoseconds, "ns") if INT64.min < nanoseconds <= INT64.max else BEYOND_NANOSECONDS.format(text)


class TestAgainstDatetime:
    @settings(max_examples=1000, deadline=None)
    @given(epoch_texts())
    def test_the_forms_datetime_reads(self, case):
        text, fraction = case
        want, got = expected(text, fraction), read(text)
        if want is None:  # refused: as no epoch, or for its digits, which are counted first
            assert got in (NOT_ISO.format(text), TOO_MANY_DIGITS.format(text))
        else:
            assert got == want

    @settings(max_examples=1000, deadline=None)
    @given(epoch_texts(), st.lists(st.tuples(st.sampled_from(["insert", "replace", "delete"]), st.integers(0, 40),
                                             st.sampled_from("0123456789-:+Z.,TW \x00２é\ud800")),
                                   min_size=1, max_size=3))
    def test_mutated_texts(self, case, mutations):
        text = case[0]
        for kind, position, character in mutations:
            at = position % (len(text) + 1)
            text = text[:at] + (character if kind != "delete" else "") + text[at + (kind != "insert"):]
        want, got = datetime_microseconds(text), read(text)
        if want is None:
            assert isinstance(got, str)
        elif isinstance(got, str):  # datetime cuts what this keeps
            assert got == TOO_MANY_DIGITS.format(text) and re.search(r"\d{10}", text) \
                or got == BEYOND_NANOSECONDS.format(text) and re.search(r"\d{7}", text)
        else:
            ticks, unit = got
            assert (ticks // 1000 if unit == "ns" else ticks) == want


class TestEdges:
    @pytest.mark.parametrize("text,instant", [
        ("2020-02-29", "2020-02-29"), ("2000-02-29T23:59:59.999999999", "2000-02-29T23:59:59.999999999"),
        ("0001-01-01T00:00+01:00", "0000-12-31T23:00"),  # UTC before datetime's first year
        ("9999-12-31T23:59:59-23:59:59.999999", "10000-01-01T23:59:58.999999"),
        ("2020-W53-7", "2021-01-03"), ("2026W537", "2027-01-03"), ("2021-W52", "2021-12-27"), ("0001-W01-1", "0001-01-01"),
        ("2020-01-06T12:00+05:99", "2020-01-06T05:21"),  # datetime does not bound an offset's fields
        ("2020-01-06T12:34:56:78", "2020-01-06T12:34:56.78"), ("2020-01-06T12.5", "2020-01-06T12:00:00.5"),
        ("2020-01-06T12:00:00.1+05:00:00.1234567", "2020-01-06T06:59:59.976544"),  # an offset's to the microsecond
        ("20200106T2359599999999", "2020-01-06T23:59:59.9999999"),
        ("2020-01-06é12:00", "2020-01-06T12:00"), ("2020-01-06\ud80012:00", "2020-01-06T12:00"),
        ("2020-01-06T12Z\x00junk", "2020-01-06T12:00"),  # datetime stops at the NUL after 'Z'
    ])
    def test_read(self, text, instant):
        want = np.datetime64(instant, "ns" if re.search(r"\.\d{7}", instant) else "us")
        ticks, unit = read(text)
        assert np.datetime64(ticks, unit) == want and unit == np.datetime_data(want.dtype)[0]

    def test_nat(self):
        assert read("NaT") == (INT64.min, "us")

    @pytest.mark.parametrize("text", [
        "", "NaT ", "nat", "2020-01-06\n", "2020-01-06T", "2020-01-06T24:00", "2020-12-31T24:00:00Z", "2021-02-29",
        "1900-02-29", "0000-01-01", "2020-W54-1", "2021-W53-1", "2020-W01-8", "9999-W52-6", "2020-01-06T12+24:00",
        "2020-01-06T12:00:00Zjunk", "2020-01-06T12:00:00 ", "2020-01-06T12:00:00.", "2020-01-06T12:00:00.5\x00",
        "２０２０-01-06", "2020-01-0６", "2020-01-06T1２:00", "2020-01-06T12:00:00.５", "2020-01-06T12:00+0５:00",
        "2020-W01-1Z", "2020-01-06T12:00Z+01:00", "20200106T1200005",
    ])
    def test_refused(self, text):
        assert read(text) == NOT_ISO.format(text)

    @pytest.mark.parametrize("text,message,held", [
        ("2020-01-06T12:00:00.1234567890", TOO_MANY_DIGITS, "2020-01-06T12:00:00.123456789"),
        ("2020-01-06T1200001234567891Z", TOO_MANY_DIGITS, "2020-01-06T120000123456789Z"),
        ("1677-09-21T00:12:43.145224192", BEYOND_NANOSECONDS, "1677-09-21T00:12:43.145224193"),  # NaT's tick
        ("2262-04-11T23:47:16.854775808", BEYOND_NANOSECONDS, "2262-04-11T23:47:16.854775807"),
        ("2262-04-11T18:47:16.854775808-05:00", BEYOND_NANOSECONDS, "2262-04-11T18:47:16.854775807-05:00"),
    ])
    def test_refused_for_its_digits(self, text, message, held):
        assert read(text) == message.format(text)
        assert read(held)[1] == "ns"


class TestContainers:
    TEXTS = ["2020-01-06T03:00", "NaT", "2020-01-06T02:59:59.999999999Z"]

    @pytest.mark.parametrize("make", [list, tuple, np.array, lambda t: np.array(t, dtype=object),
                                      lambda t: np.array(t, dtype=">U30"), lambda t: np.repeat(t, 2)[::2]])
    def test_every_container_of_text(self, make):
        ticks = to_ticks(make(self.TEXTS))
        assert ticks.unit == "ns" and ticks.shape == (3,)
        assert list(ticks.ticks) == [1578279600 * 10**9, INT64.min, 1578279600 * 10**9 - 1]

    @pytest.mark.parametrize("dtype", [object, str])
    def test_shape_of_an_array_is_kept(self, dtype):
        assert to_ticks(np.array([self.TEXTS[:2], self.TEXTS[1:]], dtype=dtype)).shape == (2, 2)

    def test_a_str_array_reads_as_its_strings(self):
        texts = ["2020-01-06é12:00", "2020-01-06\ud80012:00", "2020-01-06\U0001f60012:00", "20200106", "NaT"]
        ticks, unit = _native.parse_epochs(np.array(texts))  # item widths padded to the longest
        assert unit == "us" and list(ticks) == [read(text)[0] for text in texts]

    def test_text_among_other_epochs(self):
        ticks = to_ticks([dt.datetime(2020, 1, 6, 3), self.TEXTS[2], np.datetime64("NaT", "s")])
        assert (ticks.unit, list(ticks.ticks)) == ("ns", [1578279600 * 10**9, 1578279600 * 10**9 - 1, INT64.min])

    @pytest.mark.parametrize("items", [["2020-01-06", 5], [b"2020-01-06"], [["2020-01-06"]], {"2020-01-06"}, 5])
    def test_anything_but_text_is_left_to_the_other_epochs(self, items):
        assert _native.parse_epochs(items) is None

    @pytest.mark.parametrize("items,message", [
        (["2020-01-06", "bad"], NOT_ISO.format("bad")), (np.array(["2020-01-06", "bad"]), NOT_ISO.format("bad")),
        (np.array(["2020-01-06", ""]), NOT_ISO.format("")),
        (["1000-01-01", "2020-01-06T00:00:00.0000001"], "epoch out of the range of datetime64[ns]"),
        # the text's own fault first, though a later one
        (["2020-01-06T00:00:00.0000001", "1000-01-01", "bad"], NOT_ISO.format("bad")),
    ])
    def test_first_fault_of_a_list(self, items, message):
        with pytest.raises(ValueError) as error:
            to_ticks(items)
        assert str(error.value) == message
