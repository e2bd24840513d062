"""`sunindex archive list` and `sunindex archive prune`: the versions `fetch --archive` kept."""

from __future__ import annotations

import argparse
import datetime

from . import _archive
from ._cli_output import stdout
from ._published import FILE_NAMES, cache_dir


def run_archive(args: argparse.Namespace) -> None:
    folder = cache_dir(args.data_dir)
    out = stdout()
    if args.action == "list":
        for version in _archive.versions(folder):
            print(_line(version), file=out)
        return
    before = datetime.datetime.now(datetime.timezone.utc) - datetime.timedelta(seconds=args.older_than)
    removed = _archive.prune(folder, before)
    for version in removed:
        print(f"removed {_line(version)}", file=out)
    print(f"{len(removed)} version{'' if len(removed) == 1 else 's'} retrieved before "
          f"{before.isoformat(timespec='seconds')} removed", file=out)


def _line(version: _archive.Version) -> str:
    """One version: kind, when retrieved, its stamp, its days, size and SHA-256."""
    stamp = f"made {version.stamp}" if version.stamp else "no stamp"
    span = f"{version.span[0]} to {version.span[1]}" if version.span else "no rows"
    return (f"{version.kind:<11} {FILE_NAMES.get(version.kind, '?'):<31} retrieved "
            f"{version.retrieved.isoformat(timespec='seconds')}  {stamp:<30} {span:<24} {version.size:>9} B  "
            f"{version.sha256}")
