"""Robustness: no leaks on any path, thread safety, hostile files, and the number syntax against Python."""
import gc
import math
import os
import pickle
import queue
import re
import struct
import subprocess
import sys
import textwrap
import threading
import tracemalloc
from datetime import date, timedelta
from pathlib import Path

import pytest
from hypothesis import HealthCheck, given, settings, strategies as st

from sunindex import Sunindex

HEADER = "DATE,F10.7_OBS,F10.7_ADJ,AP_AVG," + ",".join(f"AP{i}" for i in range(1, 9)) + "," + \
    ",".join(f"KP{i}" for i in range(1, 9))
HEADER_ERROR = "invalid or missing CSV header"
D0 = date(2024, 1, 1)
ALL = (date.min, date.max)
CONSTRUCTORS = ["from_celestrak_csv", "from_set_solfsmy", "from_set_dtcfile"]
UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")


def csv_row(day, value="1.5"):
    return ",".join([day.isoformat()] + [value] * 19)


def csv_text(days, value="1.5"):
    return HEADER + "\n" + "".join(csv_row(d, value) + "\n" for d in days)


def sol_line(day, value=b"150.0"):
    doy = day.timetuple().tm_yday
    v = value.rjust(6)
    return b"%6d%4d" % (day.year, doy) + b"   2460311.0" + v * 3 + b" 149.0" + v + b" 148.0" + v + b"  1E11\n"


def dtc_line(day, hour=b"50"):
    return b"DTC %4d%5d" % (day.year, day.timetuple().tm_yday) + hour.rjust(4) * 24 + b"\n"


def days(n, start=D0):
    return [start + timedelta(i) for i in range(n)]


def everything(obj):
    return obj.get_range(*ALL)


def same_float(a, b):
    if a is None or b is None:
        return a is b
    return (math.isnan(a) and math.isnan(b)) or struct.pack("<d", a) == struct.pack("<d", b)


class DateLike:
    """A date whose attributes are read through Python code, so that threads can switch inside a borrow."""

    def __init__(self, d, on_year=None):
        self._d, self._on_year = d, on_year

    @property
    def year(self):
        if self._on_year is not None:
            self._on_year()
        return self._d.year

    month = property(lambda self: self._d.month)
    day = property(lambda self: self._d.day)


# ---------------------------------------------------------------------------
# Leaks


def rss_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def memory_growth(call, n, batches=3):
    """The smallest growth of traced Python memory and of RSS over batches of n calls, after n calls that fill
    caches and free lists. A leak grows every batch; a table that happens to resize grows only one."""
    tracemalloc.start()
    try:
        for _ in range(n):
            call()
        growth = []
        for _ in range(batches):
            gc.collect()
            traced, rss = tracemalloc.get_traced_memory()[0], rss_bytes()
            for _ in range(n):
                call()
            gc.collect()
            growth.append((tracemalloc.get_traced_memory()[0] - traced, rss_bytes() - rss))
        return min(g[0] for g in growth), min(g[1] for g in growth)
    finally:
        tracemalloc.stop()


def refcounts(*objects):
    gc.collect()  # so that no garbage cycle left by an earlier test holds a reference
    return [sys.getrefcount(o) for o in objects]


def refcount_profile(obj):
    """Reference counts of a result and of every value it contains, depth first (keys may be interned).

    Shared singletons (None, bools, small ints) are left out: before CPython 3.12 their counts
    move with whatever else the interpreter does."""
    if obj is None or isinstance(obj, bool) or (type(obj) is int and -5 <= obj <= 256):
        return []
    counts = [sys.getrefcount(obj)]
    if isinstance(obj, dict):
        for value in obj.values():
            counts += refcount_profile(value)
    elif isinstance(obj, (list, tuple)):
        for item in obj:
            counts += refcount_profile(item)
    elif type(obj).__module__ == "numpy" and obj.dtype == object:
        for item in obj.tolist():
            counts += refcount_profile(item)
    return counts


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    """Small files for every success and error path of the constructors."""
    root = tmp_path_factory.mktemp("leaks")

    def put(name, content):
        (root / name).write_bytes(content.encode() if isinstance(content, str) else content)
        return str(root / name)

    return {
        "csv": put("ok.csv", csv_text(days(20))),
        "csv_b": put("ok_b.csv", csv_text(days(20, date(2024, 1, 10)), "2.5")),
        "sol": put("ok.sol", b"# c\n" + b"".join(sol_line(d) for d in days(20))),
        "dtc": put("ok.dtc", b"".join(dtc_line(d) for d in days(20))),
        "csv_feb30": put("feb30.csv", csv_text([D0]) + csv_row(date(2023, 1, 1)).replace("2023-01-01", "2023-02-30")),
        "csv_no_kp8": put("nokp8.csv", HEADER.replace(",KP8", "") + "\n" + csv_row(D0) + "\n"),
        "csv_bad_date": put("baddate.csv", csv_text(days(5)) + csv_row(D0).replace("2024-01-01", "2024-13-01")),
        "csv_bad_utf8": put("badutf8.csv", csv_text(days(3)).encode() + b"\xed\xa0\x80"),
        "sol_short": put("short.sol", sol_line(D0)[:40] + b"\n"),
        "sol_value": put("value.sol", sol_line(D0).replace(b"150.0", b"  abc", 1)),
        "sol_doy": put("doy.sol", sol_line(date(2023, 12, 31)).replace(b" 365", b" 366", 1)),
        "sol_bad_utf8": put("badutf8.sol", b"# \xff\n" + sol_line(D0)),
        "dtc_hour": put("hour.dtc", dtc_line(D0).replace(b"  50", b" 5.0", 1)),
        "dtc_year": put("year.dtc", b"DTC  x24" + dtc_line(D0)[8:]),
        "missing": str(root / "absent.txt"),
        "dir": str(root),
    }


def build(name, path):
    return getattr(Sunindex, name)(path)


class TestNoLeaks:
    N = 1000  # calls per batch: a leak of 4 bytes a call or more fails

    def assert_no_growth(self, call):
        traced, rss = memory_growth(call, self.N)
        if traced >= 4 * 1024 or rss >= 128 * 1024:
            # Once more before failing: something else in the process (a cache that resized in
            # every batch, another test's leftovers) can grow once; a leak grows again.
            again = memory_growth(call, self.N)
            traced, rss = min(traced, again[0]), min(rss, again[1])
        assert traced < 4 * 1024, f"traced Python memory grew by {traced} bytes over {self.N} calls"
        if not UNDER_ASAN:  # ASan's quarantine keeps freed memory resident
            assert rss < 128 * 1024, f"RSS grew by {rss} bytes over {self.N} calls"

    @pytest.mark.parametrize("method, key", [(CONSTRUCTORS[0], "csv"), (CONSTRUCTORS[1], "sol"),
                                             (CONSTRUCTORS[2], "dtc")])
    def test_constructors(self, files, method, key):
        path = files[key]
        before = refcounts(path)

        def call():
            assert build(method, path).len() == 20

        self.assert_no_growth(call)
        assert refcounts(path) == before

    @pytest.mark.parametrize("query", [
        lambda o: o.get(D0), lambda o: o.get(date(1999, 1, 1)), lambda o: o.get(DateLike(D0)),
        lambda o: o.get_range(D0, D0 + timedelta(9)), lambda o: o.get_range(D0 + timedelta(9), D0),
        lambda o: o.date_range(), lambda o: o.len(), lambda o: len(o), lambda o: o.to_numpy(),
    ], ids=["get", "get_miss", "get_datelike", "get_range", "get_range_empty", "date_range", "len", "len_slot",
            "to_numpy"])
    def test_queries(self, files, query):
        pytest.importorskip("numpy")
        obj = build("from_celestrak_csv", files["csv"])
        obj.merge(build("from_set_solfsmy", files["sol"]))
        obj.merge(build("from_set_dtcfile", files["dtc"]))
        before = refcounts(obj, D0)
        self.assert_no_growth(lambda: query(obj))
        assert refcounts(obj, D0) == before
        # Every object of a result is owned by the result alone, as the same structure made by Python is.
        result = query(obj)
        made_by_python = pickle.loads(pickle.dumps(result))
        assert refcount_profile(result) == refcount_profile(made_by_python)

    def test_merge(self, files):
        def merge():
            a, b = build("from_celestrak_csv", files["csv"]), build("from_celestrak_csv", files["csv_b"])
            a.merge(b)
            assert b.len() == 0 and a.len() == 29
            return a, b

        self.assert_no_growth(merge)
        a, b = merge()
        local = object()
        assert refcounts(a) == refcounts(b) == refcounts(local)
        # Merging the same argument again and again: it stays empty and nothing is kept of it.
        before = refcounts(a, b)
        self.assert_no_growth(lambda: a.merge(b))
        assert refcounts(a, b) == before and a.len() == 29

    FILE_ERRORS = [  # (constructor, file, the start of the message)
        ("from_celestrak_csv", "missing", "No such file"),
        ("from_set_solfsmy", "missing", "No such file"),
        ("from_set_dtcfile", "dir", "Is a directory"),
        ("from_celestrak_csv", "csv_no_kp8", HEADER_ERROR),
        ("from_celestrak_csv", "csv_bad_date", "parse error at row 7: invalid date"),
        ("from_celestrak_csv", "csv_bad_utf8", HEADER_ERROR),
        ("from_set_solfsmy", "sol_short", "parse error at row 1: line too short"),
        ("from_set_solfsmy", "sol_value", "parse error at row 1: F10.7"),
        ("from_set_solfsmy", "sol_doy", "parse error at row 1: invalid day-of-year"),
        ("from_set_solfsmy", "sol_bad_utf8", "parse error at row 0: invalid utf-8"),
        ("from_set_dtcfile", "dtc_hour", "parse error at row 1: Dtc"),
        ("from_set_dtcfile", "dtc_year", "parse error at row 1: year"),
        ("from_set_dtcfile", "csv", "parse error at row 1: line too short"),
    ]

    @pytest.mark.parametrize("method, key, message", FILE_ERRORS, ids=[f"{m}-{k}" for m, k, _ in FILE_ERRORS])
    def test_constructor_errors(self, files, method, key, message):
        path = files[key]
        before = refcounts(path)

        def call():
            with pytest.raises(ValueError, match=re.escape(message)):
                build(method, path)

        self.assert_no_growth(call)
        assert refcounts(path) == before

    BAD_CALLS = [  # (name, exception, call(obj, path, date-like maker))
        ("no_args", TypeError, lambda o, p, b: Sunindex.from_celestrak_csv()),
        ("two_args", TypeError, lambda o, p, b: Sunindex.from_set_solfsmy(p, p)),
        ("bad_keyword", TypeError, lambda o, p, b: Sunindex.from_set_dtcfile(file=p)),
        ("twice", TypeError, lambda o, p, b: o.get(D0, date=D0)),
        ("bytes_path", TypeError, lambda o, p, b: Sunindex.from_celestrak_csv(p.encode())),
        ("pathlib_path", TypeError, lambda o, p, b: Sunindex.from_celestrak_csv(Path(p))),
        ("nul_path", ValueError, lambda o, p, b: Sunindex.from_celestrak_csv(p + "\0")),
        ("surrogate_path", UnicodeEncodeError, lambda o, p, b: Sunindex.from_celestrak_csv(p + "\udcff")),
        ("str_date", AttributeError, lambda o, p, b: o.get("2024-01-01")),
        ("none_end", AttributeError, lambda o, p, b: o.get_range(D0, None)),
        ("float_month", TypeError, lambda o, p, b: o.get(b(2024, 2.0, 1))),
        ("month_300", OverflowError, lambda o, p, b: o.get_range(b(2024, 300, 1), D0)),
        ("huge_year", OverflowError, lambda o, p, b: o.get(b(1 << 70, 1, 1))),
        ("merge_int", TypeError, lambda o, p, b: o.merge(42)),
        ("merge_self", RuntimeError, lambda o, p, b: o.merge(o)),
        ("len_arg", TypeError, lambda o, p, b: o.len(1)),
        ("direct", TypeError, lambda o, p, b: Sunindex()),
        ("feb30_get", ValueError, lambda o, p, b: o.get(b(2023, 2, 30))),
        ("feb30_range", ValueError, lambda o, p, b: o.get_range(date(2023, 1, 1), D0)),
        ("feb30_date_range", ValueError, lambda o, p, b: o.date_range()),
        ("feb30_to_numpy", ValueError, lambda o, p, b: o.to_numpy()),
    ]

    @pytest.mark.parametrize("error, call", [c[1:] for c in BAD_CALLS], ids=[c[0] for c in BAD_CALLS])
    def test_call_errors(self, files, error, call):
        pytest.importorskip("numpy")
        # The store holds 2023-02-30, which datetime.date refuses when it is returned.
        obj, path = build("from_celestrak_csv", files["csv_feb30"]), files["csv"]
        bare = type("Bare", (), {})

        def make_date(y, m, d):
            instance = bare()
            instance.year, instance.month, instance.day = y, m, d
            return instance

        before = refcounts(obj, path, D0)

        def attempt():
            with pytest.raises(error):
                call(obj, path, make_date)

        self.assert_no_growth(attempt)
        assert refcounts(obj, path, D0) == before
        assert obj.len() == 2 and obj.get(D0)["f10_7_obs"] == 1.5


# ---------------------------------------------------------------------------
# Threads


def run_threads(targets, timeout=60):
    """Runs each callable in its own thread; returns the exceptions raised. Fails on a thread still running."""
    errors = []

    def wrap(target):
        def body():
            try:
                target()
            except BaseException as e:  # reported to the test, not lost in the thread
                errors.append(e)
        return body

    threads = [threading.Thread(target=wrap(t), daemon=True) for t in targets]
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)  # switch as often as the interpreter allows
    try:
        for t in threads:
            t.start()
        for t in threads:
            t.join(timeout)
    finally:
        sys.setswitchinterval(interval)
    assert not any(t.is_alive() for t in threads), "a thread is stuck (deadlock?)"
    return errors


class TestThreads:
    ROUNDS = 300

    def test_queries_while_other_objects_merge(self, files):
        shared = build("from_celestrak_csv", files["csv"])
        shared.merge(build("from_set_dtcfile", files["dtc"]))
        expected_range, expected_one = everything(shared), shared.get(D0 + timedelta(5))
        counts = []

        def query():
            for i in range(self.ROUNDS):
                d = D0 + timedelta(5)
                assert shared.get(DateLike(d) if i % 2 else d) == expected_one
                assert shared.get_range(DateLike(ALL[0]), ALL[1]) == expected_range
                assert len(shared) == 20 and shared.date_range() == (D0, D0 + timedelta(19))
            counts.append(self.ROUNDS)

        def merge():
            for _ in range(self.ROUNDS):
                a, b = build("from_celestrak_csv", files["csv"]), build("from_set_solfsmy", files["sol"])
                c = build("from_celestrak_csv", files["csv_b"])
                a.merge(b)
                a.merge(c)
                assert a.len() == 29 and b.len() == c.len() == 0
                assert a.get(DateLike(D0))["f10_7_jb"] == 150.0
            counts.append(self.ROUNDS)

        assert run_threads([query, query, query, merge, merge]) == []
        assert counts == [self.ROUNDS] * 5
        assert everything(shared) == expected_range

    def test_merge_into_object_being_read(self, files):
        """A getter that merges into the object it is read for, itself and from another thread."""
        obj = build("from_celestrak_csv", files["csv"])
        before = everything(obj)
        refusals, rounds = [], 0

        def try_merge():
            other = build("from_set_solfsmy", files["sol"])
            try:
                obj.merge(other)
            except RuntimeError as e:
                refusals.append(str(e))
            assert other.len() == 20  # a refused merge takes nothing

        def merge_from_thread():
            assert run_threads([try_merge]) == []

        for i in range(self.ROUNDS):
            hook = try_merge if i % 2 else merge_from_thread
            assert obj.get(DateLike(D0, hook)) == before[0]
            rounds += 1
        assert rounds == self.ROUNDS and refusals == ["Already borrowed"] * self.ROUNDS
        assert everything(obj) == before

    def test_results_outlive_objects_freed_in_other_threads(self, files):
        np = pytest.importorskip("numpy")
        reference = build("from_celestrak_csv", files["csv"])
        want_range, want_arrays = everything(reference), reference.to_numpy()
        handed_over, checked = queue.Queue(), []

        def produce():
            try:
                for _ in range(self.ROUNDS):
                    obj = build("from_celestrak_csv", files["csv"])
                    handed_over.put((obj.get_range(*ALL), obj.to_numpy(), obj.date_range()))
                    del obj
            finally:
                handed_over.put(None)

        def consume():
            done = 0
            while (results := handed_over.get(timeout=30)) is not None:
                if done % 20 == 0:
                    gc.collect()  # nothing of the freed objects may linger behind the results
                got_range, arrays, span = results
                assert got_range == want_range and span == (D0, D0 + timedelta(19))
                assert list(arrays["date"]) == list(want_arrays["date"])
                assert all(np.array_equal(arrays[k], want_arrays[k], equal_nan=True) for k in arrays if k != "date")
                done += 1
            checked.append(done)

        assert run_threads([produce, consume]) == []
        assert checked == [self.ROUNDS]


# ---------------------------------------------------------------------------
# Hostile files


@pytest.fixture(scope="module")
def random_100mb(tmp_path_factory):
    path = tmp_path_factory.mktemp("random") / "random.bin"
    with open(path, "wb") as f:
        for _ in range(100):
            f.write(os.urandom(1 << 20))
    yield str(path)
    path.unlink()


def load_error(method, path):
    with pytest.raises(ValueError) as e:
        build(method, path)
    return str(e.value)


class TestHostileFiles:
    MB = 1 << 20

    def test_one_megabyte_lines(self, write_file):
        digits, junk = "1" * self.MB, "x" * self.MB
        obj = build("from_celestrak_csv", write_file(f"{HEADER}\n{csv_row(D0)[:11]}{digits}{csv_row(D0)[14:]}\n"))
        assert obj.get(D0)["f10_7_obs"] == float(digits) == math.inf
        obj = build("from_celestrak_csv", write_file(f"{junk},{HEADER}\n{junk},{csv_row(D0)}\n"))
        assert obj.get(D0)["ap_3hr"] == [1.5] * 8
        for content, row in [(f"{HEADER}\n{junk}\n", 2), (HEADER + "\n\n" + "," * self.MB, 3)]:
            assert load_error("from_celestrak_csv", write_file(content)) == f"parse error at row {row}: invalid date"
        assert load_error("from_celestrak_csv", write_file("," * self.MB + "\n" + csv_row(D0))) == HEADER_ERROR
        long_sol = sol_line(D0)[:-1] + b"z" * self.MB + b"\n"
        assert build("from_set_solfsmy", write_file(b"#" + b"x" * self.MB + b"\n" + long_sol)).get(D0)["y10_7"] == 150.0
        assert load_error("from_set_dtcfile", write_file(b"#\n" + b"9" * self.MB + b"\n")) == \
            "parse error at row 2: doy"

    @pytest.mark.parametrize("method, message", [
        ("from_celestrak_csv", HEADER_ERROR),
        ("from_set_solfsmy", "parse error at row 0: invalid utf-8"),
        ("from_set_dtcfile", "parse error at row 0: invalid utf-8"),
    ])
    def test_100_megabytes_of_random_bytes(self, random_100mb, method, message):
        size = os.path.getsize(random_100mb)
        code = textwrap.dedent(f"""
            import resource, sunindex
            base = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
            try:
                sunindex.Sunindex.{method}({random_100mb!r})
            except ValueError as e:
                print(e)
            print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - base)
        """)
        done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
        error, peak_kib = done.stdout.splitlines()
        assert error == message, done.stderr
        # The file is read once into one buffer: memory stays within twice its size.
        assert int(peak_kib) * 1024 < 2 * size

    @pytest.mark.parametrize("method, content, message", [
        ("from_celestrak_csv", b"\0" * 5000, HEADER_ERROR),
        ("from_set_solfsmy", b"\0" * 5000, "parse error at row 1: year"),
        ("from_set_dtcfile", b"\0" * 5000, "parse error at row 1: year"),
        ("from_set_solfsmy", bytes(range(256)), "parse error at row 0: invalid utf-8"),
        ("from_celestrak_csv", b"\x89PNG\r\n\x1a\n\0\0\0\rIHDR", HEADER_ERROR),
        ("from_set_dtcfile", b"\xef\xbb\xbf" * 100, "parse error at row 1: year"),
    ])
    def test_binary_contents(self, write_file, method, content, message):
        assert load_error(method, write_file(content)) == message

    @pytest.mark.parametrize("method", CONSTRUCTORS)
    def test_executables(self, method):
        import sunindex
        message = HEADER_ERROR if method == CONSTRUCTORS[0] else "parse error at row 0: invalid utf-8"
        for path in (sys.executable, sunindex.__file__):
            assert load_error(method, path) == message

    @pytest.mark.parametrize("method", CONSTRUCTORS)
    def test_dev_null(self, method):
        if method == "from_celestrak_csv":
            assert load_error(method, "/dev/null") == HEADER_ERROR
        else:
            obj = build(method, "/dev/null")
            assert (obj.len(), obj.date_range(), everything(obj)) == (0, None, [])

    @pytest.mark.parametrize("method, name", [(CONSTRUCTORS[0], "SW-sample.csv"),
                                              (CONSTRUCTORS[1], "SOLFSMY-sample.TXT"),
                                              (CONSTRUCTORS[2], "DTCFILE-sample.TXT")])
    def test_fifo(self, sample_path, tmp_path, method, name):
        fifo = str(tmp_path / "fifo")
        os.mkfifo(fifo)
        # A separate process writes: the constructor keeps the interpreter lock while it reads.
        writer = subprocess.Popen(["sh", "-c", 'cat "$0" > "$1"', sample_path(name), fifo])
        try:
            obj = build(method, fifo)
        finally:
            writer.kill()
            writer.wait(timeout=30)
        assert obj.len() > 700 and everything(obj) == everything(build(method, sample_path(name)))

    @pytest.mark.parametrize("method", CONSTRUCTORS)
    def test_non_utf8_path(self, method, tmp_path, files):
        raw = os.fsencode(tmp_path) + b"/data\xff.txt"
        with open(raw, "wb") as f:
            f.write(Path(files["csv"]).read_bytes())
        with pytest.raises(UnicodeEncodeError):
            build(method, os.fsdecode(raw))


# ---------------------------------------------------------------------------
# Number syntax against Python's float


NUMBER = re.compile(r"[+-]?(?:(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][+-]?[0-9]+)?|(?i:inf|infinity|nan))")
MARKERS = {"9999.9", "99999", "999.9"}
WHITE_SPACE = "\t\n\x0b\x0c\r \x85\xa0\u1680\u2000\u2001\u2002\u2003\u2004\u2005\u2006\u2007\u2008\u2009" \
    "\u200a\u2028\u2029\u202f\u205f\u3000"


def case_mix(word):
    return st.lists(st.booleans(), min_size=len(word), max_size=len(word)).map(
        lambda upper: "".join(c.upper() if u else c for c, u in zip(word, upper)))


# Pieces of numbers and the characters most likely to be half accepted.
piece = st.sampled_from(["1", "0", "9", ".", "e", "E", "+", "-", "in", "inf", "infinity", "nan", "na", "x", "0x",
                         "_", " ", "\t", "\u00a0", "\u3000", "\u200b", "\ufeff", "\x1c", "\0", "d", "f", "é", "#"])


def number_texts(max_digits):
    """Texts in the number syntax, near misses of them, and loose pieces; never a comma or a line feed."""
    digits = st.text("0123456789", min_size=1, max_size=max_digits)
    sign = st.sampled_from(["", "+", "-"])
    exponent = st.tuples(st.sampled_from("eE"), sign, st.text("0123456789", min_size=1, max_size=3)).map("".join)
    decimal = st.one_of(
        st.tuples(digits, st.sampled_from(["", "."]), st.text("0123456789", max_size=max_digits)).map("".join),
        st.tuples(st.just("."), digits).map("".join),
    )
    valid = st.one_of(
        st.tuples(sign, decimal, st.just("") | exponent).map("".join),
        st.tuples(sign, st.sampled_from(["inf", "infinity", "nan"]).flatmap(case_mix)).map("".join),
        st.sampled_from(sorted(MARKERS)),
    )

    @st.composite
    def near(draw):
        text = draw(valid)
        for _ in range(draw(st.integers(1, 3))):
            at = draw(st.integers(0, len(text)))
            action, insert = draw(st.sampled_from(["insert", "delete", "replace"])), draw(piece)
            text = text[:at] + ("" if action == "delete" else insert) + text[at + (action != "insert"):]
        return text

    padded = st.tuples(st.sampled_from(["", " ", "\u3000", "\t"]), valid, st.sampled_from(["", " ", "\u2029", "\r"]))
    return st.one_of(valid, near(), st.lists(piece, max_size=4).map("".join), padded.map("".join))


def expected_value(text, markers=MARKERS):
    """None when the text is not in the syntax or is a marker, else Python's float of it."""
    trimmed = text.strip(WHITE_SPACE)
    if trimmed in markers or not NUMBER.fullmatch(trimmed):
        return None
    return float(trimmed)


class TestNumberSyntax:
    @settings(max_examples=400, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
    @given(texts=st.lists(number_texts(25), min_size=1, max_size=25))
    def test_csv_value_field(self, write_file, texts):
        dates = days(len(texts), date(2000, 1, 1))
        rows = [f"{d.isoformat()},{t},1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1" for d, t in zip(dates, texts)]
        obj = build("from_celestrak_csv", write_file(HEADER + "\n" + "\n".join(rows) + "\n"))
        got = [r["f10_7_obs"] for r in everything(obj)]
        assert len(got) == len(texts)
        for text, value in zip(texts, got):
            assert same_float(value, expected_value(text)), (text, value)

    @settings(max_examples=400, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
    @given(text=number_texts(3).filter(lambda t: len(t.encode()) <= 6))
    def test_solfsmy_float_column(self, write_file, text):
        line = sol_line(D0)
        line = line[:22] + text.encode().rjust(6) + line[28:]
        want = expected_value(text, markers=set())  # SOLFSMY has no missing-value marker
        if want is None:
            assert load_error("from_set_solfsmy", write_file(line)) == "parse error at row 1: F10.7"
        else:
            got = build("from_set_solfsmy", write_file(line)).get(D0)["f10_7_jb"]
            assert same_float(got, want), (text, got)


# ---------------------------------------------------------------------------
# The fuzzers' hand-made seeds and every input that once failed a fuzzer, replayed through the module


FUZZ_DIR = Path(__file__).resolve().parent.parent / "fuzz"
FUZZ_INPUTS = [(method, path) for method, target in zip(CONSTRUCTORS, ["celestrak_csv", "solfsmy", "dtcfile"])
               for kind in ("seeds", "regressions") for path in sorted((FUZZ_DIR / kind / target).glob("*"))]


@pytest.mark.parametrize("method, path", FUZZ_INPUTS, ids=[f"{p.parent.parent.name}/{p.parent.name}/{p.name}"
                                                            for _, p in FUZZ_INPUTS])
def test_fuzz_inputs(method, path):
    try:
        obj = build(method, str(path))
    except ValueError as e:
        assert re.fullmatch(r"invalid or missing CSV header|parse error at row \d+: [\w .-]+", str(e)), str(e)
        return
    try:
        span, records = obj.date_range(), everything(obj)
    except ValueError:  # a stored date that datetime.date refuses
        return
    assert (span is None) == (obj.len() == 0) and len(records) == obj.len() == len(obj)
    assert [r["date"] for r in records] == sorted({r["date"] for r in records})
