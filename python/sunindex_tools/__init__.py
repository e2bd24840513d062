"""Model inputs, downloads and a command line over the sunindex readers.

`SpaceWeather` holds the published files on one dense daily timeline and
computes NRLMSISE-00/MSIS and JB2008 inputs at any epoch.
"""

import importlib
from typing import TYPE_CHECKING

if TYPE_CHECKING:
    from ._types import (
        DailyArrays,
        DailyAt,
        DailyColumns,
        EpochLike,
        EpochsLike,
        HpoArrays,
        HpoAt,
        HpoIndices,
        Jb2008Inputs,
        Jb2008InputsArrays,
        Jb2008InputsAt,
        MsisInputs,
        MsisInputsArrays,
        MsisInputsAt,
        PymsisKwargs,
    )
    from ._published import FetchError, cache_dir
    from .space_weather import EpochOutsideError, Source, SpaceWeather

#: The modules that define the names of `__all__`, in the order they are looked in: the
#: lightest first, so that asking for one loads no more than it needs.
_HOMES = ("_published", "_types", "space_weather")

#: The installed distribution's version, read when first asked for (see `__getattr__`).
__version__: str

if not TYPE_CHECKING:  # a type checker would take any unknown name of the package for a str

    def __getattr__(name: str) -> object:
        # Every run of the command line imports the package: importlib.metadata would add a
        # quarter to that, and the network's modules (of `fetch`) as much again; and the
        # command sets NumPy's threads before NumPy loads. So each name is imported, the
        # version read and `sunindex_tools.fetch` imported, when first asked for.
        if name == "fetch":  # `from . import fetch` would ask this function again
            return importlib.import_module(f"{__name__}.fetch")
        if name in __all__ and name != "__version__":
            for home in _HOMES:
                module = importlib.import_module(f"{__name__}.{home}")
                if hasattr(module, name):
                    globals()[name] = getattr(module, name)
                    return globals()[name]
        if name != "__version__":
            raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
        from importlib.metadata import PackageNotFoundError, version

        try:
            found = version("sunindex")
        except PackageNotFoundError:  # imported from a source tree that was never installed
            found = "0.0.0"
        globals()["__version__"] = found
        return found

# The module sunindex_tools.fetch holds fetch(); the package does not shadow it.
__all__ = [
    "DailyArrays",
    "DailyAt",
    "DailyColumns",
    "EpochLike",
    "EpochOutsideError",
    "EpochsLike",
    "FetchError",
    "HpoArrays",
    "HpoAt",
    "HpoIndices",
    "Jb2008Inputs",
    "Jb2008InputsArrays",
    "Jb2008InputsAt",
    "MsisInputs",
    "MsisInputsArrays",
    "MsisInputsAt",
    "PymsisKwargs",
    "Source",
    "SpaceWeather",
    "__version__",
    "cache_dir",
]


def __dir__() -> list[str]:
    return sorted({*globals(), *__all__})
