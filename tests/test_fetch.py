"""Downloads into the cache, against an HTTP server on 127.0.0.1 that each test scripts."""

import contextlib
import fcntl
import gzip
import http.server
import json
import os
import subprocess
import sys
import threading
import time
import warnings
from dataclasses import dataclass, field
from pathlib import Path

import numpy as np
import pytest

import datetime as dt

from conftest import SAMPLE_DIR
from publishers import gfz_text, hpo_text, swpc_text
from sunindex_tools import SpaceWeather, _files
from sunindex_tools import fetch as fetch_module
from sunindex_tools.fetch import FILE_NAMES, FetchError, fetch

#: What the server sends for each kind: the shipped samples, and small files in the
#: publishers' layouts (GFZ's long file to mid-2024, its nowcast past it, SWPC's forecast after).
BODIES = {
    "csv": (SAMPLE_DIR / "SW-sample.csv").read_bytes(),
    "solfsmy": (SAMPLE_DIR / "SOLFSMY-sample.TXT").read_bytes(),
    "dtcfile": (SAMPLE_DIR / "DTCFILE-sample.TXT").read_bytes(),
    "gfz": gfz_text(dt.date(2024, 1, 1), 170),
    "gfz_nowcast": gfz_text(dt.date(2024, 6, 1), 30, flux=200.0, definitive=0),
    "swpc": swpc_text(dt.date(2024, 7, 1)),
    "hp30": hpo_text(30, dt.date(2024, 1, 1), 2),
    "hp60": hpo_text(60, dt.date(2024, 1, 1), 2),
    "txt": (SAMPLE_DIR / "SW-sample.txt").read_bytes(),
}
SAMPLES = {FILE_NAMES[kind]: body for kind, body in BODIES.items()}
KEYS = {name: f"SUNINDEX_URL_{kind.upper()}" for kind, name in FILE_NAMES.items()}
CSV = SAMPLES["SW-All.csv"]


@dataclass
class Reply:
    """What the server answers for one file. A request carrying the matching validator gets a 304."""

    body: bytes
    status: int = 200
    etag: str | None = None
    last_modified: str | None = None
    declared_length: int | None = None  # a Content-Length other than the body's
    stall: float = 0.0  # seconds to wait before the body
    chunk_pause: float = 0.0  # seconds between chunks of the body
    chunk: int = 32768  # bytes sent at a time
    endless: bool = False  # the body, again and again, until the client leaves
    header_pause: float = 0.0  # when set, one more header line every so often, for ever
    reason: str | None = None  # the status line's reason phrase, if not the usual one
    headers: tuple = ()  # more (name, value) headers
    close_in_headers: bool = False  # the connection closes after the status line


@dataclass
class Server:
    url: str
    replies: dict = field(default_factory=dict)
    requests: list = field(default_factory=list)  # (file name, request headers)

    def served(self, name):
        return [headers for path, headers in self.requests if path == name]


@pytest.fixture
def server(tmp_path, monkeypatch):
    """A scripted server serving the shipped samples, with the environment pointing at it."""
    state = Server(url="", replies={name: Reply(body) for name, body in SAMPLES.items()})

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            name = self.path.lstrip("/")
            state.requests.append((name, dict(self.headers)))
            reply = state.replies[name]
            if self._unchanged(reply):
                self.send_response(304)
                self.end_headers()
                return
            time.sleep(reply.stall)
            self.send_response(reply.status, reply.reason)
            self.flush_headers()
            if reply.close_in_headers:
                return
            while reply.header_pause:
                self.wfile.write(b"X-Trickle: 1\r\n")
                self.wfile.flush()
                time.sleep(reply.header_pause)
            if not reply.endless:
                self.send_header("Content-Length", str(reply.declared_length or len(reply.body)))
            for header, value in (("ETag", reply.etag), ("Last-Modified", reply.last_modified), *reply.headers):
                if value:
                    self.send_header(header, value)
            self.end_headers()
            while True:
                for start in range(0, len(reply.body), reply.chunk):
                    self.wfile.write(reply.body[start:start + reply.chunk])
                    self.wfile.flush()
                    time.sleep(reply.chunk_pause)
                if not reply.endless:
                    return

        def handle(self):
            with contextlib.suppress(ConnectionError):  # a client that gave up on a slow or endless reply
                super().handle()

        def _unchanged(self, reply):
            return ((reply.etag and self.headers.get("If-None-Match") == reply.etag)
                    or (reply.last_modified and self.headers.get("If-Modified-Since") == reply.last_modified))

        def log_message(self, *args):
            pass

    httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    httpd.daemon_threads = True
    threading.Thread(target=httpd.serve_forever, args=(0.01,), daemon=True).start()
    state.url = f"http://127.0.0.1:{httpd.server_address[1]}/"
    for name, variable in KEYS.items():
        monkeypatch.setenv(variable, state.url + name)
    monkeypatch.setenv("SUNINDEX_DATA_DIR", str(tmp_path / "cache"))
    yield state
    httpd.shutdown()
    httpd.server_close()


@pytest.fixture
def cache(tmp_path):
    return tmp_path / "cache"


def make_old(cache):
    for path in cache.iterdir():
        os.utime(path, (0, 0))


def leftovers(cache):
    return sorted(p.name for p in cache.iterdir() if p.name.endswith(".part"))


class TestDownload:
    def test_first_call_downloads_each_file_and_the_next_uses_the_cache(self, server, cache):
        paths = fetch()
        assert {key: path.read_bytes() for key, path in paths.items()} == {
            "csv": SAMPLES["SW-All.csv"], "solfsmy": SAMPLES["SOLFSMY.TXT"], "dtcfile": SAMPLES["DTCFILE.TXT"]}
        assert {p.parent for p in paths.values()} == {cache}
        umask_mode = (cache / "SW-All.csv.lock").stat().st_mode  # made by a plain open()
        assert {p.stat().st_mode for p in paths.values()} == {umask_mode}
        fetch()
        assert len(server.requests) == 3

    def test_space_weather_latest_loads_the_fetched_files(self, server, cache):
        weather = SpaceWeather.latest()
        assert weather.sources["dtcfile"].path == cache / "DTCFILE.TXT" and len(server.requests) == 3
        assert SpaceWeather.latest(max_age=0, offline=True).sources.keys() == {"csv", "solfsmy", "dtcfile", "msfc"}

    def test_a_url_parameter_wins_over_the_environment(self, server, cache):
        server.replies["elsewhere.csv"] = Reply(CSV)
        fetch(urls={"csv": server.url + "elsewhere.csv"})
        assert [name for name, _ in server.requests] == ["elsewhere.csv", "SOLFSMY.TXT", "DTCFILE.TXT"]

    @pytest.mark.parametrize("argument", ["urls", "kinds"])
    def test_an_unknown_kind_is_refused(self, server, argument):
        with pytest.raises(ValueError, match=f"{argument}: unknown kind 'sw'; the kinds are csv, .*, txt"):
            fetch(**{argument: {"sw": server.url}})

    def test_a_file_url_serves_a_local_copy(self, server, cache, monkeypatch):
        monkeypatch.setenv("SUNINDEX_URL_CSV", (SAMPLE_DIR / "SW-sample.csv").as_uri())
        assert fetch(data_dir=cache / "other")["csv"].read_bytes() == CSV


class TestKinds:
    @pytest.mark.parametrize("kind", [kind for kind in FILE_NAMES if kind not in ("csv", "solfsmy", "dtcfile")])
    def test_each_kind_comes_from_its_own_url_and_loads_as_its_reader(self, server, cache, kind):
        weather = SpaceWeather.latest(kinds=[kind])
        assert [name for name, _ in server.requests] == [FILE_NAMES[kind]]
        reader = "gfz" if kind == "gfz_nowcast" else kind
        assert weather.sources[reader].path == cache / FILE_NAMES[kind]

    def test_the_nowcast_is_the_second_gfz_file_and_adds_only_the_days_past_the_long_one(self, server):
        weather = SpaceWeather.latest(kinds=["gfz_nowcast", "gfz"])
        assert [weather.sources[name].path.name for name in ("gfz", "gfz#2")] == [
            FILE_NAMES["gfz"], FILE_NAMES["gfz_nowcast"]]
        fluxes = weather.daily(np.array(["2024-06-01", "2024-06-30"], dtype="M8[D]"))["f107_obs"]
        assert list(fluxes) == [150.0 + 152, 200.0 + 29]  # the long file's day, then the nowcast's alone

    @pytest.mark.parametrize("kind, served", [("gfz", "swpc"), ("swpc", "gfz"), ("hp30", "hp60"), ("txt", "csv")])
    def test_another_kind_of_file_is_refused(self, server, cache, kind, served):
        server.replies[FILE_NAMES[kind]] = Reply(BODIES[served])
        with pytest.raises(FetchError, match=f"not a valid {FILE_NAMES[kind]}|no dated rows of {FILE_NAMES[kind]}"):
            fetch(kinds=[kind])
        assert not (cache / FILE_NAMES[kind]).exists()


class TestRevalidation:
    @pytest.mark.parametrize("validator, header", [("etag", "If-None-Match"), ("last_modified", "If-Modified-Since")])
    def test_an_unchanged_file_costs_a_304_and_counts_as_fresh_again(self, server, cache, validator, header):
        value = '"v1"' if validator == "etag" else "Sat, 11 May 2024 00:00:00 GMT"
        setattr(server.replies["SW-All.csv"], validator, value)
        fetch()
        make_old(cache)
        path = fetch(max_age=3600)["csv"]
        assert server.served("SW-All.csv")[-1][header] == value
        assert path.read_bytes() == CSV and path.stat().st_mtime > 0
        assert len(server.served("SW-All.csv")) == 2

    def test_a_changed_etag_brings_the_new_file(self, server, cache):
        server.replies["SW-All.csv"].etag = '"v1"'
        fetch()
        newer = CSV[:CSV.rindex(b"\n", 0, -1) + 1]
        server.replies["SW-All.csv"] = Reply(newer, etag='"v2"')
        assert fetch(max_age=0)["csv"].read_bytes() == newer
        assert server.served("SW-All.csv")[-1]["If-None-Match"] == '"v1"'

    def test_a_validator_from_another_url_is_not_sent(self, server, cache, monkeypatch):
        server.replies["SW-All.csv"].etag = '"v1"'
        fetch()
        server.replies["mirror.csv"] = Reply(CSV, etag='"v1"')
        fetch(max_age=0, urls={"csv": server.url + "mirror.csv"})
        assert "If-None-Match" not in server.served("mirror.csv")[0]


HALF_LINE = CSV[:CSV.index(b"\n", len(CSV) // 2) - 5]
LAST_ROW = CSV.splitlines(keepends=True)[-1]
ADDED_ROW = CSV.count(b"\n") + 1  # the number of a row written after the sample's last
FAULTS = {
    "404": (Reply(b"gone", status=404), "HTTP 404 Not Found"),
    "500": (Reply(b"oops", status=500), "HTTP 500 Internal Server Error"),
    "html page with 200": (Reply(b"<!DOCTYPE html><html>maintenance</html>\n"), "HTML page"),
    "body shorter than Content-Length": (Reply(HALF_LINE, declared_length=len(CSV)),
                                         f"cut off after {len(HALF_LINE)} of {len(CSV)} bytes"),
    "file cut mid-line": (Reply(HALF_LINE), "middle of a line"),
    "wrong format": (Reply(SAMPLES["SOLFSMY.TXT"]), "not a valid SW-All.csv: invalid or missing CSV header"),
    "header only": (Reply(CSV[:CSV.index(b"\n") + 1]), "no dated rows"),
    "empty body": (Reply(b""), "empty body"),
    "closed in the headers": (Reply(CSV, close_in_headers=True), "closed the connection without sending a body"),
    "gzip not asked for": (Reply(gzip.compress(CSV), headers=(("Content-Encoding", "gzip"),)),
                           "Content-Encoding gzip, which was not asked for"),
    "escapes in the reason": (Reply(b"x", status=503, reason="\x1b[2J\x1b]0;owned\x07"),
                              "HTTP 503 \\x1b[2J\\x1b]0;owned\\x07"),
    "stall past the timeout": (Reply(CSV, stall=2.0), "did not finish within the 0.3 s timeout"),
    # sunindex's own reader takes both; SpaceWeather.load does not, so neither may replace a copy.
    "a day that does not exist": (Reply(CSV + b"2024-02-30" + LAST_ROW[10:]),
                                  f"not a valid SW-All.csv: parse error at row {ADDED_ROW}: invalid date"),
    "a row in year 2300": (Reply(CSV + b"2300-01-01" + LAST_ROW[10:]), "not a valid SW-All.csv: "),
    "body trickling past the timeout": (Reply(CSV, chunk=100, chunk_pause=0.02),
                                        "did not finish within the 0.3 s timeout"),
    "headers trickling past the timeout": (Reply(CSV, header_pause=0.02), "did not finish within the 0.3 s timeout"),
}


class TestFaults:
    @pytest.mark.parametrize("reply, reason", FAULTS.values(), ids=FAULTS.keys())
    def test_a_cached_copy_is_kept_byte_for_byte_with_one_warning(self, server, cache, reply, reason):
        fetch()
        make_old(cache)
        server.replies["SW-All.csv"] = reply
        with pytest.warns(UserWarning) as caught:
            paths = fetch(timeout=0.3)
        assert len(caught) == 1
        message = str(caught[0].message)
        assert reason in message and "SW-All.csv (" in message and "days old)" in message
        assert paths["csv"].read_bytes() == CSV and leftovers(cache) == []

    @pytest.mark.parametrize("reply, reason", FAULTS.values(), ids=FAULTS.keys())
    def test_without_a_copy_the_error_names_the_url_and_the_way_out(self, server, cache, reply, reason):
        server.replies["SW-All.csv"] = reply
        with pytest.raises(FetchError) as raised:
            fetch(timeout=0.3)
        message = str(raised.value)
        assert f"SW-All.csv from {server.url}SW-All.csv: " in message and reason in message
        assert "SUNINDEX_URL_CSV" in message and "SpaceWeather.load(" in message
        assert not (cache / "SW-All.csv").exists() and leftovers(cache) == []

    def test_a_server_that_is_gone_leaves_the_copy_in_use(self, server, cache, monkeypatch):
        fetch()
        make_old(cache)
        monkeypatch.setenv("SUNINDEX_URL_CSV", "http://127.0.0.1:1/SW-All.csv")
        with pytest.warns(UserWarning, match="could not be refreshed from http://127.0.0.1:1/SW-All.csv: .*refused"):
            assert fetch()["csv"].read_bytes() == CSV


class TestDeadlines:
    def test_a_trickling_server_fails_within_about_the_timeout(self, server, cache):
        server.replies["SW-All.csv"] = Reply(CSV, chunk=100, chunk_pause=0.05)  # 40 s for the whole sample
        start = time.monotonic()
        with pytest.raises(FetchError, match="did not finish within the 0.5 s timeout"):
            fetch(timeout=0.5)
        assert time.monotonic() - start < 2.5  # the timeout, three files' requests, and ample slack
        assert leftovers(cache) == []

    def test_a_process_waiting_for_another_uses_its_copy_after_the_timeout(self, server, cache):
        fetch()
        make_old(cache)
        with open(cache / "SW-All.csv.lock") as held:  # another process, refreshing the file
            fcntl.flock(held, fcntl.LOCK_EX)
            with pytest.warns(UserWarning, match=r"SW-All.csv \(.*another process was still refreshing it "
                                                 r"after the 0.3 s timeout"):
                paths = fetch(timeout=0.3)
        assert paths["csv"].read_bytes() == CSV and len(server.served("SW-All.csv")) == 1


class TestSizeCap:
    @pytest.fixture(autouse=True)
    def cap_of_the_sample(self, monkeypatch):
        monkeypatch.setattr(_files, "MAX_FILE_BYTES", len(CSV))

    @pytest.mark.parametrize("reply", [Reply(CSV, endless=True), Reply(CSV, declared_length=len(CSV) + 1)],
                             ids=["endless body", "declared length over the cap"])
    def test_a_body_over_the_cap_is_stopped_and_the_copy_kept(self, server, cache, reply):
        fetch()
        make_old(cache)
        server.replies["SW-All.csv"] = reply
        with pytest.warns(UserWarning, match="the body is larger than the"):
            paths = fetch()
        assert paths["csv"].read_bytes() == CSV and leftovers(cache) == []


class TestTheRecordOfADownload:
    @pytest.fixture
    def copy(self, server, cache):
        server.replies["SW-All.csv"].etag = '"v1"'
        fetch()
        make_old(cache)
        return cache / "SW-All.csv"

    @staticmethod
    def edited(data):
        digit = data.index(b"\n") + 12  # in the first row's BSRN
        return data[:digit] + (b"8" if data[digit:digit + 1] == b"9" else b"9") + data[digit + 1:]

    @pytest.mark.parametrize("damage", ["cut short", "edited", "recorded without size and hash"])
    def test_a_copy_changed_since_is_downloaded_again_not_confirmed_by_a_304(self, server, cache, copy, damage):
        record_path = cache / "SW-All.csv.http.json"
        if damage == "cut short":
            copy.write_bytes(CSV[:len(CSV) // 2])
        elif damage == "edited":
            copy.write_bytes(self.edited(CSV))
        else:  # as an earlier version wrote it
            record = json.loads(record_path.read_text())
            record_path.write_text(json.dumps({key: record[key] for key in ("url", "etag", "last_modified")}))
        make_old(cache)
        assert fetch(max_age=3600)["csv"].read_bytes() == CSV
        assert "If-None-Match" not in server.served("SW-All.csv")[-1]

    @pytest.mark.parametrize("etag", ['"v1"\r\nX-Injected: 1', '"v1"\n', '"v1"\x00', "\u00e9", 17, ["v1"]])
    def test_a_validator_that_cannot_stand_in_a_header_is_not_sent(self, server, cache, copy, etag):
        record_path = cache / "SW-All.csv.http.json"
        record_path.write_text(json.dumps({**json.loads(record_path.read_text()), "etag": etag}))
        make_old(cache)
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            assert fetch()["csv"].read_bytes() == CSV
        assert "If-None-Match" not in server.served("SW-All.csv")[-1]


class TestLocalErrors:
    """A local OSError in one file's refresh leaves its cached copy in use, with the warning."""

    def test_a_lock_that_cannot_be_opened(self, server, cache):
        fetch()
        make_old(cache)
        (cache / "SW-All.csv.lock").unlink()
        (cache / "SW-All.csv.lock").symlink_to("SW-All.csv.lock")  # a loop
        with pytest.warns(UserWarning, match=r"SW-All.csv \(.*Too many levels of symbolic links"):
            assert fetch()["csv"].read_bytes() == CSV

    def test_a_304_for_a_copy_whose_time_cannot_be_set(self, server, cache, monkeypatch):
        server.replies["SW-All.csv"].etag = '"v1"'
        fetch()
        make_old(cache)

        def not_permitted(path, *args, **kwargs):  # as for a copy another user owns
            raise PermissionError(1, "Operation not permitted", str(path))

        monkeypatch.setattr(os, "utime", not_permitted)
        with pytest.warns(UserWarning, match=r"SW-All.csv \(.*Operation not permitted"):
            assert fetch()["csv"].read_bytes() == CSV
        assert server.served("SW-All.csv")[-1]["If-None-Match"] == '"v1"'


class TestTheCacheFolder:
    def test_a_plain_path_is_a_local_file(self, server, cache, monkeypatch, tmp_path):
        monkeypatch.setenv("SUNINDEX_URL_CSV", str(SAMPLE_DIR / "SW-sample.csv"))
        monkeypatch.setenv("SUNINDEX_URL_SOLFSMY", os.path.relpath(SAMPLE_DIR / "SOLFSMY-sample.TXT"))
        paths = fetch()
        assert (paths["csv"].read_bytes(), paths["solfsmy"].read_bytes()) == (CSV, SAMPLES["SOLFSMY.TXT"])
        assert [name for name, _ in server.requests] == ["DTCFILE.TXT"]

    def test_a_local_fifo_is_refused_not_waited_on(self, server, cache, monkeypatch, tmp_path):
        os.mkfifo(tmp_path / "fifo")
        monkeypatch.setenv("SUNINDEX_URL_CSV", str(tmp_path / "fifo"))
        with pytest.raises(FetchError, match=f"SW-All.csv from {(tmp_path / 'fifo').as_uri()}: .*not a regular file"):
            fetch()

    def test_partial_files_of_a_killed_process_are_swept_at_the_next_refresh(self, server, cache):
        fetch()
        for name in (".SW-All.csv.0123456789abcdef.part", ".SW-All.csv.http.json.0123456789abcdef.part"):
            (cache / name).write_bytes(CSV[:100])
        make_old(cache)
        fetch()
        assert leftovers(cache) == []

    @pytest.mark.parametrize("existing", [False, True])
    def test_a_failed_first_download_leaves_nothing_behind(self, server, tmp_path, existing):
        folder = tmp_path / "mistyped" / "deeper"
        if existing:
            folder.mkdir(parents=True)
        for name in SAMPLES:
            server.replies[name] = Reply(b"gone", status=404)
        with pytest.raises(FetchError, match="HTTP 404"):
            fetch(data_dir=folder)
        assert (sorted(folder.iterdir()) == []) if existing else not (tmp_path / "mistyped").exists()

    def test_only_the_files_asked_for_are_fetched(self, server, cache):
        assert list(fetch(kinds=["dtcfile"])) == ["dtcfile"]
        assert [name for name, _ in server.requests] == ["DTCFILE.TXT"]


class TestOffline:
    def test_stale_copies_are_used_without_a_request(self, server, cache):
        fetch()
        make_old(cache)
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            paths = fetch(offline=True)
        assert paths["dtcfile"].read_bytes() == SAMPLES["DTCFILE.TXT"] and len(server.requests) == 3

    def test_a_file_never_downloaded_is_an_error(self, server, cache):
        with pytest.raises(FetchError, match="SW-All.csv from .*: offline, and never downloaded"):
            fetch(offline=True)
        assert server.requests == []


class TestProgress:
    @pytest.mark.parametrize("terminal", [True, False])
    def test_a_slow_download_draws_a_bar_only_on_a_terminal(self, server, monkeypatch, capsys, terminal):
        monkeypatch.setattr(sys.stderr, "isatty", lambda: terminal)
        monkeypatch.setattr(fetch_module, "_SLOW_DOWNLOAD_SECONDS", 0.0)
        server.replies["SW-All.csv"].chunk_pause = 0.11
        fetch()
        drawn = capsys.readouterr().err
        assert ("SW-All.csv [" in drawn and "100% of 0.1 MB" in drawn) == terminal
        assert drawn == "" or terminal


def test_two_processes_fetching_at_once_leave_one_whole_file_and_readers_never_see_a_torn_one(server, cache):
    server.replies["SW-All.csv"].chunk_pause = 0.1
    fetch()
    make_old(cache)
    code = "from sunindex_tools.fetch import fetch; fetch()"
    workers = [subprocess.Popen([sys.executable, "-c", code], env=os.environ.copy()) for _ in range(2)]
    seen = set()
    while any(worker.poll() is None for worker in workers):
        seen.add((cache / "SW-All.csv").read_bytes())
    assert [worker.wait() for worker in workers] == [0, 0]
    assert seen == {CSV} and (cache / "SW-All.csv").read_bytes() == CSV
    # The second waited for the first one's lock, then found the copy fresh.
    assert len(server.served("SW-All.csv")) == 2 and leftovers(cache) == []
