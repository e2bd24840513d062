"""The optional dependencies, each from the extra of the distribution that brings it."""

from __future__ import annotations

import importlib
from types import ModuleType


def install_advice(extra: str) -> str:
    """How to install `extra`, as a user of the wheel and one of a checkout would type it."""
    return f'pip install "sunindex[{extra}]", or pip install ".[{extra}]" in a checkout'


def extra_module(name: str, extra: str, user: str) -> ModuleType:
    """The module `name`, which the extra `extra` brings; ImportError saying how to install
    it when it is missing, for `user` (what needs it)."""
    try:
        return importlib.import_module(name)
    except ImportError:
        raise ImportError(f"{user} needs {name}: {install_advice(extra)}") from None
