"""Reading a data file whole, for `SpaceWeather.load` and for the download cache alike."""

from __future__ import annotations

import os
import stat

#: The most bytes a data file or a download may hold. The published files are under 5 MB;
#: the cap only stops what never ends (a device, an endless body) before memory or disk does.
MAX_FILE_BYTES = 64 * 2**20


def read_regular_file(path: str | os.PathLike[str]) -> bytes:
    """The bytes of the regular file at `path`.

    Raises
    ------
    OSError
        When the file cannot be opened, or `path` is not a regular file: reading a FIFO
        waits for a writer and a device may never end, so neither is read.
    ValueError
        When the file holds more than `MAX_FILE_BYTES`.
    """
    # O_NONBLOCK: opening a FIFO would otherwise wait for a writer before fstat could refuse it.
    descriptor = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC)
    try:
        status = os.fstat(descriptor)
        if not stat.S_ISREG(status.st_mode):
            raise OSError(f"{os.fspath(path)}: not a regular file")
        if status.st_size > MAX_FILE_BYTES:  # refused unread
            raise _too_large_error(path)
        with open(descriptor, "rb", closefd=False) as file:
            # A buffer of the file's size: one of the limit's size cost ten times the read.
            data = file.read(status.st_size + 1)
            if len(data) > status.st_size:  # it grew since fstat: read on, up to the limit
                data += file.read(MAX_FILE_BYTES + 1 - len(data))
    finally:
        os.close(descriptor)
    if len(data) > MAX_FILE_BYTES:  # it grew while being read
        raise _too_large_error(path)
    return data


def too_large() -> str:
    """Why a file or download over `MAX_FILE_BYTES` is refused."""
    return f"larger than the {MAX_FILE_BYTES / 2**20:g} MiB a data file may hold"


def _too_large_error(path: str | os.PathLike[str]) -> ValueError:
    return ValueError(f"{os.fspath(path)}: {too_large()}")
