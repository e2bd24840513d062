"""Every way a reader can go about its work gives the default read's result.

The fuzz targets' checks (fuzz/targets.hpp) are compiled without libFuzzer, with AddressSanitizer and UBSan
as the fuzz build has them, into the replay driver (fuzz/replay.cpp). It reads each input with every scan
path, whole and cut in two at a line end as a long text is by two threads, with and without the extras, and
requires the default read's result from each; it also compares that result with the reference reader and the
store's rules. The inputs: the fuzzers' seeds and regression inputs, the shipped samples, the full published
files when present, and samples with one faulty line placed around the middle, where the two-thread read cuts.
"""
import hashlib
import os
import re
import shutil
import subprocess
from pathlib import Path

import pytest

from conftest import FULL_DATA_DIR, ROOT, SAMPLE_DIR

FUZZ_DIR = ROOT / "fuzz"
TARGETS = {  # fuzz target: (shipped sample, full published file)
    "celestrak_csv": ("SW-sample.csv", "SW-All.csv"),
    "solfsmy": ("SOLFSMY-sample.TXT", "SOLFSMY.TXT"),
    "dtcfile": ("DTCFILE-sample.TXT", "DTCFILE.TXT"),
}

# The fuzz build's flags (FUZZ_CXXFLAGS in the Makefile) without libFuzzer, for the compiler the module is built with.
CXXFLAGS = ["-std=c++20", "-O1", "-g", "-fno-omit-frame-pointer", "-fsanitize=address,undefined",
            "-fno-sanitize-recover=all", "-pthread", f"-I{ROOT / 'src'}"]
SOURCES = [FUZZ_DIR / "replay.cpp", *sorted((ROOT / "src" / "readers").glob("*.cpp")),
           ROOT / "src" / "store" / "index_store.cpp"]
BUILT_FROM = [*sorted(FUZZ_DIR.glob("*.[hc]pp")),
              *(path for folder in ("readers", "common", "store") for path in sorted((ROOT / "src" / folder).iterdir()))]

# Each turns a line into one that reads otherwise, fails, or is not UTF-8.
FAULTS = {
    "letter for digit": lambda line: re.sub(rb"\d", b"x", line, count=1),  # the date, or the year
    "cut short": lambda line: line[:len(line) // 2],
    "invalid utf-8": lambda line: line + b"\xe2\x82",
    "carriage return": lambda line: line + b"\r",
    "blank line after": lambda line: line + b"\n",
}


def _environment():
    """This process's environment without the sanitizer runtime that `make test-asan` preloads into Python:
    the driver links its own."""
    return {name: value for name, value in os.environ.items() if name != "LD_PRELOAD"}


@pytest.fixture(scope="session")
def replay():
    """The replay driver, compiled once per state of its sources (kept under build/replay, named by their
    hash); runs it as replay(target, *paths)."""
    compiler = shutil.which(os.environ.get("CXX", "g++"))
    if compiler is None:
        pytest.skip("no C++ compiler")
    version = subprocess.run([compiler, "--version"], capture_output=True, check=True).stdout
    digest = hashlib.sha256(version + repr(CXXFLAGS).encode())
    for path in BUILT_FROM:
        digest.update(path.name.encode() + b"\0" + path.read_bytes())
    folder = ROOT / "build" / "replay"
    binary = folder / f"replay-{digest.hexdigest()[:16]}"
    if not binary.exists():
        folder.mkdir(parents=True, exist_ok=True)
        partial = folder / f"{binary.name}.{os.getpid()}.part"
        build = subprocess.run([compiler, *CXXFLAGS, "-o", str(partial), *map(str, SOURCES)],
                               capture_output=True, text=True, env=_environment())
        assert build.returncode == 0, build.stderr[-5000:]
        partial.replace(binary)  # whole or not at all, should another run build it at the same time
        for stale in folder.glob("replay-*"):
            if stale != binary and not stale.name.endswith(".part"):
                stale.unlink(missing_ok=True)
    return lambda target, *paths: subprocess.run([str(binary), target, *map(str, paths)], capture_output=True,
                                                 text=True, env=_environment())


def faulty_copies(sample, folder):
    """The sample with each fault in turn on the lines around its middle byte, and on its last line; and the
    sample without its last line end."""
    content = sample.read_bytes()
    lines = content.split(b"\n")[:-1]  # the samples end with a line end
    starts = [0]
    for line in lines:
        starts.append(starts[-1] + len(line) + 1)
    middle = next(k for k in range(len(lines)) if starts[k + 1] > len(content) // 2)
    copies = [folder / "no_final_line_end"]
    copies[0].write_bytes(content[:-1])
    for where in (middle - 1, middle, middle + 1, len(lines) - 1):
        for name, fault in FAULTS.items():
            changed = [*lines[:where], fault(lines[where]), *lines[where + 1:]]
            copies.append(folder / f"line{where + 1}_{name.replace(' ', '_')}")
            copies[-1].write_bytes(b"\n".join(changed) + b"\n")
    return copies


def test_msfc_prediction_seeds_and_shipped_prediction(replay):
    """The prediction reader has one path: the replay checks its results' properties."""
    inputs = [*sorted((FUZZ_DIR / "seeds" / "msfc_prediction").iterdir()),
              ROOT / "python" / "sunindex_tools" / "data" / "oct2026f10-prd.txt"]
    run = replay("msfc_prediction", *inputs)
    assert run.returncode == 0, run.stdout.splitlines()[-1:] + run.stderr.splitlines()[-30:]
    assert run.stdout.splitlines() == [*map(str, inputs), f"{len(inputs)} inputs checked"]


@pytest.mark.parametrize("target", TARGETS)
def test_every_path_and_the_cut_read_as_the_default_read(replay, target, tmp_path):
    sample, full = TARGETS[target]
    inputs = [*sorted((FUZZ_DIR / "seeds" / target).iterdir()), *sorted((FUZZ_DIR / "regressions" / target).glob("*")),
              SAMPLE_DIR / sample, *faulty_copies(SAMPLE_DIR / sample, tmp_path)]
    if (FULL_DATA_DIR / full).is_file():
        inputs.append(FULL_DATA_DIR / full)
    run = replay(target, *inputs)
    assert run.returncode == 0, run.stdout.splitlines()[-1:] + run.stderr.splitlines()[-30:]
    assert run.stdout.splitlines() == [*map(str, inputs), f"{len(inputs)} inputs checked"]
