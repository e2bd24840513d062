"""Downloads into the cache, against an HTTP server on 127.0.0.1 that each test scripts."""

import http.server
import os
import subprocess
import sys
import threading
import time
import warnings
from dataclasses import dataclass, field
from pathlib import Path

import pytest

from conftest import SAMPLE_DIR
from sunindex_tools import SpaceWeather
from sunindex_tools import fetch as fetch_module
from sunindex_tools.fetch import FetchError, fetch

SAMPLES = {
    "SW-All.csv": (SAMPLE_DIR / "SW-sample.csv").read_bytes(),
    "SOLFSMY.TXT": (SAMPLE_DIR / "SOLFSMY-sample.TXT").read_bytes(),
    "DTCFILE.TXT": (SAMPLE_DIR / "DTCFILE-sample.TXT").read_bytes(),
}
KEYS = {"SW-All.csv": "SUNINDEX_URL_CSV", "SOLFSMY.TXT": "SUNINDEX_URL_SOLFSMY", "DTCFILE.TXT": "SUNINDEX_URL_DTCFILE"}
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
            self.send_response(reply.status)
            self.send_header("Content-Length", str(reply.declared_length or len(reply.body)))
            for header, value in (("ETag", reply.etag), ("Last-Modified", reply.last_modified)):
                if value:
                    self.send_header(header, value)
            self.end_headers()
            for start in range(0, len(reply.body), 32768):
                self.wfile.write(reply.body[start:start + 32768])
                time.sleep(reply.chunk_pause)

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

    def test_an_unknown_url_key_is_refused(self, server):
        with pytest.raises(ValueError, match="unknown key 'sw'"):
            fetch(urls={"sw": server.url})

    def test_a_file_url_serves_a_local_copy(self, server, cache, monkeypatch):
        monkeypatch.setenv("SUNINDEX_URL_CSV", (SAMPLE_DIR / "SW-sample.csv").as_uri())
        assert fetch(data_dir=cache / "other")["csv"].read_bytes() == CSV


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
    "stall past the timeout": (Reply(CSV, stall=2.0), "no answer within the 0.3 s timeout"),
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
