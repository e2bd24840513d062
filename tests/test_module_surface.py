import shutil
import subprocess
import sys
import textwrap
import weakref

import pytest

import sunindex
from sunindex import Sunindex

METHOD_SIGNATURES = {
    "from_celestrak_csv": "(path)",
    "from_set_solfsmy": "(path)",
    "from_set_dtcfile": "(path)",
    "get": "($self, date)",
    "get_range": "($self, start, end)",
    "merge": "($self, other)",
    "len": "($self)",
    "date_range": "($self)",
    "to_numpy": "($self)",
}
STATIC = ["from_celestrak_csv", "from_set_solfsmy", "from_set_dtcfile"]


@pytest.fixture
def csv_obj(sample_path):
    return Sunindex.from_celestrak_csv(sample_path("SW-sample.csv"))


def run_fresh(code):
    """Runs code in a new interpreter process; returns its stdout, failing on a non-zero exit."""
    done = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    return done.stdout


class TestModule:
    def test_all_and_doc(self):
        assert type(sunindex.__all__) is list and sunindex.__all__ == ["Sunindex"]
        assert sunindex.__doc__ == ""

    def test_no_other_public_names(self):
        assert {n for n in dir(sunindex) if not (n.startswith("__") and n.endswith("__"))} == {"Sunindex"}

    def test_library_exports_only_init(self):
        nm = shutil.which("nm")
        if nm is None:
            pytest.skip("nm not available")
        out = subprocess.run([nm, "-D", "--defined-only", sunindex.__file__], capture_output=True, text=True, check=True).stdout
        # Type "A" entries are linker version nodes, not symbols.
        symbols = [line.split()[-1] for line in out.splitlines() if line.strip() and line.split()[-2] != "A"]
        assert symbols == ["PyInit_sunindex"]

    def test_reimport_returns_same_module(self):
        out = run_fresh("""
            import sys
            import sunindex
            first = sunindex
            del sys.modules["sunindex"]
            import sunindex
            print(sunindex is first, sunindex.Sunindex is first.Sunindex, sys.modules["sunindex"] is first)
        """)
        assert out.split() == ["True", "True", "True"]

    @pytest.mark.skipif(sys.version_info < (3, 13), reason="_interpreters is new in CPython 3.13")
    def test_sub_interpreter_refused(self, sample_path):
        out = run_fresh(f"""
            import sys
            import _interpreters
            import sunindex
            first = sunindex
            interp = _interpreters.create(_interpreters.new_config("legacy"))
            try:
                failure = _interpreters.exec(interp, "import sys; sys.path[:0] = {sys.path!r}; import sunindex")
            finally:
                _interpreters.destroy(interp)
            print(failure.type.__name__ if failure else "imported")
            print(failure.msg if failure else "")
            assert sys.modules["sunindex"] is first
            print(first.Sunindex.from_celestrak_csv({sample_path("SW-sample.csv")!r}).len())
        """)
        kind, message, count = out.splitlines()
        assert kind == "ImportError"
        assert "sub-interpreters" in message
        assert int(count) == Sunindex.from_celestrak_csv(sample_path("SW-sample.csv")).len() > 0


class TestClass:
    def test_names_and_doc(self):
        assert (Sunindex.__name__, Sunindex.__qualname__, Sunindex.__module__) == ("Sunindex", "Sunindex", "builtins")
        assert Sunindex.__doc__ is None
        assert Sunindex.__bases__ == (object,)

    @pytest.mark.parametrize("args, kwargs", [((), {}), (("x.csv",), {}), ((), {"path": "x.csv"}), ((1, 2), {"a": 3})])
    def test_no_constructor(self, args, kwargs):
        with pytest.raises(TypeError) as e:
            Sunindex(*args, **kwargs)
        assert str(e.value) == "No constructor defined for Sunindex"

    def test_not_subclassable(self):
        with pytest.raises(TypeError):
            type("Sub", (Sunindex,), {})

    def test_no_weakref_no_attributes(self, csv_obj):
        with pytest.raises(TypeError):
            weakref.ref(csv_obj)
        with pytest.raises(AttributeError):
            csv_obj.x = 1
        assert not hasattr(csv_obj, "__dict__")

    def test_method_order(self):
        assert [k for k in Sunindex.__dict__ if not k.startswith("__")] == list(METHOD_SIGNATURES)

    @pytest.mark.parametrize("name", METHOD_SIGNATURES)
    def test_signature_only_doc(self, name):
        method = getattr(Sunindex, name)
        assert method.__text_signature__ == METHOD_SIGNATURES[name]
        assert method.__doc__ is None
        assert isinstance(Sunindex.__dict__[name], staticmethod) == (name in STATIC)

    @pytest.mark.parametrize("name, sample", list(zip(STATIC, ["SW-sample.csv", "SOLFSMY-sample.TXT", "DTCFILE-sample.TXT"])))
    def test_static_constructor_on_instance(self, csv_obj, sample_path, name, sample):
        made = getattr(csv_obj, name)(sample_path(sample))
        assert type(made) is Sunindex and made is not csv_obj
        assert made.get_range(*made.date_range()) == getattr(Sunindex, name)(sample_path(sample)).get_range(*made.date_range())

    def test_len_and_truth(self, csv_obj, sample_path):
        other = Sunindex.from_set_solfsmy(sample_path("SOLFSMY-sample.TXT"))
        with open(sample_path("SW-sample.csv")) as f:
            csv_dates = {line.split(",")[0] for line in list(f)[1:] if line.strip()}
        with open(sample_path("SOLFSMY-sample.TXT")) as f:
            solfsmy_days = {line[:10] for line in f if line.strip() and not line.startswith("#")}
        assert len(csv_obj) == csv_obj.len() == len(csv_dates)
        assert len(other) == other.len() == len(solfsmy_days)
        assert csv_obj and other
        csv_obj.merge(other)
        assert len(other) == other.len() == 0 and not other
        assert len(csv_obj) == csv_obj.len() and csv_obj

    @pytest.mark.parametrize("name", ["len", "date_range", "to_numpy"])
    def test_no_argument_methods_refuse_arguments(self, csv_obj, name):
        with pytest.raises(TypeError):
            getattr(csv_obj, name)(1)
        with pytest.raises(TypeError):
            getattr(csv_obj, name)(x=1)
