"""Model inputs, downloads and a command line over the sunindex readers.

`SpaceWeather` holds the three published files on one dense daily timeline and
computes NRLMSISE-00/MSIS and JB2008 inputs at any epoch.
"""

from importlib.metadata import PackageNotFoundError, version

try:
    __version__ = version("sunindex")
except PackageNotFoundError:  # imported from a source tree that was never installed
    __version__ = "0.0.0"

from .fetch import FetchError, cache_dir
from .space_weather import EpochOutsideError, Source, SpaceWeather

# The module sunindex_tools.fetch holds fetch(); the package does not shadow it.
__all__ = ["EpochOutsideError", "FetchError", "Source", "SpaceWeather", "__version__", "cache_dir"]
