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


LEGACY_SEEDS = FUZZ_DIR / "seeds" / "legacy_text"
LEGACY_FILES = ["SW-All.txt", "SW-Last5Years.txt", "SpaceWeather-All-v1.2_snapshot_20200224.txt"]


def test_legacy_text_seeds_and_published_files(replay, tmp_path):
    """The legacy text reader: one thread and two give the same result, a success reads every line again
    plainly, an error lies at a line of the text; over the seeds, the excerpts with faults around their middle,
    and each published file present."""
    inputs = [*sorted(LEGACY_SEEDS.iterdir()), *sorted((FUZZ_DIR / "regressions" / "legacy_text").glob("*"))]
    for excerpt in ("celestrak_excerpt.txt", "long_observed.txt"):
        folder = tmp_path / excerpt
        folder.mkdir()
        inputs += faulty_copies(LEGACY_SEEDS / excerpt, folder)
    inputs += [path for path in (FULL_DATA_DIR / "legacy" / name for name in LEGACY_FILES) if path.is_file()]
    run = replay("legacy_text", *inputs)
    assert run.returncode == 0, run.stdout.splitlines()[-1:] + run.stderr.splitlines()[-30:]
    assert run.stdout.splitlines() == [*map(str, inputs), f"{len(inputs)} inputs checked"]


def observed_days_up_to(text_path, last_day):
    """The OBSERVED lines of a legacy text file dated up to `last_day` (YYYY-MM-DD), counted from its text."""
    lines = Path(text_path).read_bytes().decode().splitlines()
    section = lines[lines.index("BEGIN OBSERVED") + 1:lines.index("END OBSERVED")]
    return sum(f"{line[0:4]}-{line[5:7]}-{line[8:10]}" <= last_day for line in section)


# (text file, CSV of the same rows, last day compared, CSV columns left out): the published pairs agree up to
# the day before a later release revised them (the sunspot numbers from 2025-04-01 in the 2026 SW-All.csv).
LEGACY_PAIRS = [
    (LEGACY_SEEDS / "celestrak_excerpt.txt", FUZZ_DIR / "seeds" / "celestrak_csv" / "legacy_text_excerpt.csv",
     "1958-02-28", ""),
    (FULL_DATA_DIR / "legacy" / "SW-All.txt", FULL_DATA_DIR / "SW-All.csv", "2025-03-31", ""),
    (FULL_DATA_DIR / "legacy" / "SW-All.txt", FULL_DATA_DIR / "SW-All.csv", "2025-06-10", "ISN"),
    (FULL_DATA_DIR / "legacy" / "SW-Last5Years.txt", FULL_DATA_DIR / "SW-Last5Years.csv", "2026-04-06", ""),
]


@pytest.mark.parametrize("text, csv, last_day, unchecked", LEGACY_PAIRS,
                         ids=[f"{pair[0].name}-{pair[2]}" for pair in LEGACY_PAIRS])
def test_legacy_text_rows_are_the_csv_rows(replay, text, csv, last_day, unchecked):
    """Every value and the type of each observed row equal the CSV reader's for the same day."""
    if not (text.is_file() and csv.is_file()):
        pytest.skip(f"{text} or {csv} not present")
    run = replay("legacy_text_vs_csv", text, csv, last_day, *([unchecked] if unchecked else []))
    assert run.returncode == 0, run.stderr.splitlines()[-5:]
    assert run.stdout.splitlines() == [f"{observed_days_up_to(text, last_day)} observed rows equal"]


def test_legacy_text_comparison_finds_a_changed_value(replay, tmp_path):
    text, csv, last_day, _ = LEGACY_PAIRS[0]
    changed = tmp_path / "changed.csv"
    changed.write_bytes(csv.read_bytes().replace(b",269.3,", b",269.4,", 1))  # F10.7_OBS of the first day
    run = replay("legacy_text_vs_csv", text, changed, last_day)
    assert run.returncode != 0 and "a daily value differs from the CSV's" in run.stderr
