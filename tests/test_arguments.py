import os
import pathlib
import shutil
import subprocess
import sys
from datetime import date

import pytest

from sunindex import Sunindex

CONSTRUCTORS = ["from_celestrak_csv", "from_set_solfsmy", "from_set_dtcfile"]
SAMPLES = dict(zip(CONSTRUCTORS, ["SW-sample.csv", "SOLFSMY-sample.TXT", "DTCFILE-sample.TXT"]))
D1, D2 = date(2024, 1, 1), date(2024, 1, 5)
HEADER = "DATE,F10.7_OBS,F10.7_ADJ,AP_AVG," + ",".join([f"AP{i}" for i in range(1, 9)] + [f"KP{i}" for i in range(1, 9)])


def csv_text(days):
    rows = [f"{d.isoformat()},{100 + i % 50}.5,99.25,{i % 40},{','.join('12345678')},{','.join(['30'] * 8)}" for i, d in enumerate(days)]
    return "\n".join([HEADER, *rows]) + "\n"


#: Paths no file can be read from, made from an empty folder and a file that loads, with the
#: error each gives.
UNUSABLE_PATHS = {
    "directory": (lambda folder, good: str(folder), "Is a directory (os error 21)"),
    "missing": (lambda folder, good: str(folder / "absent.txt"), "No such file or directory (os error 2)"),
    "missing folder": (lambda folder, good: str(folder / "absent" / "x"), "No such file or directory (os error 2)"),
    "file as folder": (lambda folder, good: good + "/x", "Not a directory (os error 20)"),
    "too long": (lambda folder, good: "x" * 5000, "File name too long (os error 36)"),
    # The part before the NUL names a file that loads, so truncating the path would load it.
    **{f"NUL {suffix!r}": (lambda folder, good, suffix=suffix: good + suffix, "path contains a NUL character")
       for suffix in ["\0", "\0.csv", "\0\0"]},
    "NUL in a folder": (lambda folder, good: f"{os.path.dirname(good)}/ok\0/../{os.path.basename(good)}",
                        "path contains a NUL character"),
}


class _Holder:
    class Inner:
        pass


class TestBinding:
    @pytest.mark.parametrize("call, message", [
        *[(lambda o, n=n: getattr(Sunindex, n)(), f"Sunindex.{n}() missing 1 required positional argument: 'path'") for n in CONSTRUCTORS],
        (lambda o: o.get(), "Sunindex.get() missing 1 required positional argument: 'date'"),
        (lambda o: o.get_range(), "Sunindex.get_range() missing 2 required positional arguments: 'start' and 'end'"),
        (lambda o: o.get_range(D1), "Sunindex.get_range() missing 1 required positional argument: 'end'"),
        (lambda o: o.get_range(end=D1), "Sunindex.get_range() missing 1 required positional argument: 'start'"),
        (lambda o: o.merge(), "Sunindex.merge() missing 1 required positional argument: 'other'"),
        (lambda o: o.get(D1, D1), "Sunindex.get() takes 1 positional arguments but 2 were given"),
        (lambda o: o.get_range(D1, D1, D1), "Sunindex.get_range() takes 2 positional arguments but 3 were given"),
        (lambda o: o.merge(o, o, o), "Sunindex.merge() takes 1 positional arguments but 3 were given"),
        (lambda o: Sunindex.from_set_dtcfile("a", "b"), "Sunindex.from_set_dtcfile() takes 1 positional arguments but 2 were given"),
        (lambda o: o.merge(store=o), "Sunindex.merge() got an unexpected keyword argument 'store'"),
        (lambda o: o.get(Date=D1), "Sunindex.get() got an unexpected keyword argument 'Date'"),
        (lambda o: o.get(D1, day=D1), "Sunindex.get() got an unexpected keyword argument 'day'"),
        (lambda o: Sunindex.from_celestrak_csv(path="x", file="y"), "Sunindex.from_celestrak_csv() got an unexpected keyword argument 'file'"),
        (lambda o: o.get(D1, date=D1), "Sunindex.get() got multiple values for argument 'date'"),
        (lambda o: o.get_range(D1, D2, end=D2), "Sunindex.get_range() got multiple values for argument 'end'"),
        (lambda o: o.get_range(D1, start=D1), "Sunindex.get_range() got multiple values for argument 'start'"),
        (lambda o: Sunindex.from_set_solfsmy("x", path="x"), "Sunindex.from_set_solfsmy() got multiple values for argument 'path'"),
    ])
    def test_type_errors(self, obj, call, message):
        with pytest.raises(TypeError) as e:
            call(obj)
        assert str(e.value) == message

    def test_keywords_equal_positional(self, obj, other, sample_path):
        for name, sample in SAMPLES.items():
            by_kw, by_pos = getattr(Sunindex, name)(path=sample_path(sample)), getattr(Sunindex, name)(sample_path(sample))
            assert by_kw.len() == by_pos.len() > 0 and by_kw.date_range() == by_pos.date_range()
        assert obj.get(date=D1) == obj.get(D1) is not None
        expected = obj.get_range(D1, D2)
        assert len(expected) == 5
        assert obj.get_range(start=D1, end=D2) == obj.get_range(end=D2, start=D1) == obj.get_range(D1, end=D2) == expected
        total = obj.len() + other.len() - len(obj.get_range(*other.date_range()))
        assert obj.merge(other=other) is None
        assert (obj.len(), other.len()) == (total, 0)


class TestPathConversion:
    @pytest.mark.parametrize("name", CONSTRUCTORS)
    @pytest.mark.parametrize("value, type_name", [
        (b"data.csv", "bytes"), (pathlib.Path("data.csv"), "PosixPath"), (1, "int"), (None, "NoneType"),
        (bytearray(b"x"), "bytearray"), (_Holder.Inner(), "_Holder.Inner"),
    ])
    def test_not_str(self, name, value, type_name):
        with pytest.raises(TypeError) as e:
            getattr(Sunindex, name)(value)
        assert str(e.value) == f"argument 'path': '{type_name}' object cannot be converted to 'PyString'"

    def test_str_subclass_accepted(self, sample_path):
        class Text(str):
            pass

        assert Sunindex.from_set_dtcfile(Text(sample_path("DTCFILE-sample.TXT"))).len() == Sunindex.from_set_dtcfile(sample_path("DTCFILE-sample.TXT")).len() > 0

    @pytest.mark.parametrize("name", CONSTRUCTORS)
    def test_lone_surrogate(self, name, tmp_path):
        with pytest.raises(UnicodeEncodeError) as e:
            getattr(Sunindex, name)(str(tmp_path / "a\ud800.csv"))
        assert not str(e.value).startswith("argument")

    def test_other_not_sunindex(self, obj):
        before = obj.len()
        for value, type_name in [(42, "int"), (None, "NoneType"), ("x", "str"), (Sunindex, "type")]:
            with pytest.raises(TypeError) as e:
                obj.merge(value)
            assert str(e.value) == f"argument 'other': '{type_name}' object cannot be converted to 'Sunindex'"
        assert obj.len() == before


class TestFileLayer:
    def error_of(self, name, path):
        with pytest.raises(ValueError) as e:
            getattr(Sunindex, name)(path)
        assert type(e.value) is ValueError and not isinstance(e.value, OSError)
        assert e.value.__cause__ is None and len(e.value.args) == 1
        return str(e.value)

    @pytest.mark.parametrize("name", CONSTRUCTORS)
    @pytest.mark.parametrize("case", UNUSABLE_PATHS)
    def test_unusable_paths(self, name, case, tmp_path, sample_path):
        path_of, message = UNUSABLE_PATHS[case]
        assert self.error_of(name, path_of(tmp_path, sample_path(SAMPLES[name]))) == message

    @pytest.mark.skipif(not os.path.exists("/proc/self/status"), reason="needs Linux /proc")
    def test_file_reporting_size_zero_is_read_whole(self):
        # /proc files report a size of 0: trusting it would give a silently empty store.
        assert os.stat("/proc/self/status").st_size == 0
        assert self.error_of("from_set_dtcfile", "/proc/self/status") == "parse error at row 1: line too short"

    def test_no_read_permission(self, write_file):
        path = write_file(csv_text([D1]))
        os.chmod(path, 0o200)
        prefix = []
        if os.geteuid() == 0:  # root reads anything unless it gives up its file-access capabilities
            prefix = [shutil.which("setpriv") or "", "--bounding-set", "-dac_override,-dac_read_search"]
            if not prefix[0] or subprocess.run([*prefix, "true"], capture_output=True).returncode != 0:
                pytest.skip("cannot drop file-access capabilities")
        code = f"import sunindex\ntry: sunindex.Sunindex.from_celestrak_csv({path!r})\nexcept ValueError as e: print(e)"
        done = subprocess.run([*prefix, sys.executable, "-c", code], capture_output=True, text=True)
        assert done.stdout == "Permission denied (os error 13)\n", done.stderr

    def test_relative_path(self, tmp_path, monkeypatch):
        (tmp_path / "sub").mkdir()
        (tmp_path / "sub" / "rel.csv").write_text(csv_text([D1, D2]))
        monkeypatch.chdir(tmp_path)
        assert Sunindex.from_celestrak_csv(os.path.join("sub", "rel.csv")).date_range() == (D1, D2)
        monkeypatch.chdir(tmp_path / "sub")
        assert Sunindex.from_celestrak_csv("rel.csv").len() == 2
