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


# GFZ's files are not shipped (the SN column is CC BY-NC): the seeds hold excerpts, and the published files are
# read where they are present.
GFZ_PUBLISHED = {
    "gfz_kp": ["gfz/Kp_ap_Ap_SN_F107_since_2024.txt", "gfz/Kp_ap_Ap_SN_F107_nowcast.txt",
               "gfz/Kp_ap_Ap_SN_F107_rebuilt_from_SW-All.txt"],
    "gfz_hpo": ["hpo/Hp30_ap30_complete_series.txt", "hpo/Hp30_ap30_nowcast.txt",
                "hpo/Hp60_ap60_complete_series.txt", "hpo/Hp60_ap60_nowcast.txt"],
}


def _published(target):
    return [FULL_DATA_DIR / name for name in GFZ_PUBLISHED[target] if (FULL_DATA_DIR / name).is_file()]


@pytest.mark.parametrize("target", GFZ_PUBLISHED)
def test_gfz_reads_agree_with_the_model_on_every_path(replay, target, tmp_path):
    """The seeds, the published files, and the smallest published file with a faulty line around its middle
    (where the read cut in two cuts) or last: each read as the reference reader reads it, on every path."""
    published = _published(target)
    inputs = [*sorted((FUZZ_DIR / "seeds" / target).iterdir()), *sorted((FUZZ_DIR / "regressions" / target).glob("*")),
              *published]
    if published:
        inputs += faulty_copies(min(published, key=lambda path: path.stat().st_size), tmp_path)
    run = replay(target, *inputs)
    assert run.returncode == 0, run.stdout.splitlines()[-1:] + run.stderr.splitlines()[-30:]
    assert run.stdout.splitlines() == [*map(str, inputs), f"{len(inputs)} inputs checked"]


def _kp_day(date, row, kp1, ap8, f107_obs, definitive):
    return f"{date} row {row} Kp1 {kp1} ap8 {ap8} F10.7obs {f107_obs} D {definitive}"


def _hpo_interval(date, row, slot, hp, ap):
    return f"{date} row {row} slot {slot} Hp {hp} ap {ap}"


def _kp_days(count, first, last):
    return f"{count} records, {_kp_day(*first)}..{_kp_day(*last)}"


def _hpo_intervals(count, first, last):
    return f"{count} records, {_hpo_interval(*first)}..{_hpo_interval(*last)}"


# What each read must give, from the files' text: the first and last day (interval) with some of its values, or the
# error's row and message. The seeds with a short header have their data from row 3.
KP_HEAD = (("2024-01-01", 3, 0.667, 27, 135.7, 1), ("2024-01-03", 5, 2.667, 15, 140.2, 1))
GFZ_OUTCOMES = {
    "gfz_kp": {
        "since_2024_head.txt": _kp_days(3, ("2024-01-01", 41, 0.667, 27, 135.7, 1),
                                        ("2024-01-03", 43, 2.667, 15, 140.2, 1)),
        # The current day: its later slots, Ap and the flux missing.
        "nowcast_tail.txt": _kp_days(3, ("2024-02-11", 41, 4.333, 7, 180.4, 0), ("2024-02-13", 43, 1.333, "nan", "nan", 0)),
        "crlf.txt": _kp_days(3, *KP_HEAD),
        "gap.txt": _kp_days(3, KP_HEAD[0], ("2024-01-04", 5, 1.333, 12, 125.8, 1)),
        "no_header.txt": _kp_days(3, ("2024-01-01", 1, 0.667, 27, 135.7, 1), ("2024-01-03", 3, 2.667, 15, 140.2, 1)),
        "sunspot_numbers.txt": _kp_days(4, KP_HEAD[0], ("2024-01-04", 6, 1.333, 12, 125.8, 1)),
        "header_only.txt": "0 records",
        "empty.txt": "0 records",
        "cut_last_line.txt": "row 5: the last line has no line end: the file may be cut off",
        "cr_line_ends.txt": "row 1: a CR without an LF after it: lines must end with LF or CR LF",
        "invalid_utf8_header.txt": "row 1: invalid utf-8",
        "invalid_utf8_data.txt": "row 4: invalid utf-8",
        "short_line.txt": "row 4: line length 150, expected 158",
        "long_line.txt": "row 4: line length 160, expected 158",
        "blank_line.txt": "row 4: line length 0, expected 158",
        "hash_after_data.txt": "row 4: a '#' line after the data began",
        "bad_kp.txt": "row 4: Kp3",
        "kp_not_thirds.txt": "row 4: Kp3 not in thirds",
        "kp_above_9.txt": "row 4: Kp3 out of range",
        "ap_out_of_range.txt": "row 4: ap3 out of range",
        "f107_nan.txt": "row 4: F10.7obs out of range",
        "flag_3.txt": "row 4: D not 0, 1 or 2",
        "invalid_date.txt": "row 4: invalid date",
        "days_mismatch.txt": "row 4: days not the date's count since 1932",
        "bartels_mismatch.txt": "row 4: Bsr not the date's Bartels rotation",
        "shifted_columns.txt": "row 4: days not the date's count since 1932",
        "repeated_date.txt": "row 5: date not after the line before",
        "dates_backwards.txt": "row 5: date not after the line before",
        "Kp_ap_Ap_SN_F107_since_2024.txt": _kp_days(31, ("2024-01-01", 41, 0.667, 27, 135.7, 1),
                                                    ("2024-01-31", 71, 2, 4, 136.2, 1)),
        "Kp_ap_Ap_SN_F107_nowcast.txt": _kp_days(24, ("2024-01-21", 41, 0, 4, 178.5, 1),
                                                 ("2024-02-13", 64, 1.333, "nan", "nan", 0)),
        "Kp_ap_Ap_SN_F107_rebuilt_from_SW-All.txt": _kp_days(25147, ("1957-10-01", 41, 4.333, 22, 269.3, 2),
                                                             ("2026-08-06", 25187, 1.333, 0, 101.2, 0)),
    },
    # Read as Hp30, then as Hp60: a file of the other cadence fails at its first data line on the middle hour.
    "gfz_hpo": {
        "hp30_head.txt": "hp30 " + _hpo_intervals(6, ("2025-06-17", 31, 0, 2.333, 9), ("2025-06-17", 36, 5, 1.667, 6))
                         + "; hp60 row 31: hh._m not the middle of a 60-minute interval",
        "hp60_head.txt": "hp30 row 31: hh._m not the middle of a 30-minute interval; hp60 "
                         + _hpo_intervals(6, ("2025-06-17", 31, 0, 1.667, 6), ("2025-06-17", 36, 5, 2.333, 9)),
        "hp30_nowcast_tail.txt": "hp30 " + _hpo_intervals(4, ("2025-07-18", 31, 44, "nan", "nan"),
                                                         ("2025-07-18", 34, 47, "nan", "nan"))
                                 + "; hp60 row 31: hh._m not the middle of a 60-minute interval",
        "hp30_day_end.txt": "hp30 " + _hpo_intervals(4, ("2025-06-17", 3, 46, 3, 15), ("2025-06-18", 6, 1, 3, 15))
                            + "; hp60 row 3: hh._m not the middle of a 60-minute interval",
        "storm.txt": "hp30 " + _hpo_intervals(3, ("2025-06-17", 3, 0, 13.333, 801), ("2025-06-17", 5, 2, 1.667, 6))
                     + "; hp60 row 3: hh._m not the middle of a 60-minute interval",
        "gap.txt": "hp30 " + _hpo_intervals(3, ("2025-06-17", 3, 0, 2.333, 9), ("2025-06-17", 5, 3, 1.667, 6))
                   + "; hp60 row 3: hh._m not the middle of a 60-minute interval",
        "crlf.txt": "hp30 " + _hpo_intervals(3, ("2025-06-17", 3, 0, 2.333, 9), ("2025-06-17", 5, 2, 1.667, 6))
                    + "; hp60 row 3: hh._m not the middle of a 60-minute interval",
        "header_only.txt": "hp30 0 records; hp60 0 records",
        "empty.txt": "hp30 0 records; hp60 0 records",
        "hp60_off_grid.txt": "hp30 row 31: hh._m not the middle of a 30-minute interval; "
                             "hp60 row 32: hh.h not on the hourly grid",
        "middle_hour.txt": "hp30 row 4: hh._m not the middle of a 30-minute interval",
        "start_days.txt": "hp30 row 4: days not the start's count since 1932",
        "middle_days.txt": "hp30 row 4: days_m not the middle's count since 1932",
        "hp_not_thirds.txt": "hp30 row 4: Hp30 not in thirds",
        "hp_negative.txt": "hp30 row 4: Hp30 out of range",
        "bad_ap.txt": "hp30 row 4: ap30",
        "flag_1.txt": "hp30 row 4: D not 0",
        "repeated_interval.txt": "hp30 row 5: interval not after the line before",
        "intervals_backwards.txt": "hp30 row 5: interval not after the line before",
        "short_line.txt": "hp30 row 4: line length 57, expected 59",
        "cut_last_line.txt": "hp30 row 5: the last line has no line end: the file may be cut off",
        "cr_line_ends.txt": "hp30 row 1: a CR without an LF after it: lines must end with LF or CR LF",
        "invalid_utf8.txt": "hp30 row 4: invalid utf-8",
        "hash_after_data.txt": "hp30 row 4: a '#' line after the data began",
        "Hp30_ap30_complete_series.txt": "hp30 " + _hpo_intervals(1488, ("2025-06-17", 31, 0, 2.333, 9),
                                                                  ("2025-07-17", 1518, 47, 1, 4))
                                         + "; hp60 row 31: hh._m not the middle of a 60-minute interval",
        "Hp30_ap30_nowcast.txt": "hp30 " + _hpo_intervals(1440, ("2025-06-19", 31, 0, 3.667, 22),
                                                          ("2025-07-18", 1470, 47, "nan", "nan"))
                                 + "; hp60 row 31: hh._m not the middle of a 60-minute interval",
        "Hp60_ap60_complete_series.txt": "hp30 row 31: hh._m not the middle of a 30-minute interval; hp60 "
                                         + _hpo_intervals(744, ("2025-06-17", 31, 0, 1.667, 6),
                                                          ("2025-07-17", 774, 23, 1, 4)),
        "Hp60_ap60_nowcast.txt": "hp30 row 31: hh._m not the middle of a 30-minute interval; hp60 "
                                 + _hpo_intervals(720, ("2025-06-19", 31, 0, 3.333, 18),
                                                  ("2025-07-18", 750, 23, "nan", "nan")),
    },
}


@pytest.fixture(scope="module")
def gfz_outcomes(replay):
    """What each GFZ target's read gives for each of its seeds and the published files present, by file name."""
    outcomes = {}
    for target in GFZ_OUTCOMES:
        inputs = [*sorted((FUZZ_DIR / "seeds" / target).iterdir()), *_published(target)]
        run = replay("--outcomes", target, *inputs)
        assert run.returncode == 0, run.stdout.splitlines()[-2:] + run.stderr.splitlines()[-30:]
        lines = run.stdout.splitlines()
        assert lines[0::2][:len(inputs)] == [*map(str, inputs)]
        outcomes[target] = {Path(path).name: outcome.strip() for path, outcome in zip(lines[0::2], lines[1::2])}
    return outcomes


GFZ_CASES = [(target, path.name) for target in GFZ_OUTCOMES for path in sorted((FUZZ_DIR / "seeds" / target).iterdir())]
GFZ_CASES += [(target, Path(name).name) for target, names in GFZ_PUBLISHED.items() for name in names]


@pytest.mark.parametrize("target, name", GFZ_CASES)
def test_gfz_outcomes(gfz_outcomes, target, name):
    if name not in gfz_outcomes[target]:
        pytest.skip(f"{name} not present")
    # An Hpo seed of one fault names it in the Hp30 read; the Hp60 read of a Hp30 excerpt fails at its first line.
    assert gfz_outcomes[target][name].startswith(GFZ_OUTCOMES[target][name])
