"""The three published files, downloaded into a per-user cache and refreshed when stale.

`fetch()` returns the paths of local copies of CelesTrak's ``SW-All.csv`` and the JB2008
``SOLFSMY.TXT`` and ``DTCFILE.TXT``. A copy younger than ``max_age`` is used as it is; an
older one is revalidated with a conditional request, so an unchanged file costs a 304 and
no download. A download lands in a temporary file beside the copy, is read with the real
reader, and only then replaces the copy in one atomic rename: a good copy is never replaced
by a bad one, and a reader never sees a half-written file.
"""

from __future__ import annotations

import contextlib
import datetime
import fcntl
import http.client
import json
import os
import secrets
import sys
import time
import urllib.error
import urllib.request
import warnings
from collections.abc import Callable, Iterator, Mapping
from dataclasses import dataclass
from email.message import Message
from pathlib import Path
from typing import IO, Any

import platformdirs

from sunindex import Sunindex

__all__ = ["DEFAULT_MAX_AGE", "DEFAULT_TIMEOUT", "FILE_NAMES", "FetchError", "cache_dir", "describe_age", "fetch"]

#: A copy younger than this is used without asking the server. CelesTrak refreshes its
#: file every few hours; a revalidation of an unchanged file costs only a 304.
DEFAULT_MAX_AGE = datetime.timedelta(hours=6)

#: Seconds allowed to connect, and then for each wait for more of the body.
DEFAULT_TIMEOUT = 30.0

# A download that has not finished after this many seconds gets a progress bar (on a terminal).
_SLOW_DOWNLOAD_SECONDS = 1.0
_CHUNK_BYTES = 64 * 1024
_USER_AGENT = "sunindex (Python urllib)"


@dataclass(frozen=True)
class _Source:
    key: str
    file_name: str
    default_url: str
    read: Callable[[str], Sunindex]

    @property
    def url_variable(self) -> str:
        return f"SUNINDEX_URL_{self.key.upper()}"


_SOURCES = (
    _Source("csv", "SW-All.csv", "https://celestrak.org/SpaceData/SW-All.csv", Sunindex.from_celestrak_csv),
    _Source("solfsmy", "SOLFSMY.TXT", "https://sol.spacenvironment.net/JB2008/indices/SOLFSMY.TXT",
            Sunindex.from_set_solfsmy),
    _Source("dtcfile", "DTCFILE.TXT", "https://sol.spacenvironment.net/JB2008/indices/DTCFILE.TXT",
            Sunindex.from_set_dtcfile),
)

#: The name of each file in the cache folder, by the key `fetch` returns it under.
FILE_NAMES = {source.key: source.file_name for source in _SOURCES}


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
) -> dict[str, Path]:
    """Local copies of the three files, downloaded or revalidated where older than `max_age`.

    Returns ``{"csv": ..., "solfsmy": ..., "dtcfile": ...}``, the paths in the cache folder
    (see `cache_dir`). `max_age` is a `datetime.timedelta` or seconds (default 6 hours; 0
    revalidates every copy). `urls` maps some of those keys to other URLs; otherwise the
    environment variables ``SUNINDEX_URL_CSV``, ``SUNINDEX_URL_SOLFSMY`` and
    ``SUNINDEX_URL_DTCFILE``, then the publishers' URLs, are used. Any URL urllib opens
    works, ``file://`` included. `timeout` is in seconds, for connecting and for each wait
    for data.

    With `offline` true nothing is requested: cached copies are used whatever their age.
    When a refresh fails (network down, HTTP error, a bad or cut-off download) and a copy
    is cached, that copy is used and one `UserWarning` says how old it is and why it was
    not refreshed. Raises `FetchError`, naming each failed URL, when a file has no copy.
    """
    folder = cache_dir(data_dir)
    limit = max_age.total_seconds() if isinstance(max_age, datetime.timedelta) else float(max_age)
    chosen = _chosen_urls(urls or {})
    paths: dict[str, Path] = {}
    stale: list[str] = []
    missing: list[str] = []
    for source in _SOURCES:
        url = chosen[source.key]
        target = folder / source.file_name
        try:
            _refresh(source, url, target, limit, offline, timeout)
        except FetchError as error:
            if not target.is_file():
                missing.append(f"{source.file_name} from {url}: {error}")
                continue
            stale.append(f"{source.file_name} ({describe_age(_age_seconds(target))} old) "
                         f"could not be refreshed from {url}: {error}")
        paths[source.key] = target
    if missing:
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


def _chosen_urls(urls: Mapping[str, str]) -> dict[str, str]:
    """Each file's URL: from `urls`, else its environment variable, else the publisher's."""
    unknown = set(urls) - set(FILE_NAMES)
    if unknown:
        raise ValueError(f"urls: unknown key {sorted(unknown)[0]!r}; the keys are {', '.join(FILE_NAMES)}")
    return {source.key: urls.get(source.key) or os.environ.get(source.url_variable) or source.default_url
            for source in _SOURCES}


def _no_copy_message(failures: list[str], folder: Path) -> str:
    return (f"no copy in {folder} and could not download {'; '.join(failures)}. "
            "To use a local file, set SUNINDEX_URL_CSV / SUNINDEX_URL_SOLFSMY / SUNINDEX_URL_DTCFILE "
            "to a file:// URL, or pass the paths to SpaceWeather.load(csv=..., solfsmy=..., dtcfile=...)")


def _age_seconds(path: Path) -> float:
    """Seconds since `path` was last downloaded or confirmed unchanged; infinite when absent."""
    try:
        return max(0.0, time.time() - path.stat().st_mtime)
    except FileNotFoundError:
        return float("inf")


def _refresh(source: _Source, url: str, target: Path, max_age: float, offline: bool, timeout: float) -> None:
    if _age_seconds(target) < max_age:
        return
    if offline:
        if target.is_file():
            return
        raise FetchError("offline, and never downloaded")
    target.parent.mkdir(parents=True, exist_ok=True)
    with _lock(target):
        # Another process may have refreshed the copy while this one waited for the lock.
        if _age_seconds(target) < max_age:
            return
        _revalidate(source, url, target, timeout)


@contextlib.contextmanager
def _lock(target: Path) -> Iterator[None]:
    """Holds an exclusive lock on `target`'s lock file, so one process at a time refreshes it.
    The lock file stays: removing it would let a third process lock a different inode."""
    with open(target.with_name(target.name + ".lock"), "a") as lock_file:
        fcntl.flock(lock_file, fcntl.LOCK_EX)
        try:
            yield
        finally:
            fcntl.flock(lock_file, fcntl.LOCK_UN)


def _revalidate(source: _Source, url: str, target: Path, timeout: float) -> None:
    request = urllib.request.Request(url, headers=_request_headers(url, target))
    try:
        with urllib.request.urlopen(request, timeout=timeout) as response:
            _download(source, url, response, target)
    except urllib.error.HTTPError as error:
        error.close()
        if error.code == 304 and target.is_file():
            os.utime(target)  # the age counts from the last confirmation
            return
        raise FetchError(f"HTTP {error.code} {error.reason}") from None
    except urllib.error.URLError as error:
        raise FetchError(_describe_failure(error.reason, timeout)) from None
    except (OSError, http.client.HTTPException) as error:
        raise FetchError(_describe_failure(error, timeout)) from None


def _describe_failure(error: object, timeout: float) -> str:
    if isinstance(error, TimeoutError):
        return f"no answer within the {timeout:g} s timeout"
    return str(error) or type(error).__name__


def _validators_path(target: Path) -> Path:
    return target.with_name(target.name + ".http.json")


def _request_headers(url: str, target: Path) -> dict[str, str]:
    """The conditional headers for the copy at `target`, when it came from this very `url`."""
    headers = {"User-Agent": _USER_AGENT}
    try:
        saved = json.loads(_validators_path(target).read_text())
    except (OSError, ValueError):
        return headers
    if not target.is_file() or not isinstance(saved, dict) or saved.get("url") != url:
        return headers
    if saved.get("etag"):
        headers["If-None-Match"] = saved["etag"]
    if saved.get("last_modified"):
        headers["If-Modified-Since"] = saved["last_modified"]
    return headers


def _download(source: _Source, url: str, response: Any, target: Path) -> None:
    """Streams the body into a temporary file beside `target`, checks it, then renames it
    over `target`; on any failure `target` is untouched and the temporary file removed."""
    expected = _content_length(response.headers)
    # Not tempfile.mkstemp: its files are private (0600), and the copy should have the
    # permissions the user's umask gives any new file.
    temporary = target.with_name(f".{target.name}.{secrets.token_hex(8)}.part")
    try:
        with open(temporary, "xb") as out:
            received = _copy_body(response, out, _Progress(source.file_name, expected))
            out.flush()
            os.fsync(out.fileno())
        _check_download(source, temporary, received, expected)
        os.replace(temporary, target)
        _save_validators(url, target, response.headers)
    finally:
        temporary.unlink(missing_ok=True)


def _copy_body(response: Any, out: IO[bytes], progress: _Progress) -> int:
    received = 0
    try:
        while chunk := response.read(_CHUNK_BYTES):
            out.write(chunk)
            received += len(chunk)
            progress.show(received)
    finally:
        progress.close()
    return received


def _content_length(headers: Message) -> int | None:
    try:
        return int(headers.get("Content-Length", ""))
    except ValueError:
        return None


def _check_download(source: _Source, path: Path, received: int, expected: int | None) -> None:
    """Raises `FetchError` unless `path` holds a whole file of `source`'s format with rows."""
    if expected is not None and received < expected:
        raise FetchError(f"the body was cut off after {received} of {expected} bytes")
    with open(path, "rb") as body:
        head = body.read(512)
        body.seek(max(0, received - 1))
        last_byte = body.read(1)
    if not head:
        raise FetchError("the server sent an empty body")
    if head.lstrip().startswith(b"<"):
        raise FetchError(f"the server sent an HTML page, not {source.file_name}")
    if last_byte != b"\n":
        raise FetchError("the body ends in the middle of a line: the download was cut off")
    try:
        store = source.read(str(path))
    except ValueError as error:
        raise FetchError(f"the download is not a valid {source.file_name}: {error}") from None
    if not store:
        raise FetchError(f"the download holds no dated rows of {source.file_name}")


def _save_validators(url: str, target: Path, headers: Message) -> None:
    validators = {"url": url, "etag": headers.get("ETag"), "last_modified": headers.get("Last-Modified")}
    path = _validators_path(target)
    temporary = path.with_name(f".{path.name}.{os.getpid()}")
    temporary.write_text(json.dumps(validators))
    os.replace(temporary, path)


class _Progress:
    """A one-line progress bar on stderr, drawn only on a terminal and only once a
    download has taken longer than `_SLOW_DOWNLOAD_SECONDS`."""

    def __init__(self, name: str, total: int | None) -> None:
        self.name, self.total = name, total
        self.enabled = sys.stderr.isatty()
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
