"""The three published files, downloaded into a per-user cache and refreshed when stale.

`fetch()` returns the paths of local copies of CelesTrak's ``SW-All.csv`` and the JB2008
``SOLFSMY.TXT`` and ``DTCFILE.TXT``. A copy younger than ``max_age`` is used as it is; an
older one is revalidated with a conditional request, so an unchanged file costs a 304 and
no download. A download lands in a temporary file beside the copy, is loaded exactly as
`SpaceWeather.load` loads it, and only then replaces the copy in one atomic rename: a good
copy is never replaced by one that would not load, and a reader never sees a half-written
file. Beside each copy, ``<name>.http.json`` records where it came from, its validators,
its size and SHA-256, and when it was last checked; a copy that no longer matches that
record (cut short or edited since) is downloaded again, never confirmed by a 304.
"""

from __future__ import annotations

import contextlib
import datetime
import fcntl
import hashlib
import http.client
import json
import os
import secrets
import socket
import sys
import threading
import time
import urllib.error
import urllib.parse
import urllib.request
import warnings
from collections.abc import Iterable, Iterator, Mapping
from dataclasses import dataclass
from email.message import Message
from pathlib import Path
from typing import IO, Any

import platformdirs

from . import _files, _native
from ._file_kinds import read_native
from ._text import printable

__all__ = ["DEFAULT_MAX_AGE", "DEFAULT_TIMEOUT", "FILE_NAMES", "FetchError", "cache_dir", "describe_age", "fetch",
           "last_checked"]

#: A copy younger than this is used without asking the server. CelesTrak refreshes its
#: file every few hours; a revalidation of an unchanged file costs only a 304.
DEFAULT_MAX_AGE = datetime.timedelta(hours=6)

#: Seconds one file's whole download may take, and a wait for another process's download.
DEFAULT_TIMEOUT = 30.0

# A download that has not finished after this many seconds gets a progress bar (on a terminal).
_SLOW_DOWNLOAD_SECONDS = 1.0
_CHUNK_BYTES = 64 * 1024
_LOCK_POLL_SECONDS = 0.05
_USER_AGENT = "sunindex (Python urllib)"


@dataclass(frozen=True)
class _Source:
    key: str
    file_name: str
    default_url: str

    @property
    def url_variable(self) -> str:
        return f"SUNINDEX_URL_{self.key.upper()}"


_SOURCES = (
    _Source("csv", "SW-All.csv", "https://celestrak.org/SpaceData/SW-All.csv"),
    _Source("solfsmy", "SOLFSMY.TXT", "https://sol.spacenvironment.net/JB2008/indices/SOLFSMY.TXT"),
    _Source("dtcfile", "DTCFILE.TXT", "https://sol.spacenvironment.net/JB2008/indices/DTCFILE.TXT"),
)

#: The name of each file in the cache folder, by the key `fetch` returns it under.
FILE_NAMES = {source.key: source.file_name for source in _SOURCES}
# The native timeline's list of sources is the one definition: SpaceWeather.load takes
# what fetch returns by these keys, so each must be one of its sources.
if not set(FILE_NAMES) <= set(_native.SOURCE_KEYS):
    raise ImportError(f"sunindex_tools: source keys {tuple(FILE_NAMES)} are not among {_native.SOURCE_KEYS}")


class FetchError(OSError):
    """A file could not be downloaded, or what was downloaded is not a valid file."""


def cache_dir(data_dir: str | os.PathLike[str] | None = None) -> Path:
    """The folder holding the downloaded files: `data_dir` if given, else the environment
    variable ``SUNINDEX_DATA_DIR`` if set, else the per-user cache folder of platformdirs
    (``~/.cache/sunindex`` on Linux). The folder is not created here."""
    if data_dir is not None:
        return Path(data_dir)
    if os.environ.get("SUNINDEX_DATA_DIR"):
        return Path(os.environ["SUNINDEX_DATA_DIR"])
    return Path(platformdirs.user_cache_dir("sunindex"))


def fetch(
    *,
    max_age: datetime.timedelta | float = DEFAULT_MAX_AGE,
    offline: bool = False,
    data_dir: str | os.PathLike[str] | None = None,
    urls: Mapping[str, str] | None = None,
    timeout: float = DEFAULT_TIMEOUT,
    keys: Iterable[str] | None = None,
) -> dict[str, Path]:
    """Local copies of the files, downloaded or revalidated where older than `max_age`.

    Parameters
    ----------
    max_age
        A `datetime.timedelta` or seconds (default 6 hours; 0 revalidates every copy).
    offline
        Request nothing: cached copies are used whatever their age.
    data_dir
        The cache folder (see `cache_dir`). It is created by the first download into it,
        and removed again when that download fails and leaves it empty.
    urls
        Some of the keys mapped to other URLs; otherwise the environment variables
        ``SUNINDEX_URL_CSV``, ``SUNINDEX_URL_SOLFSMY`` and ``SUNINDEX_URL_DTCFILE``, then
        the publishers' URLs, are used. Any URL urllib opens works, ``file://`` included;
        a plain path is a local file.
    timeout
        Seconds that one file's whole download may take, however slowly the server sends,
        and that a wait for another process refreshing the same file may take.
    keys
        The files wanted (default all three).

    Returns
    -------
    dict
        ``{"csv": ..., "solfsmy": ..., "dtcfile": ...}`` (the keys asked for), paths in the
        cache folder.

    Raises
    ------
    FetchError
        Naming each failed URL, when a file has no cached copy and could not be had.

    When a refresh fails (network down, HTTP error, a bad, oversized, slow or cut-off
    download, a local error such as a lock or file that cannot be written) and a copy is
    cached, that copy is used and one `UserWarning` says how old it is and why it was not
    refreshed.
    """
    folder = cache_dir(data_dir)
    created = _outermost_missing(folder)
    limit = max_age.total_seconds() if isinstance(max_age, datetime.timedelta) else float(max_age)
    chosen = _chosen_urls(urls or {})
    paths: dict[str, Path] = {}
    stale: list[str] = []
    missing: list[str] = []
    for source in _chosen_sources(keys):
        url = chosen[source.key]
        target = folder / source.file_name
        try:
            _refresh(url, target, source, limit, offline, timeout)
        except OSError as error:  # FetchError, or a local failure: neither may cost a good copy
            if not target.is_file():
                missing.append(f"{source.file_name} from {url}: {error}")
                continue
            stale.append(f"{source.file_name} ({describe_age(_age_seconds(target))} old) "
                         f"could not be refreshed from {url}: {error}")
        paths[source.key] = target
    if missing:
        if created is not None:
            _remove_empty_folders(folder, created)
        raise FetchError(_no_copy_message(missing, folder))
    if stale:
        warnings.warn("using cached copies: " + "; ".join(stale), UserWarning, stacklevel=2)
    return paths


def describe_age(seconds: float) -> str:
    """A short human reading of a duration: ``"42 s"``, ``"17 min"``, ``"5.2 h"``, ``"3.1 days"``."""
    if seconds < 60:
        return f"{seconds:.0f} s"
    if seconds < 3600:
        return f"{seconds / 60:.0f} min"
    if seconds < 86400:
        return f"{seconds / 3600:.1f} h"
    return f"{seconds / 86400:.1f} days"


def last_checked(path: str | os.PathLike[str]) -> float | None:
    """When the copy at `path` was last downloaded or confirmed unchanged by its server, in
    seconds since 1970; None when it never was (placed there by hand) or has changed since."""
    record = _record_of(Path(path))
    checked = record.get("checked") if record else None
    if isinstance(checked, (int, float)) and not isinstance(checked, bool):
        return float(checked)
    return None


def _chosen_sources(keys: Iterable[str] | None) -> list[_Source]:
    wanted = set(FILE_NAMES) if keys is None else set(keys)
    _refuse_unknown_keys("keys", wanted)
    return [source for source in _SOURCES if source.key in wanted]


def _chosen_urls(urls: Mapping[str, str]) -> dict[str, str]:
    """Each file's URL: from `urls`, else its environment variable, else the publisher's."""
    _refuse_unknown_keys("urls", set(urls))
    return {source.key: _as_url(urls.get(source.key) or os.environ.get(source.url_variable) or source.default_url)
            for source in _SOURCES}


def _refuse_unknown_keys(argument: str, keys: set[str]) -> None:
    unknown = keys - set(FILE_NAMES)
    if unknown:
        raise ValueError(f"{argument}: unknown key {sorted(unknown)[0]!r}; the keys are {', '.join(FILE_NAMES)}")


def _as_url(text: str) -> str:
    """`text` as a URL: a plain path (no scheme) becomes the ``file://`` URL of that file."""
    if urllib.parse.urlsplit(text).scheme:
        return text
    return Path(text).expanduser().absolute().as_uri()


def _no_copy_message(failures: list[str], folder: Path) -> str:
    return (f"no copy in {folder} and could not download {'; '.join(failures)}. "
            "To use a local file, set SUNINDEX_URL_CSV / SUNINDEX_URL_SOLFSMY / SUNINDEX_URL_DTCFILE "
            "to its path, or pass the paths to SpaceWeather.load(csv=..., solfsmy=..., dtcfile=...)")


def _outermost_missing(folder: Path) -> Path | None:
    """The outermost folder on the way to `folder` that does not exist yet (None if it exists)."""
    missing = None
    for candidate in (folder, *folder.parents):
        if candidate.exists():
            break
        missing = candidate
    return missing


def _remove_empty_folders(folder: Path, outermost: Path) -> None:
    """Removes `folder` and its parents up to `outermost`, each only while it is empty, so that
    a mistyped folder whose first download failed leaves nothing behind."""
    for candidate in (folder, *folder.parents):
        try:
            candidate.rmdir()
        except OSError:
            return
        if candidate == outermost:
            return


def _age_seconds(path: Path) -> float:
    """Seconds since `path` was last downloaded or confirmed unchanged; infinite when absent."""
    try:
        return max(0.0, time.time() - path.stat().st_mtime)
    except FileNotFoundError:
        return float("inf")


def _refresh(url: str, target: Path, source: _Source, max_age: float, offline: bool, timeout: float) -> None:
    if _age_seconds(target) < max_age:
        return
    if offline:
        if target.is_file():
            return
        raise FetchError("offline, and never downloaded")
    target.parent.mkdir(parents=True, exist_ok=True)
    with _lock(target, timeout):
        # Another process may have refreshed the copy while this one waited for the lock.
        if _age_seconds(target) < max_age:
            return
        _sweep_partial_files(target)
        _revalidate(url, target, source, timeout)


@contextlib.contextmanager
def _lock(target: Path, timeout: float) -> Iterator[None]:
    """Holds an exclusive lock on `target`'s lock file, so that one process at a time refreshes
    it; raises FetchError when another has held it for `timeout` seconds.

    The lock file of a copy stays: removing it would let a third process lock a new file
    while a second still waits on the old one (at worst two downloads, each atomic). One
    this call made is removed when the refresh leaves no copy, so that a failed first
    download leaves nothing behind."""
    path = target.with_name(target.name + ".lock")
    descriptor, created = _open_lock_file(path)
    try:
        _acquire(descriptor, timeout)
        try:
            yield
        finally:
            if created and not target.exists():
                path.unlink(missing_ok=True)
    finally:
        os.close(descriptor)  # which releases the lock


def _open_lock_file(path: Path) -> tuple[int, bool]:
    """A descriptor of the lock file, and whether this call created it. Read-only: flock
    needs no more, so another user's lock file serves as well; non-blocking, so that a
    FIFO in its place cannot hold the open."""
    flags = os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC
    try:
        return os.open(path, flags | os.O_CREAT | os.O_EXCL, 0o666), True
    except FileExistsError:
        return os.open(path, flags), False


def _acquire(descriptor: int, timeout: float) -> None:
    # Polled rather than blocking, so that the wait has an end.
    deadline = time.monotonic() + timeout
    while True:
        try:
            fcntl.flock(descriptor, fcntl.LOCK_EX | fcntl.LOCK_NB)
            return
        except BlockingIOError:
            if time.monotonic() >= deadline:
                raise FetchError(f"another process was still refreshing it after the {timeout:g} s timeout") from None
            time.sleep(_LOCK_POLL_SECONDS)


def _sweep_partial_files(target: Path) -> None:
    """Removes the temporary files of downloads whose process was killed: while this process
    holds the lock, no other writes one."""
    for leftover in target.parent.glob(f".{target.name}.*.part"):
        leftover.unlink(missing_ok=True)


def _temporary_beside(path: Path) -> Path:
    # Not tempfile.mkstemp: its files are private (0600), and the copy should have the
    # permissions the user's umask gives any new file.
    return path.with_name(f".{path.name}.{secrets.token_hex(8)}.part")


def _revalidate(url: str, target: Path, source: _Source, timeout: float) -> None:
    _refuse_local_non_file(url)
    record = _record_of(target)
    conditional = _conditional_headers(record, url)
    request = urllib.request.Request(url, headers={"User-Agent": _USER_AGENT, **conditional})
    temporary = _temporary_beside(target)
    deadline = _Deadline(timeout)
    try:
        try:
            with deadline, deadline.opener().open(request, timeout=timeout) as response:
                headers = response.headers
                _refuse_encoded(headers)
                with open(temporary, "xb") as out:
                    size, digest = _copy_body(response, out, source.file_name, deadline)
                    out.flush()
                    os.fsync(out.fileno())
        except urllib.error.HTTPError as error:
            error.close()
            if error.code == 304 and record is not None and conditional:
                os.utime(target)  # the age counts from the last confirmation
                _write_record(target, {**record, "checked": time.time()})
                return
            raise FetchError(printable(f"HTTP {error.code} {error.reason}")) from None
        except urllib.error.URLError as error:
            raise FetchError(_describe_failure(error.reason, deadline, timeout)) from None
        except (OSError, http.client.HTTPException) as error:
            raise FetchError(_describe_failure(error, deadline, timeout)) from None
        if deadline.expired:
            raise FetchError(_timed_out(timeout))
        _check_download(source, temporary, size, _content_length(headers))
        os.replace(temporary, target)
        _write_record(target, {"url": url, "etag": headers.get("ETag"), "last_modified": headers.get("Last-Modified"),
                               "size": size, "sha256": digest, "checked": time.time()})
    finally:
        temporary.unlink(missing_ok=True)


def _refuse_encoded(headers: Message) -> None:
    """No encoding was asked for, so a body sent compressed is refused by name: its
    bytes would otherwise be taken for a file cut off or malformed."""
    encoding = headers.get("Content-Encoding", "identity").strip().lower()
    if encoding not in ("", "identity"):
        raise FetchError(printable(f"the server sent the body with Content-Encoding {encoding}, "
                                   "which was not asked for and is not read"))


def _refuse_local_non_file(url: str) -> None:
    """A ``file:`` URL must name a regular file: urllib would wait for ever for a FIFO's writer."""
    parts = urllib.parse.urlsplit(url)
    path = Path(urllib.request.url2pathname(parts.path))
    if parts.scheme == "file" and path.exists() and not path.is_file():
        raise FetchError(f"{path}: not a regular file")


def _describe_failure(error: object, deadline: _Deadline, timeout: float) -> str:
    if deadline.expired or isinstance(error, TimeoutError):
        return _timed_out(timeout)
    return printable(str(error)) or type(error).__name__


def _timed_out(timeout: float) -> str:
    return f"the download did not finish within the {timeout:g} s timeout"


def _copy_body(response: Any, out: IO[bytes], name: str, deadline: _Deadline) -> tuple[int, str]:
    """Copies the body into `out` until it ends or the deadline passes; returns its size and SHA-256."""
    expected = _content_length(response.headers)
    if expected is not None and expected > _files.MAX_FILE_BYTES:
        raise FetchError(f"the body is {_files.too_large()}")
    progress = _Progress(name, expected)
    digest = hashlib.sha256()
    received = 0
    try:
        # read1: whatever has arrived, where read(n) would wait for n bytes of a trickle.
        while not deadline.expired and (chunk := response.read1(_CHUNK_BYTES)):
            received += len(chunk)
            if received > _files.MAX_FILE_BYTES:
                raise FetchError(f"the body is {_files.too_large()}")
            out.write(chunk)
            digest.update(chunk)
            progress.show(received)
    finally:
        progress.close()
    return received, digest.hexdigest()


def _content_length(headers: Message) -> int | None:
    try:
        return int(headers.get("Content-Length", ""))
    except ValueError:
        return None


def _check_download(source: _Source, path: Path, received: int, expected: int | None) -> None:
    """Raises `FetchError` unless `path` holds a whole file of `source`'s format with rows,
    read as `SpaceWeather.load` reads it."""
    if expected is not None and received < expected:
        raise FetchError(f"the body was cut off after {received} of {expected} bytes")
    content = _files.read_regular_file(path)
    if not content and expected is None:  # no Content-Length: maybe not even the end of the headers
        raise FetchError("the server closed the connection without sending a body")
    if not content:
        raise FetchError("the server sent an empty body")
    if content[:512].lstrip().startswith(b"<"):
        raise FetchError(f"the server sent an HTML page, not {source.file_name}")
    if not content.endswith(b"\n"):
        raise FetchError("the body ends in the middle of a line: the download was cut off")
    try:
        read = read_native([(source.key, content)])
    except ValueError as error:  # not named by the temporary file's path, which means nothing to a reader
        raise FetchError(f"the download is not a valid {source.file_name}: {printable(error.args[1])}") from None
    if not read.has_rows(source.key):
        raise FetchError(f"the download holds no dated rows of {source.file_name}")


# -- The record beside each copy

def _record_path(target: Path) -> Path:
    return target.with_name(target.name + ".http.json")


def _record_of(target: Path) -> dict[str, Any] | None:
    """The record of the copy at `target`, when it still describes that very file."""
    try:
        record = json.loads(_files.read_regular_file(_record_path(target)))
        copy = _files.read_regular_file(target)
    except (OSError, ValueError, RecursionError):
        return None
    if (not isinstance(record, dict) or record.get("size") != len(copy)
            or record.get("sha256") != hashlib.sha256(copy).hexdigest()):
        return None
    return record


def _conditional_headers(record: dict[str, Any] | None, url: str) -> dict[str, str]:
    """The validators to send for a copy with `record`, when it came from this very `url`."""
    if record is None or record.get("url") != url:
        return {}
    headers = {}
    for header, name in (("If-None-Match", "etag"), ("If-Modified-Since", "last_modified")):
        value = record.get(name)
        # A value that could not stand in a header (CR, LF, other control characters) is not sent.
        if isinstance(value, str) and value and value.isascii() and value.isprintable():
            headers[header] = value
    return headers


def _write_record(target: Path, record: dict[str, Any]) -> None:
    path = _record_path(target)
    temporary = _temporary_beside(path)
    try:
        temporary.write_text(json.dumps(record))
        os.replace(temporary, path)
    finally:
        temporary.unlink(missing_ok=True)


# -- The deadline of one download

class _Deadline:
    """Ends a download `seconds` after it began, however slowly the server sends.

    A socket timeout bounds each wait for data, not their sum: a server sending a few bytes
    every second would never trip it. At the deadline, every connection made through
    `opener()` is shut down, which wakes a read blocked on it, and `expired` turns true.
    """

    def __init__(self, seconds: float) -> None:
        self.expired = False
        self._guard = threading.Lock()
        self._sockets: list[socket.socket] = []
        self._timer = threading.Timer(seconds, self._expire)
        self._timer.daemon = True

    def __enter__(self) -> _Deadline:
        self._timer.start()
        return self

    def __exit__(self, *exception: object) -> None:
        self._timer.cancel()
        with self._guard:
            self._sockets.clear()  # closed soon after: a late timer must not touch them

    def opener(self) -> urllib.request.OpenerDirector:
        """urllib's default opener, its HTTP and HTTPS connections watched by this deadline."""
        return urllib.request.build_opener(_WatchedHTTPHandler(self), _WatchedHTTPSHandler(self))

    def watch(self, connection: socket.socket) -> None:
        with self._guard:
            self._sockets.append(connection)
            if self.expired:
                _shut_down(connection)

    def _expire(self) -> None:
        with self._guard:
            self.expired = True
            for connection in self._sockets:
                _shut_down(connection)


def _shut_down(connection: socket.socket) -> None:
    # socket.socket's own shutdown: an SSLSocket's would drop its TLS state under a read in progress.
    with contextlib.suppress(OSError):
        socket.socket.shutdown(connection, socket.SHUT_RDWR)


class _Watching:
    """Mixed into urllib's HTTP and HTTPS handlers: each connection they open is watched."""

    def __init__(self, deadline: _Deadline) -> None:
        super().__init__()
        self.deadline = deadline

    def do_open(self, http_class: Any, req: urllib.request.Request, **http_conn_args: Any) -> http.client.HTTPResponse:
        deadline = self.deadline

        class Watched(http_class):  # type: ignore[misc]
            def connect(self) -> None:
                super().connect()
                deadline.watch(self.sock)

        return super().do_open(Watched, req, **http_conn_args)  # type: ignore[misc,no-any-return]


class _WatchedHTTPHandler(_Watching, urllib.request.HTTPHandler):
    pass


class _WatchedHTTPSHandler(_Watching, urllib.request.HTTPSHandler):
    pass


class _Progress:
    """A one-line progress bar on stderr, drawn only on a terminal and only once a
    download has taken longer than `_SLOW_DOWNLOAD_SECONDS`."""

    def __init__(self, name: str, total: int | None) -> None:
        self.name, self.total = name, total
        self.enabled = sys.stderr is not None and not sys.stderr.closed and sys.stderr.isatty()
        self.start = time.monotonic()
        self.drawn_at = 0.0

    def show(self, received: int) -> None:
        now = time.monotonic()
        if not self.enabled or now - self.start < _SLOW_DOWNLOAD_SECONDS or now - self.drawn_at < 0.1:
            return
        self.drawn_at = now
        if self.total:
            done = min(1.0, received / self.total)
            bar = "#" * int(30 * done)
            line = f"{self.name} [{bar:<30}] {done:4.0%} of {self.total / 1e6:.1f} MB"
        else:
            line = f"{self.name} {received / 1e6:.1f} MB"
        sys.stderr.write("\r" + line)
        sys.stderr.flush()

    def close(self) -> None:
        if self.drawn_at:
            sys.stderr.write("\n")
            sys.stderr.flush()
