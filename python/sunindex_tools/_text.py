"""Text that came from outside (a server's words, a file's content) made safe to show."""

from __future__ import annotations

import re

# C0, DEL and C1: a terminal acts on them (ESC starts a sequence that can clear the
# screen or set the window's title), and a line end would split a one-line error.
_CONTROL = re.compile(r"[\x00-\x1f\x7f-\x9f]")


def printable(text: str) -> str:
    """`text` with each control character written as its escape (ESC as ``\\x1b``)."""
    return _CONTROL.sub(lambda match: match[0].encode("unicode_escape").decode("ascii"), text)
