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
from dataclasses import dataclass, field
from email.message import Message
from pathlib import Path
from typing import IO, Any

from . import _archive, _files
from ._file_kinds import read_native
from ._published import (
    DEFAULT_KINDS,
    DEFAULT_MAX_AGE,
    DEFAULT_TIMEOUT,
    FILE_NAMES,
    READERS,
    _SOURCES,
    FetchError,
    _Source,
    by_reader,
    cache_dir,
)
from ._text import printable

__all__ = ["DEFAULT_KINDS", "DEFAULT_MAX_AGE", "DEFAULT_TIMEOUT", "FILE_NAMES", "READERS", "SUBSTITUTES", "FetchError",
           "by_reader", "cache_dir", "describe_age", "fetch", "fetch_or_substitute", "last_checked", "retrieved"]

# A download that has not finished after this many seconds gets a progress bar (on a terminal).
_SLOW_DOWNLOAD_SECONDS = 1.0
_CHUNK_BYTES = 64 * 1024
_LOCK_POLL_SECONDS = 0.05
_USER_AGENT = "sunindex (Python urllib)"
_EPOCH_DAY = datetime.date(1970, 1, 1)
_EPOCH_INSTANT = datetime.datetime(1970, 1, 1, tzinfo=datetime.timezone.utc)


def fetch(
    *,
    max_age: datetime.timedelta | float = DEFAULT_MAX_AGE,
    offline: bool = False,
    data_dir: str | os.PathLike[str] | None = None,
    urls: Mapping[str, str] | None = None,
    timeout: float = DEFAULT_TIMEOUT,
    kinds: Iterable[str] | None = None,
    archive: bool | None = None,
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
        Some of the kinds mapped to other URLs; otherwise the environment variable
        ``SUNINDEX_URL_<KIND>`` (``SUNINDEX_URL_CSV``, ``SUNINDEX_URL_GFZ_NOWCAST``, ...),
        then the publisher's URL, is used. Any URL urllib opens works, ``file://``
        included; a plain path is a local file.
    timeout
        Seconds that one file's whole download may take, however slowly the server sends,
        and that a wait for another process refreshing the same file may take.
    kinds
        The files wanted, of `FILE_NAMES` (default `DEFAULT_KINDS`: csv, solfsmy, dtcfile).
    archive
        Keep each new version that replaces a cached copy in the archive beside the cache
        (see `sunindex_tools._archive`); default: the environment variable
        ``SUNINDEX_ARCHIVE`` is ``1``.

    Returns
    -------
    dict
        ``{"csv": ..., "solfsmy": ..., "dtcfile": ...}`` (the kinds asked for), paths in the
        cache folder.

    Raises
    ------
    FetchError
        Naming each failed URL, when a file has no cached copy and could not be had.

    When a refresh fails (network down, HTTP error, a bad, oversized, slow or cut-off
    download, a local error such as a lock or file that cannot be written) and a copy is
    cached, that copy is used and one `UserWarning` says how old it is and why it was not
    refreshed. A version that could not be archived is used all the same, with a warning.
    """
    folder = cache_dir(data_dir)
    outcome = _fetch_kinds(folder, _chosen_kinds(kinds), max_age, offline, urls, timeout, archive)
    if outcome.missing:
        raise FetchError(_no_copy_message(list(outcome.missing.values()), folder))
    outcome.warn()
    return outcome.paths


def fetch_or_substitute(
    *,
    max_age: datetime.timedelta | float = DEFAULT_MAX_AGE,
    offline: bool = False,
    data_dir: str | os.PathLike[str] | None = None,
    urls: Mapping[str, str] | None = None,
    timeout: float = DEFAULT_TIMEOUT,
    kinds: Iterable[str] | None = None,
    archive: bool | None = None,
) -> dict[str, Path]:
    """As `fetch`, but a kind that cannot be had at all (no cached copy, and its download
    failed) is replaced by the kinds of `SUBSTITUTES` that give the same values, with one
    warning naming what is missing, what is used instead and what changes. Raises
    FetchError, naming every URL tried, only when a kind and its substitutes all fail."""
    folder = cache_dir(data_dir)
    wanted = _chosen_kinds(kinds)
    outcome = _fetch_kinds(folder, wanted, max_age, offline, urls, timeout, archive)
    unresolved: list[str] = []
    for kind, failure in list(outcome.missing.items()):
        substitute = SUBSTITUTES.get(kind)
        if substitute is None:
            unresolved.append(failure)
            continue
        extra = [other for other in (*substitute.needs_one_of, *substitute.also) if other not in outcome.tried]
        outcome.merge(_fetch_kinds(folder, extra, max_age, offline, urls, timeout, archive))
        used = [other for other in (*substitute.needs_one_of, *substitute.also) if other in outcome.paths]
        if not any(other in outcome.paths for other in substitute.needs_one_of):
            unresolved.extend([failure, *(outcome.missing[other] for other in extra if other in outcome.missing)])
            continue
        warnings.warn(f"no {FILE_NAMES[kind]} ({kind}) could be had ({failure}); using "
                      f"{', '.join(FILE_NAMES[other] for other in used)} instead: {substitute.change}",
                      UserWarning, stacklevel=2)
    if unresolved:
        raise FetchError(_no_copy_message(unresolved, folder))
    outcome.warn()
    return {kind: outcome.paths[kind] for kind in FILE_NAMES if kind in outcome.paths}


@dataclass(frozen=True)
class _Substitute:
    needs_one_of: tuple[str, ...]  # at least one of these must be had
    also: tuple[str, ...]  # used when they can be had
    change: str  # what the warning says changes


#: What stands in for a kind that cannot be had: the same values from another publisher.
SUBSTITUTES = {
    "csv": _Substitute(("gfz", "gfz_nowcast"), ("swpc",),
                       "Kp, ap, Ap and F10.7 come from GFZ, the 81-day mean of F10.7 is computed from the daily "
                       "fluxes, and the predicted days come from SWPC's 45-day forecast"),
    "txt": _Substitute(("csv",), (), "the same values come from CelesTrak's CSV"),
    "gfz": _Substitute(("csv",), (), "Kp, ap, Ap and F10.7 come from CelesTrak's CSV, which carries GFZ's"),
    "gfz_nowcast": _Substitute(("csv",), (), "the latest days come from CelesTrak's CSV"),
    "swpc": _Substitute(("csv",), (), "the predicted days come from the CSV, which carries SWPC's forecast"),
}


@dataclass
class _Outcome:
    """What fetching some kinds gave: the copies, and why the others could not be had."""

    paths: dict[str, Path] = field(default_factory=dict)
    missing: dict[str, str] = field(default_factory=dict)  # by kind: "<file> from <url>: <why>"
    stale: list[str] = field(default_factory=list)
    unarchived: list[str] = field(default_factory=list)
    tried: set[str] = field(default_factory=set)
    created: Path | None = None  # the outermost folder the first download made

    def merge(self, other: _Outcome) -> None:
        self.paths.update(other.paths)
        self.missing.update(other.missing)
        self.stale += other.stale
        self.unarchived += other.unarchived
        self.tried |= other.tried

    def warn(self) -> None:
        if self.stale:
            warnings.warn("using cached copies: " + "; ".join(self.stale), UserWarning, stacklevel=3)
        if self.unarchived:
            warnings.warn("not archived: " + "; ".join(self.unarchived), UserWarning, stacklevel=3)


def _fetch_kinds(folder: Path, kinds: list[str], max_age: datetime.timedelta | float, offline: bool,
                 urls: Mapping[str, str] | None, timeout: float, archive: bool | None) -> _Outcome:
    created = _outermost_missing(folder)
    limit = max_age.total_seconds() if isinstance(max_age, datetime.timedelta) else float(max_age)
    chosen = _chosen_urls(urls or {})
    archiving = os.environ.get("SUNINDEX_ARCHIVE") == "1" if archive is None else archive
    outcome = _Outcome(tried=set(kinds))
    for source in _SOURCES:
        if source.key not in kinds:
            continue
        url = chosen[source.key]
        target = folder / source.file_name
        try:
            unarchived = _refresh(url, target, source, limit, offline, timeout, archiving)
        except OSError as error:  # FetchError, or a local failure: neither may cost a good copy
            if not target.is_file():
                outcome.missing[source.key] = f"{source.file_name} from {url}: {error}"
                continue
            outcome.stale.append(f"{source.file_name} ({describe_age(_age_seconds(target))} old) "
                                 f"could not be refreshed from {url}: {error}")
        else:
            if unarchived:
                outcome.unarchived.append(f"the new version of {source.file_name} is used, but {unarchived}")
        outcome.paths[source.key] = target
    if created is not None and outcome.missing:
        _remove_empty_folders(folder, created)
    return outcome


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


def retrieved(path: str | os.PathLike[str]) -> datetime.datetime | None:
    """When the copy at `path` was downloaded (a 304 does not count: the bytes are older);
    None when its record does not say (placed there by hand, changed since, or recorded
    by an earlier version)."""
    record = _record_of(Path(path))
    try:
        moment = datetime.datetime.fromisoformat(record["retrieved"]) if record else None
    except (KeyError, TypeError, ValueError):
        return None
    return moment if moment is not None and moment.tzinfo is not None else None


def _chosen_kinds(kinds: Iterable[str] | None) -> list[str]:
    if isinstance(kinds, str):  # one kind, never its letters
        kinds = [kinds]
    wanted = list(DEFAULT_KINDS if kinds is None else dict.fromkeys(kinds))
    _refuse_unknown_keys("kinds", set(wanted))
    return wanted


def _chosen_urls(urls: Mapping[str, str]) -> dict[str, str]:
    """Each file's URL: from `urls`, else its environment variable, else the publisher's."""
    _refuse_unknown_keys("urls", set(urls))
    return {source.key: _as_url(urls.get(source.key) or os.environ.get(source.url_variable) or source.default_url)
            for source in _SOURCES}


def _refuse_unknown_keys(argument: str, keys: set[str]) -> None:
    unknown = keys - set(FILE_NAMES)
    if unknown:
        raise ValueError(f"{argument}: unknown kind {sorted(unknown)[0]!r}; the kinds are {', '.join(FILE_NAMES)}")


def _as_url(text: str) -> str:
    """`text` as a URL: a plain path (no scheme) becomes the ``file://`` URL of that file."""
    if urllib.parse.urlsplit(text).scheme:
        return text
    return Path(text).expanduser().absolute().as_uri()


def _no_copy_message(failures: list[str], folder: Path) -> str:
    return (f"no copy in {folder} and could not download {'; '.join(failures)}. "
            "To use a local file, set SUNINDEX_URL_<KIND> (SUNINDEX_URL_CSV, SUNINDEX_URL_GFZ, ...) "
            "to its path, or pass the paths to SpaceWeather.load(csv=..., gfz=..., ...)")


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


def _refresh(url: str, target: Path, source: _Source, max_age: float, offline: bool, timeout: float,
             archive: bool) -> str | None:
    """Brings the copy at `target` up to date; returns why a new version was not archived."""
    if _age_seconds(target) < max_age:
        return None
    if offline:
        if target.is_file():
            return None
        raise FetchError("offline, and never downloaded")
    target.parent.mkdir(parents=True, exist_ok=True)
    with _lock(target, timeout):
        # Another process may have refreshed the copy while this one waited for the lock.
        if _age_seconds(target) < max_age:
            return None
        _sweep_partial_files(target)
        return _revalidate(url, target, source, timeout, archive)


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


def _revalidate(url: str, target: Path, source: _Source, timeout: float, archive: bool) -> str | None:
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
                return None
            raise FetchError(printable(f"HTTP {error.code} {error.reason}")) from None
        except urllib.error.URLError as error:
            raise FetchError(_describe_failure(error.reason, deadline, timeout)) from None
        except (OSError, http.client.HTTPException) as error:
            raise FetchError(_describe_failure(error, deadline, timeout)) from None
        if deadline.expired:
            raise FetchError(_timed_out(timeout))
        retrieved = datetime.datetime.now(datetime.timezone.utc)
        content, summary = _check_download(source, temporary, size, _content_length(headers))
        # Archived before it replaces the copy: a process killed in between loses no version.
        unarchived = _archived(target, source, url, content, digest, retrieved, summary) if archive else None
        os.replace(temporary, target)
        _write_record(target, {"url": url, "etag": headers.get("ETag"), "last_modified": headers.get("Last-Modified"),
                               "size": size, "sha256": digest, "checked": time.time(),
                               "retrieved": retrieved.isoformat()})
    finally:
        temporary.unlink(missing_ok=True)
    return unarchived


def _archived(target: Path, source: _Source, url: str, content: bytes, digest: str, retrieved: datetime.datetime,
              summary: tuple[Any, Any]) -> str | None:
    """Keeps `content` in the archive unless the copy it replaces is the same version;
    returns why it could not be kept, or None."""
    record = _record_of(target)
    if record is not None and record.get("sha256") == digest:
        return None
    span, stamp = summary
    version = _archive.Version(source.key, digest, len(content), retrieved, stamp, span, url)
    try:
        _archive.store(target.parent, version, content)
    except OSError as error:  # disk full, a folder that cannot be written: the download stands
        return f"it could not be archived: {printable(str(error)) or type(error).__name__}"
    return None


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


def _check_download(source: _Source, path: Path, received: int,
                    expected: int | None) -> tuple[bytes, tuple[tuple[str, str] | None, str | None]]:
    """Raises `FetchError` unless `path` holds a whole file of `source`'s format with rows,
    read as `SpaceWeather.load` reads it; returns its bytes, the first and last day of its
    rows and the stamp it writes of itself (ISO 8601)."""
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
        read = read_native([(source.reader, content)])
    except ValueError as error:  # not named by the temporary file's path, which means nothing to a reader
        raise FetchError(f"the download is not a valid {source.file_name}: {printable(error.args[1])}") from None
    if not read.has_rows(source.reader):
        raise FetchError(f"the download holds no dated rows of {source.file_name}")
    assert read.timeline is not None  # it has rows
    _, span, stamp = read.timeline.summary()["files"][0]
    return content, (_iso_span(span), _iso_stamp(stamp))


def _iso_span(span: tuple[int, int]) -> tuple[str, str]:
    return (str(_EPOCH_DAY + datetime.timedelta(days=span[0])), str(_EPOCH_DAY + datetime.timedelta(days=span[1])))


def _iso_stamp(microseconds: int | None) -> str | None:
    if microseconds is None:
        return None
    return (_EPOCH_INSTANT + datetime.timedelta(microseconds=microseconds)).isoformat()


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
