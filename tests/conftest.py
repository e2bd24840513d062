import os
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
SAMPLE_DIR = ROOT / "data"


def _full_data_dir():
    """Where the full published files are: $SUNINDEX_FULL_DATA, else a shared/data folder
    beside this checkout or beside one of its parents."""
    if "SUNINDEX_FULL_DATA" in os.environ:
        return Path(os.environ["SUNINDEX_FULL_DATA"])
    for parent in ROOT.parents:
        if (parent / "shared" / "data").is_dir():
            return parent / "shared" / "data"
    return ROOT.parent / "shared" / "data"


FULL_DATA_DIR = _full_data_dir()


@pytest.fixture
def write_file(tmp_path):
    """Writes bytes (or str, as UTF-8) to a fresh file and returns its path as str."""
    counter = iter(range(1_000_000))

    def write(content, name=None):
        path = tmp_path / (name or f"file{next(counter)}.txt")
        path.write_bytes(content.encode() if isinstance(content, str) else content)
        return str(path)

    return write


@pytest.fixture
def sample_path():
    """Path of a shipped sample file, by name."""
    return lambda name: str(SAMPLE_DIR / name)


@pytest.fixture
def full_data():
    """Path of a full published file; skips the test when it is not on this machine."""

    def path(name):
        candidate = FULL_DATA_DIR / name
        if not candidate.is_file():
            pytest.skip(f"{candidate} not present")
        return str(candidate)

    return path


@pytest.fixture
def obj(sample_path):
    """A store of the shipped CelesTrak sample."""
    from sunindex import Sunindex

    return Sunindex.from_celestrak_csv(sample_path("SW-sample.csv"))


@pytest.fixture
def other(sample_path):
    """A store of the shipped SOLFSMY sample."""
    from sunindex import Sunindex

    return Sunindex.from_set_solfsmy(sample_path("SOLFSMY-sample.TXT"))
