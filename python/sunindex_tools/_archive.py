"""Every version of a downloaded file, kept on request beside the cache.

A version is stored once, gzip-compressed, as ``archive/<sha256>.gz``; ``archive/index.json``
lists each time a kind's copy was replaced by a version: the kind, the version's SHA-256 and
size, when it was retrieved, the stamp the file writes of itself and the days its rows
cover. Both are written to a temporary file, flushed to disk and renamed into place, and
the index is read and rewritten under a lock: a process killed at any point leaves the
previous index whole, and two processes archiving at once each see the other's entries.
A compressed file that no longer holds the bytes its name promises is refused by name.
"""

from __future__ import annotations

import contextlib
import datetime
import fcntl
import gzip
import hashlib
import json
import os
import secrets
import zlib
from collections.abc import Iterator
from dataclasses import asdict, dataclass
from pathlib import Path
from typing import Any

from . import _files

FOLDER = "archive"
_INDEX = "index.json"
_LOCK = "index.lock"
_FORMAT = 1  # of the index, so that a later layout can tell this one


class ArchiveError(OSError):
    """An archived version that cannot be had: none that early, or one whose bytes were damaged."""


@dataclass(frozen=True)
class Version:
    """One entry of the index: a version of a kind's file, and when it was retrieved."""

    kind: str
    sha256: str
    size: int
    retrieved: datetime.datetime  # aware, UTC
    stamp: str | None  # the file's own UPDATED or :Issued: line, ISO 8601 UTC
    span: tuple[str, str] | None  # the first and last day of its rows
    url: str

    def describe(self) -> str:
        return f"{self.kind} {self.sha256[:12]} retrieved {self.retrieved.isoformat()}"

    def as_json(self) -> dict[str, Any]:
        return {**asdict(self), "retrieved": self.retrieved.isoformat()}


def folder_of(cache: Path) -> Path:
    return cache / FOLDER


def blob_path(cache: Path, sha256: str) -> Path:
    return folder_of(cache) / f"{sha256}.gz"


def store(cache: Path, version: Version, content: bytes) -> bool:
    """Archives `content` as `version`; False when it is already the newest of its kind.

    Raises OSError (disk full, a folder that cannot be written, an index that cannot be
    read and so must not be replaced) with nothing half-written left in place."""
    folder = folder_of(cache)
    folder.mkdir(parents=True, exist_ok=True)
    with _locked(folder):
        entries = _read_index(folder)
        newest = [entry for entry in entries if entry.kind == version.kind]
        if newest and newest[-1].sha256 == version.sha256:
            return False
        blob = blob_path(cache, version.sha256)
        if not _holds(blob, version.sha256):
            # mtime 0: the same bytes compress to the same file, whoever stored them.
            _write_atomically(blob, gzip.compress(content, mtime=0))
        _write_index(folder, [*entries, version])
    return True


def versions(cache: Path) -> list[Version]:
    """Every entry of the index, oldest retrieval first; none when nothing was archived."""
    folder = folder_of(cache)
    if not (folder / _INDEX).exists():
        return []
    return _read_index(folder)


def content_of(cache: Path, version: Version) -> tuple[Path, bytes]:
    """The path and bytes of an archived version; ArchiveError naming it when the
    compressed file is missing, cut, edited, or holds other bytes than its hash."""
    path = blob_path(cache, version.sha256)
    try:
        content = gzip.decompress(_files.read_regular_file(path))
    except FileNotFoundError:
        raise ArchiveError(f"{path}: the archived {version.describe()} is missing") from None
    except (OSError, EOFError, zlib.error, ValueError) as error:
        raise ArchiveError(f"{path}: the archived {version.describe()} is damaged ({error})") from None
    if len(content) != version.size or hashlib.sha256(content).hexdigest() != version.sha256:
        raise ArchiveError(f"{path}: the archived {version.describe()} is damaged (its bytes no longer match "
                           "their SHA-256)")
    return path, content


def find(cache: Path, kind: str, sha256: str) -> Version | None:
    """The latest entry of `kind` holding the version `sha256`, or None."""
    return next((entry for entry in reversed(versions(cache)) if (entry.kind, entry.sha256) == (kind, sha256)), None)


def newest_at(cache: Path, kind: str, instant: datetime.datetime) -> Version:
    """The version of `kind` retrieved last at or before `instant`; ArchiveError naming the
    kind and its earliest version when none was retrieved that early."""
    entries = [entry for entry in versions(cache) if entry.kind == kind]
    earlier = [entry for entry in entries if entry.retrieved <= instant]
    if earlier:
        return earlier[-1]
    if entries:
        raise ArchiveError(f"no archived version of {kind} at or before {instant.isoformat()}: "
                           f"the earliest was retrieved {entries[0].retrieved.isoformat()}")
    raise ArchiveError(f"no archived version of {kind} in {folder_of(cache)}: "
                       "archive=True (or SUNINDEX_ARCHIVE=1) keeps each version fetched")


def prune(cache: Path, before: datetime.datetime) -> list[Version]:
    """Removes the entries retrieved before `before`, and each compressed file that no entry
    left names; returns the entries removed. The index is replaced first: a process
    killed then leaves only compressed files nothing names, never a name without its file."""
    folder = folder_of(cache)
    if not (folder / _INDEX).exists():
        return []
    with _locked(folder):
        entries = _read_index(folder)
        kept = [entry for entry in entries if entry.retrieved >= before]
        removed = [entry for entry in entries if entry.retrieved < before]
        _write_index(folder, kept)
        named = {entry.sha256 for entry in kept}
        for entry in removed:
            if entry.sha256 not in named:
                blob_path(cache, entry.sha256).unlink(missing_ok=True)
    return removed


@contextlib.contextmanager
def _locked(folder: Path) -> Iterator[None]:
    # A blocking wait: whoever holds it only reads and writes a few local files.
    descriptor = os.open(folder / _LOCK, os.O_RDONLY | os.O_CREAT | os.O_CLOEXEC, 0o666)
    try:
        fcntl.flock(descriptor, fcntl.LOCK_EX)
        yield
    finally:
        os.close(descriptor)


def _read_index(folder: Path) -> list[Version]:
    path = folder / _INDEX
    try:
        document = json.loads(_files.read_regular_file(path))
    except FileNotFoundError:
        return []
    except (OSError, ValueError, RecursionError) as error:
        raise ArchiveError(f"{path}: the archive's index cannot be read ({error})") from None
    try:
        if document["format"] != _FORMAT:
            raise ValueError(f"format {document['format']!r}")
        return [_version(entry) for entry in document["versions"]]
    except (KeyError, TypeError, ValueError) as error:
        raise ArchiveError(f"{path}: not an index of this archive ({error!r})") from None


def _version(entry: dict[str, Any]) -> Version:
    span, stamp = entry["span"], entry["stamp"]
    retrieved = datetime.datetime.fromisoformat(entry["retrieved"])
    if retrieved.tzinfo is None:
        raise ValueError(f"retrieved {entry['retrieved']!r} has no offset")
    return Version(str(entry["kind"]), str(entry["sha256"]), int(entry["size"]), retrieved,
                   None if stamp is None else str(stamp), (str(span[0]), str(span[1])) if span else None,
                   str(entry["url"]))


def _write_index(folder: Path, entries: list[Version]) -> None:
    document = {"format": _FORMAT, "versions": [entry.as_json() for entry in entries]}
    _write_atomically(folder / _INDEX, json.dumps(document, indent=1).encode())


def _write_atomically(path: Path, data: bytes) -> None:
    temporary = path.with_name(f".{path.name}.{secrets.token_hex(8)}.part")
    try:
        with open(temporary, "xb") as out:
            out.write(data)
            out.flush()
            os.fsync(out.fileno())
        os.replace(temporary, path)
    finally:
        temporary.unlink(missing_ok=True)
    # The rename itself reaches the disk with the folder's entry.
    descriptor = os.open(path.parent, os.O_RDONLY | os.O_CLOEXEC)
    try:
        os.fsync(descriptor)
    finally:
        os.close(descriptor)


def _holds(blob: Path, sha256: str) -> bool:
    """Whether `blob` is there and decompresses to the bytes of `sha256`: a damaged one is replaced."""
    try:
        return hashlib.sha256(gzip.decompress(_files.read_regular_file(blob))).hexdigest() == sha256
    except (OSError, EOFError, zlib.error, ValueError):
        return False
