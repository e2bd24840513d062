import datetime
import threading
from datetime import date

import pytest

from sunindex import Sunindex

D = date(2024, 1, 1)
EVERYTHING = (date(1, 1, 1), date(9999, 12, 31))


def snapshot(o):
    return o.len(), o.date_range(), o.get_range(*EVERYTHING)


class Probe:
    """A date whose `year` getter runs `action` while the method that reads it holds its borrow."""

    def __init__(self, action, value=D):
        self.action, self.value, self.result, self.error = action, value, None, None

    @property
    def year(self):
        try:
            self.result = self.action()
        except Exception as e:  # recorded, so that the outer call still completes
            self.error = e
        return self.value.year

    month = property(lambda self: self.value.month)
    day = property(lambda self: self.value.day)


def assert_refused(probe, message="Already borrowed"):
    assert type(probe.error) is RuntimeError and str(probe.error) == message


class TestSelfMerge:
    def test_refused_and_unchanged(self, obj, other):
        before = snapshot(obj)
        with pytest.raises(RuntimeError) as e:
            obj.merge(obj)
        assert str(e.value) == "Already borrowed"
        assert snapshot(obj) == before
        # The refused call released its borrow: the object still takes part in a merge.
        obj.merge(other)
        assert other.len() == 0 and obj.len() >= before[0]


class TestMergeDuringSharedBorrow:
    @pytest.mark.parametrize("query", [
        lambda o, p: o.get(p),
        lambda o, p: o.get_range(p, date(2024, 1, 3)),
        lambda o, p: o.get_range(date(2024, 1, 1), p),
    ])
    def test_receiver_borrowed(self, obj, other, query):
        before, other_before = snapshot(obj), snapshot(other)
        probe = Probe(lambda: obj.merge(other))
        result = query(obj, probe)
        assert_refused(probe)
        assert result is not None and result != []
        assert snapshot(obj) == before and snapshot(other) == other_before
        obj.merge(other)  # every borrow was released
        assert other.len() == 0

    def test_argument_borrowed(self, obj, other, sample_path):
        before, other_before = snapshot(obj), snapshot(other)
        probe = Probe(lambda: other.merge(obj))
        assert obj.get(probe)["date"] == D
        assert_refused(probe)
        assert snapshot(obj) == before and snapshot(other) == other_before
        # The receiver's exclusive borrow taken before the refusal was given back.
        third = Sunindex.from_set_dtcfile(sample_path("DTCFILE-sample.TXT"))
        other.merge(third)
        assert third.len() == 0

    def test_merge_from_another_thread(self, obj, other):
        before = snapshot(obj)

        def merge_in_thread():
            refusals = []

            def work():
                try:
                    obj.merge(other)
                except RuntimeError as e:
                    refusals.append(str(e))

            worker = threading.Thread(target=work)
            worker.start()
            worker.join()
            return refusals

        probe = Probe(merge_in_thread)
        assert obj.get(probe)["date"] == D
        assert probe.error is None and probe.result == ["Already borrowed"]
        assert snapshot(obj) == before

    def test_merge_from_replaced_date_constructor(self, obj, other, monkeypatch):
        before, real_date, seen = snapshot(obj), datetime.date, []

        def date_factory(*args):
            try:
                obj.merge(other)
            except RuntimeError as e:
                seen.append(str(e))
            return real_date(*args)

        monkeypatch.setattr(datetime, "date", date_factory)
        assert obj.date_range() == before[1]
        monkeypatch.undo()
        assert seen == ["Already borrowed", "Already borrowed"]
        assert snapshot(obj) == before and other.len() > 0


class TestSharedBorrowsNest:
    @pytest.mark.parametrize("action, expected", [
        (lambda o: o.len(), lambda o: o.len()),
        (lambda o: len(o), lambda o: o.len()),
        (lambda o: bool(o), lambda o: True),
        (lambda o: o.get(D), lambda o: o.get(D)),
        (lambda o: o.get_range(D, date(2024, 1, 9)), lambda o: o.get_range(D, date(2024, 1, 9))),
        (lambda o: o.date_range(), lambda o: o.date_range()),
        (lambda o: o.get(Probe(lambda: o.len())).keys(), lambda o: o.get(D).keys()),
    ])
    def test_nested_query(self, obj, action, expected):
        probe = Probe(lambda: action(obj))
        assert obj.get(probe) == obj.get(D)
        assert probe.error is None
        assert probe.result == expected(obj)

    @pytest.mark.parametrize("failing", [
        lambda o: o.get(None),
        lambda o: o.get_range(D, "2024-01-02"),
        lambda o: o.get_range(D, object()),
        lambda o: o.get(Probe(lambda: None, value=type("Bad", (), {"year": 2024, "month": 300, "day": 1})())),
        lambda o: o.get(type("Bad", (), {"year": 2024, "month": 2.0, "day": 1})()),
    ])
    def test_failed_call_releases_borrow(self, obj, other, failing):
        with pytest.raises((TypeError, AttributeError, OverflowError)):
            failing(obj)
        obj.merge(other)
        assert other.len() == 0
