"""The second publisher, the archive of every version, `as_of` and the manifest, against a
server on 127.0.0.1 the tests start (the fixtures of test_fetch)."""

import datetime as dt
import errno
import gzip
import json
import os
import subprocess
import sys
import warnings

import numpy as np
import pytest

from sunindex_tools import SpaceWeather, _archive
from sunindex_tools.cli import main
from sunindex_tools.fetch import FILE_NAMES, FetchError, fetch
from test_fetch import BODIES, CSV, Reply, cache, server  # noqa: F401  # fixtures

UTC = dt.timezone.utc
EPOCHS = np.arange("2024-01-10", "2024-12-20", np.timedelta64(1, "D"), dtype="M8[h]") + np.timedelta64(7, "h")


def csv_version(n):
    """The CSV sample with the flux of its 2024-06-0n row rewritten: another day's version."""
    lines = CSV.splitlines(keepends=True)
    index = next(i for i, line in enumerate(lines) if line.startswith(b"2024-06-01"))
    fields = lines[index].split(b",")
    fields[24] = f"{100 + n:.1f}".encode()
    lines[index] = b",".join(fields)
    return b"".join(lines)


def inputs(weather):
    return {**weather.msis_inputs(EPOCHS), **{f"jb_{k}": v for k, v in weather.jb2008_inputs(EPOCHS[:30]).items()}}


def same(a, b):
    return a.keys() == b.keys() and all(np.array_equal(a[k], b[k], equal_nan=a[k].dtype.kind == "f") for k in a)


def index_of(cache):
    return json.loads((cache / "archive" / "index.json").read_text())["versions"]


class TestSecondPublisher:
    @pytest.mark.parametrize("refusal", ["403", "connection refused"])
    def test_without_celestrak_gfz_and_swpc_give_the_msis_inputs_with_one_warning(self, server, cache, refusal,
                                                                                   monkeypatch):
        if refusal == "403":
            server.replies["SW-All.csv"] = Reply(b"no", status=403)
        else:
            monkeypatch.setenv("SUNINDEX_URL_CSV", "http://127.0.0.1:1/SW-All.csv")
        with pytest.warns(UserWarning) as caught:
            weather = SpaceWeather.latest()
        assert len(caught) == 1
        message = str(caught[0].message)
        assert "no SW-All.csv (csv)" in message and "from GFZ" in message and "mean of F10.7 is computed" in message
        assert {name: source.path.name for name, source in weather.sources.items() if name != "msfc"} == {
            "gfz": FILE_NAMES["gfz"], "gfz#2": FILE_NAMES["gfz_nowcast"], "swpc": FILE_NAMES["swpc"],
            "solfsmy": "SOLFSMY.TXT", "dtcfile": "DTCFILE.TXT"}
        got = weather.msis_inputs(["2024-06-20T06:00", "2024-07-10T06:00"])
        assert list(got["f107"]) == [200.0 + 18, 150.0]  # the nowcast's 19 June; SWPC's 9 July
        assert np.isfinite(got["f107a"][0])

    def test_a_cached_csv_is_used_and_no_other_publisher_asked(self, server, cache):
        fetch()
        os.utime(cache / "SW-All.csv", (0, 0))
        server.replies["SW-All.csv"] = Reply(b"no", status=503)
        with pytest.warns(UserWarning, match="using cached copies: SW-All.csv"):
            assert "csv" in SpaceWeather.latest().sources
        assert not server.served(FILE_NAMES["gfz"])

    def test_when_no_source_gives_the_values_the_error_names_every_url_tried(self, server, cache):
        for kind in ("csv", "gfz", "gfz_nowcast"):
            server.replies[FILE_NAMES[kind]] = Reply(b"no", status=503)
        with pytest.raises(FetchError) as raised:
            SpaceWeather.latest()
        for kind in ("csv", "gfz", "gfz_nowcast"):
            assert f"{FILE_NAMES[kind]} from {server.url}{FILE_NAMES[kind]}: HTTP 503" in str(raised.value)

    def test_a_kind_with_no_substitute_fails_as_before(self, server, cache):
        server.replies["SOLFSMY.TXT"] = Reply(b"no", status=404)
        with pytest.raises(FetchError, match="SOLFSMY.TXT from .*HTTP 404"):
            SpaceWeather.latest()


class TestArchive:
    @pytest.mark.parametrize("how", ["argument", "environment", "off"])
    def test_each_new_version_is_kept_once_and_only_on_request(self, server, cache, monkeypatch, how):
        if how == "environment":
            monkeypatch.setenv("SUNINDEX_ARCHIVE", "1")
        archive = True if how == "argument" else None
        for n in (1, 1, 2):
            server.replies["SW-All.csv"] = Reply(csv_version(n))
            fetch(max_age=0, kinds=["csv"], archive=archive)
        if how == "off":
            assert not (cache / "archive").exists()
            return
        entries = index_of(cache)
        assert [gzip.decompress((cache / "archive" / f"{e['sha256']}.gz").read_bytes()) for e in entries] == [
            csv_version(1), csv_version(2)]
        assert entries[0]["span"] == ["2024-01-01", "2041-10-01"] and entries[0]["kind"] == "csv"

    def test_the_stamp_is_the_files_own(self, server, cache):
        fetch(kinds=["swpc", "txt"], archive=True)
        assert {e["kind"]: e["stamp"] for e in index_of(cache)} == {
            "swpc": "2024-06-30T21:13:00+00:00", "txt": "2025-07-21T10:37:15+00:00"}

    @pytest.mark.parametrize("failure", ["disk full", "archive folder is a file", "index unreadable"])
    def test_a_version_not_archived_is_still_used_and_the_earlier_ones_kept(self, server, cache, monkeypatch,
                                                                            failure):
        fetch(kinds=["csv"], archive=True)
        server.replies["SW-All.csv"] = Reply(csv_version(2))
        if failure == "disk full":
            def full(path, data):
                raise OSError(errno.ENOSPC, "No space left on device")
            monkeypatch.setattr(_archive, "_write_atomically", full)
        elif failure == "archive folder is a file":
            os.rename(cache / "archive", cache / "archive.moved")
            (cache / "archive").write_bytes(b"")
        else:
            (cache / "archive" / "index.json").write_bytes(b'{"format": 1, "versions": [')
        with pytest.warns(UserWarning, match="new version of SW-All.csv is used, but it could not be archived"):
            path = fetch(max_age=0, kinds=["csv"], archive=True)["csv"]
        assert path.read_bytes() == csv_version(2)
        if failure == "disk full":
            assert [e["sha256"] for e in index_of(cache)] == [_sha(CSV)]
            assert SpaceWeather.latest(as_of=dt.datetime.now(UTC), kinds=["csv"]).sources["csv"].path.suffix == ".gz"

    def test_two_processes_at_once_store_each_version_once_and_keep_each_others(self, server, cache):
        kinds = ["csv", "solfsmy", "dtcfile", "gfz", "swpc"]
        code = "import sys; from sunindex_tools.fetch import fetch; fetch(kinds=sys.argv[1:], archive=True, max_age=0)"
        workers = [subprocess.Popen([sys.executable, "-c", code, *order], env=os.environ.copy())
                   for order in (kinds, kinds[::-1])]
        assert [worker.wait() for worker in workers] == [0, 0]
        assert sorted(e["kind"] for e in index_of(cache)) == sorted(kinds)
        assert not [p for p in (cache / "archive").iterdir() if p.name.endswith(".part")]

    def test_list_and_prune_from_the_command_line(self, server, cache, capsys):
        fetch(kinds=["csv", "swpc"], archive=True)
        index = cache / "archive" / "index.json"
        document = json.loads(index.read_text())
        document["versions"][0]["retrieved"] = "2000-01-01T00:00:00+00:00"
        index.write_text(json.dumps(document))
        assert main(["archive", "list"]) == 0
        listed = capsys.readouterr().out.splitlines()
        assert [line.split()[0] for line in listed] == ["csv", "swpc"] and "retrieved 2000-01-01T00:00:00" in listed[0]
        assert main(["archive", "prune", "--older-than", "90d"]) == 0
        assert "1 version retrieved before" in capsys.readouterr().out
        assert [e["kind"] for e in index_of(cache)] == ["swpc"]
        assert not (cache / "archive" / f"{_sha(CSV)}.gz").exists()


def _sha(content):
    import hashlib
    return hashlib.sha256(content).hexdigest()


class TestReplay:
    @pytest.fixture
    def day(self, server, cache):
        """Three fetches of a day, each of other versions, with the inputs computed then."""
        runs = []
        for n in (1, 2, 3):
            server.replies["SW-All.csv"] = Reply(csv_version(n))
            server.replies[FILE_NAMES["swpc"]] = Reply(BODIES["swpc"].replace(b" 150", f" {150 + n}".encode()))
            weather = SpaceWeather.latest(max_age=0, kinds=["csv", "solfsmy", "dtcfile", "swpc"], archive=True)
            runs.append((dt.datetime.now(UTC), inputs(weather), weather.manifest()))
        return runs

    def test_as_of_each_instant_and_each_manifest_give_exactly_the_inputs_of_then(self, server, cache, day):
        requests = len(server.requests)
        for instant, computed, manifest in day:
            then = SpaceWeather.latest(as_of=instant, kinds=["csv", "solfsmy", "dtcfile", "swpc"])
            assert same(inputs(then), computed)
            assert same(inputs(SpaceWeather.from_manifest(json.loads(json.dumps(manifest)))), computed)
        assert not same(day[0][1], day[2][1])  # the versions do differ
        assert len(server.requests) == requests  # neither touched the network

    @pytest.mark.parametrize("instant", ["2000-01-01T00:00Z", dt.datetime(2000, 1, 1), np.datetime64("2000-01-01")])
    def test_as_of_before_the_first_version_names_the_kind_and_its_earliest(self, cache, day, instant):
        with pytest.raises(_archive.ArchiveError, match=r"no archived version of csv at or before 2000-01-01T00:00:00"
                                                        r"\+00:00: the earliest was retrieved 20"):
            SpaceWeather.latest(as_of=instant, kinds=["csv"])

    @pytest.mark.parametrize("damage", ["edited", "cut", "another version's bytes"])
    def test_a_damaged_version_is_refused_by_name_and_the_others_still_load(self, cache, day, damage):
        first, second = (cache / "archive" / f"{_sha(csv_version(n))}.gz" for n in (1, 2))
        data = first.read_bytes()
        first.write_bytes({"edited": gzip.compress(csv_version(1).replace(b"OBS", b"INT", 1)),
                           "cut": data[:len(data) // 2], "another version's bytes": second.read_bytes()}[damage])
        for load in (lambda: SpaceWeather.latest(as_of=day[0][0], kinds=["csv"]),
                     lambda: SpaceWeather.from_manifest(day[0][2])):
            with pytest.raises(OSError, match=f"{first}: the archived csv .* is damaged"):
                load()
        assert same(inputs(SpaceWeather.latest(as_of=day[1][0], kinds=["csv", "solfsmy", "dtcfile", "swpc"])),
                    day[1][1])

    def test_a_manifest_file_in_neither_place_is_named(self, cache, day):
        blob = cache / "archive" / f"{_sha(csv_version(1))}.gz"
        blob.unlink()
        with pytest.raises(OSError, match=f"{blob}: the archived csv .* is missing"):
            SpaceWeather.from_manifest(day[0][2])
        (cache / "archive" / "index.json").unlink()
        with pytest.raises(FileNotFoundError, match=f"{cache / 'SW-All.csv'}: the manifest's csv file .* is neither"):
            SpaceWeather.from_manifest(day[1][2])
        assert same(inputs(SpaceWeather.from_manifest(day[2][2])), day[2][1])  # the cached copy

    @pytest.mark.parametrize("manifest", [None, {}, {"format": "other", "files": []},
                                          {"format": "sunindex manifest 1", "files": [{"kind": "csv"}]},
                                          {"format": "sunindex manifest 1", "files": "x"}])
    def test_what_is_no_manifest_is_refused(self, manifest):
        with pytest.raises(ValueError, match="manifest"):
            SpaceWeather.from_manifest(manifest)

    def test_the_command_line_writes_the_manifest_and_replays_as_of(self, cache, day, tmp_path, capsys):
        written = tmp_path / "run.json"
        assert main(["msis", "2024-06-02T06:00", "--as-of", day[0][0].isoformat(), "--manifest", str(written),
                     "--format", "csv"]) == 0
        assert "101.0" in capsys.readouterr().out  # the first version's flux of 1 June
        files = json.loads(written.read_text())["files"]
        assert [(f["kind"], f["sha256"]) for f in files][:1] == [("csv", _sha(csv_version(1)))]


def test_without_the_archive_as_of_says_how_to_keep_versions(cache):
    with pytest.raises(_archive.ArchiveError, match="archive=True .* keeps each version"):
        SpaceWeather.latest(as_of=dt.datetime.now(UTC), data_dir=cache)


def test_warnings_do_not_escape_a_clean_replay(server, cache):
    fetch(archive=True)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        SpaceWeather.latest(as_of=dt.datetime.now(UTC))
