"""Hostile files: SpaceWeather.load reads only regular files, and only up to 64 MiB."""

import os
import stat
import shutil

import pytest

from conftest import SAMPLE_DIR
from sunindex_tools import SpaceWeather, _files


class TestWhatIsNotARegularFile:
    """Each would block or never end if it were read: each is refused at once, by name."""

    @pytest.fixture(params=["fifo", "device", "folder"])
    def path(self, request, tmp_path):
        if request.param == "fifo":  # no writer: reading it would wait for ever
            os.mkfifo(tmp_path / "fifo")
            return str(tmp_path / "fifo")
        if request.param == "device":  # endless
            return os.devnull.replace("null", "zero")
        return str(tmp_path)

    @pytest.mark.parametrize("key", ["csv", "solfsmy", "dtcfile"])
    def test_is_refused_naming_it(self, path, key):
        with pytest.raises(OSError, match=f"^{path}: not a regular file$"):
            SpaceWeather.load(**{key: path})


class TestSizeCap:
    def test_a_file_over_64_mib_is_refused_unread(self, tmp_path):
        path = tmp_path / "SW-All.csv"
        shutil.copyfile(SAMPLE_DIR / "SW-sample.csv", path)
        os.truncate(path, 64 * 2**20 + 1)  # sparse: costs no disk
        with pytest.raises(ValueError, match=f"^{path}: larger than the 64 MiB a data file may hold$"):
            SpaceWeather.load(csv=path)

    @pytest.mark.parametrize("spare, refused", [(0, False), (-1, True)])
    def test_the_cap_is_inclusive(self, monkeypatch, spare, refused):
        path = SAMPLE_DIR / "SW-sample.csv"
        monkeypatch.setattr(_files, "MAX_FILE_BYTES", path.stat().st_size + spare)
        if refused:
            with pytest.raises(ValueError, match="larger than the"):
                SpaceWeather.load(csv=path)
        else:
            assert SpaceWeather.load(csv=path).sources["csv"].first is not None


class TestGrowingFile:
    """A file read to the size fstat gave is read on when it has grown since."""

    @staticmethod
    def fstat_shrunk_by(monkeypatch, shrink):
        real = os.fstat

        def fstat(descriptor):
            fields = list(real(descriptor))
            fields[stat.ST_SIZE] -= shrink
            return os.stat_result(fields)

        monkeypatch.setattr(_files.os, "fstat", fstat)

    def test_is_read_whole(self, monkeypatch):
        path = SAMPLE_DIR / "SW-sample.csv"
        self.fstat_shrunk_by(monkeypatch, 1000)
        assert _files.read_regular_file(path) == path.read_bytes()

    def test_past_the_cap_is_refused(self, monkeypatch):
        path = SAMPLE_DIR / "SW-sample.csv"
        size = path.stat().st_size
        monkeypatch.setattr(_files, "MAX_FILE_BYTES", size - 1)
        self.fstat_shrunk_by(monkeypatch, 1000)
        with pytest.raises(ValueError, match="larger than the"):
            _files.read_regular_file(path)
