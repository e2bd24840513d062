"""Model inputs, downloads and a command line over the sunindex readers.

`SpaceWeather` holds the published files on one dense daily timeline and
computes NRLMSISE-00/MSIS and JB2008 inputs at any epoch.
"""

from importlib.metadata import PackageNotFoundError, version

try:
    __version__ = version("sunindex")
except PackageNotFoundError:  # imported from a source tree that was never installed
    __version__ = "0.0.0"

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
from .fetch import FetchError, cache_dir
from .space_weather import EpochOutsideError, Source, SpaceWeather

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
