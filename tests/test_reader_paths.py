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
from datetime import datetime, timezone
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


SWPC_SEEDS = FUZZ_DIR / "seeds" / "swpc_forecast"
SWPC_PUBLISHED = FULL_DATA_DIR / "swpc" / "45-day-ap-forecast.txt"
# Each hostile seed fails at the line at fault, and says what is wrong there.
SWPC_ERRORS = {
    "empty.txt": "error at row 0: the file ends before :Product: 45 Day AP Forecast  45DF.txt",
    "header_only.txt": "error at row 9: the file ends before 45-DAY AP FORECAST",
    "cut_in_f107_block.txt": "error at row 25: the file ends before the end of the F10.7 block",
    "cut_last_line.txt": "error at row 32: the last line has no line end: the file may be cut off",
    "cr_only.txt": "error at row 1: a CR without an LF after it: lines must end with LF or CR LF",
    "invalid_utf8.txt": "error at row 3: invalid utf-8",
    "bad_issued.txt": "error at row 2: issue date not a calendar day in years 1-9999",
    "issued_2400.txt": "error at row 2: issue time not HHMM from 0000 to 2359",
    "blank_line_in_header.txt": "error at row 10: expected '45-DAY AP FORECAST'",
    "changed_layout.txt": "error at row 10: expected '45-DAY AP FORECAST'",
    "line_too_long.txt": "error at row 14: line length 60, expected 59",
    "pair_missing.txt": "error at row 14: line length 47, expected 59",
    "f107_1000.txt": "error at row 29: line length 60, expected 59",
    "pair_separator.txt": "error at row 11: pair 1: not 'DDMonYY NNN' and a space",
    "bad_value.txt": "error at row 12: pair 2: Ap not an integer 0-400",
    "f107_negative.txt": "error at row 22: pair 2: F10.7 not an integer 0-999",
    "ap_401.txt": "error at row 13: pair 5: Ap not an integer 0-400",
    "two_digit_month_day.txt": "error at row 11: pair 1: date not a DDMonYY calendar day",
    "upper_case_month.txt": "error at row 11: pair 1: date not a DDMonYY calendar day",
    "days_swapped.txt": "error at row 12: pair 2: not the day after the one before",
    "day_repeated.txt": "error at row 18: pair 1: not the day after the one before",
    "far_from_issue.txt": "error at row 11: pair 1: first day more than 45 days from the issue day",
    "blocks_disagree.txt": "error at row 24: pair 2: not the same day as in the Ap block",
    "text_after_nnnn.txt": "error at row 33: text after NNNN, the forecast's last line",
}
SWPC_READABLE = ["published.txt", "crlf.txt", "leap_day_storm.txt", "year_end.txt", "late_issue.txt"]


@pytest.fixture(scope="module")
def swpc_outcomes(replay):
    """What the reader gives for each seed, by file name, after the checks of its fuzz target held."""
    seeds = sorted(SWPC_SEEDS.iterdir())
    run = replay("--outcomes", "swpc_forecast", *seeds)
    assert run.returncode == 0, run.stdout.splitlines()[-1:] + run.stderr.splitlines()[-30:]
    lines = run.stdout.splitlines()
    assert lines[-1] == f"{len(seeds)} inputs checked"
    return {Path(path).name: outcome.strip() for path, outcome in zip(lines[:-1:2], lines[1:-1:2])}


def test_swpc_forecast_seeds_and_published_file(replay):
    """Every seed, the regressions and the published file keep the fuzz target's properties."""
    inputs = [*sorted(SWPC_SEEDS.iterdir()), *sorted((FUZZ_DIR / "regressions" / "swpc_forecast").glob("*"))]
    if SWPC_PUBLISHED.is_file():
        inputs.append(SWPC_PUBLISHED)
    run = replay("swpc_forecast", *inputs)
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


def test_swpc_forecast_every_seed_is_either_readable_or_a_named_fault(swpc_outcomes):
    assert sorted(swpc_outcomes) == sorted([*SWPC_ERRORS, *SWPC_READABLE])


@pytest.mark.parametrize("seed", SWPC_ERRORS)
def test_swpc_forecast_fault_named_at_its_line(swpc_outcomes, seed):
    assert swpc_outcomes[seed] == SWPC_ERRORS[seed]


def _forecast_as_written(content):
    """A forecast read from its own text as a person would: the :Issued: stamp, the first day, the line of its
    Ap, then the 45 Ap and the 45 F10.7 values, in the replay's account."""
    text = content.decode().replace("\r\n", "\n")
    stamp = datetime.strptime(re.search(r"^:Issued: (.*) UTC$", text, re.M).group(1), "%Y %b %d %H%M")
    head, blocks = text.split("45-DAY AP FORECAST\n")
    ap, f107 = (re.findall(r"(\d\d[A-Z][a-z]{2}\d\d) (\d{3})", block)
                for block in blocks.split("FORECASTER:")[0].split("45-DAY F10.7 CM FLUX FORECAST\n"))
    assert len(ap) == len(f107) == 45
    first_day = datetime.strptime(ap[0][0], "%d%b%y").date()
    microseconds = int(stamp.replace(tzinfo=timezone.utc).timestamp()) * 10**6
    return " ".join([str(microseconds), first_day.isoformat(), str(head.count("\n") + 2),
                     *(str(int(value)) for _, value in ap + f107)])


@pytest.mark.parametrize("seed", SWPC_READABLE)
def test_swpc_forecast_reads_what_the_file_says(swpc_outcomes, seed):
    assert swpc_outcomes[seed] == _forecast_as_written((SWPC_SEEDS / seed).read_bytes())


def test_swpc_forecast_published_file_reads_what_it_says(replay):
    if not SWPC_PUBLISHED.is_file():
        pytest.skip(f"{SWPC_PUBLISHED} not present")
    run = replay("--outcomes", "swpc_forecast", SWPC_PUBLISHED)
    assert run.returncode == 0, run.stderr.splitlines()[-30:]
    assert run.stdout.splitlines()[1].strip() == _forecast_as_written(SWPC_PUBLISHED.read_bytes())


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
