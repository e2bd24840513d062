#!/usr/bin/env python3
"""Differential run of the readers: the same random files read by a baseline build and by the
current tree, whose observable results must be bit-identical.

    python tools/differential.py [--base REV] [--files N] [--seed S]     (what `make differential` runs)

The files are mutations of the shipped samples and, when present, of the full published files
($SUNINDEX_FULL_DATA, else shared/data beside the checkout); a share of them is above the size
from which the readers use two threads. Each build's Python reads every file in one process
(`observe`) and writes a hash per call and file; the files whose hashes differ are kept under
build/differential/failures/, the first ones with both results written out in full. Exit
status 1 on any difference.
"""
import argparse
import datetime
import difflib
import functools
import hashlib
import io
import itertools
import math
import multiprocessing
import os
import pickle
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time
import warnings
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
WORK = REPO / "build" / "differential"
SAMPLES = REPO / "data"
# The published files of each kind: the shipped sample, then the full file.
SOURCE_NAMES = {
    "csv": ("SW-sample.csv", "SW-All.csv"),
    "sol": ("SOLFSMY-sample.TXT", "SOLFSMY.TXT"),
    "dtc": ("DTCFILE-sample.TXT", "DTCFILE.TXT"),
}
LOAD_KEYWORDS = {"csv": "csv", "sol": "solfsmy", "dtc": "dtcfile"}  # SpaceWeather.load's keyword per kind
TWO_THREADS_FROM = 256 * 1024  # the readers' default size from which two threads read a text
LARGE_EVERY = 100  # one file in LARGE_EVERY is above TWO_THREADS_FROM
MAX_SMALL_LINES = 800  # rows of the other files: their sizes are spread evenly on a log scale
MANIFEST = "manifest.txt"
MAX_WORKER_RESTARTS = 20
DETAILED_DIFFERENCES = 20  # differing files written out in full and shown; all are kept
DIFF_LINES = 24  # printed lines of difference per call


# --- The published files, as lines


class Source:
    """One published file split into its header lines and data lines, without line ends."""

    def __init__(self, path, kind):
        lines = path.read_bytes().split(b"\n")
        if lines and lines[-1] == b"":
            lines.pop()
        self.eol = b"\r\n" if lines and lines[0].endswith(b"\r") else b"\n"
        lines = [line.removesuffix(b"\r") for line in lines]
        header_count = 1 if kind == "csv" else len(list(itertools.takewhile(lambda line: line.startswith(b"#"), lines)))
        self.header, self.rows = lines[:header_count], lines[header_count:]
        self.row_bytes = sum(len(row) + len(self.eol) for row in self.rows)


def full_data_dir():
    """$SUNINDEX_FULL_DATA, else a shared/data folder beside this checkout or one of its parents."""
    if "SUNINDEX_FULL_DATA" in os.environ:
        return Path(os.environ["SUNINDEX_FULL_DATA"])
    return next((p / "shared" / "data" for p in REPO.parents if (p / "shared" / "data").is_dir()), None)


@functools.lru_cache(maxsize=None)
def load_sources():
    """Per kind: the sample's Source, then the full file's when it is on this machine."""
    full = full_data_dir()
    sources = {}
    for kind, (sample, published) in SOURCE_NAMES.items():
        sources[kind] = [Source(SAMPLES / sample, kind)]
        if full is not None and (full / published).is_file():
            sources[kind].append(Source(full / published, kind))
    return sources


# --- Pieces of text the mutations put in

WHITE_SPACE = [b" ", b"  ", b"\t", b" \t ", b"\x0b", b"\x0c", b"\r"] + [
    c.encode() for c in "\u00a0\u2000\u200a\u3000\u0085\u1680\u2028\u2029\u202f\u205f"
]
NOT_WHITE_SPACE = [c.encode() for c in "\ufeff\u001c\u001f\u200b\u180e"]  # U+001C-U+001F pass str.isspace()
MARKERS = [b"9999.9", b"99999", b"999.9", b"9999.90", b"99999.0", b"-9999.9", b"999.99", b"9999", b"099999"]
ODD_NUMBERS = [
    b"+1", b"1e3", b".5", b"5.", b"-0.0", b"00012.50", b"nan", b"inf", b"-inf", b"+inf", b"NaN", b"-nan",
    b"Infinity", b"INF", b"infinit", b"nann", b"+-1", b"--1", b"-+1", b"1e", b"1e+", b"e5", b".", b"-", b"+",
    b"1e400", b"-1e400", b"1e-400", b"4.9e-324", b"2.2250738585072014e-308", b"1.7976931348623157e308",
    b"0x10", b"1_0", b"1.2.3", b"1..2", b"1 5", b"0", b"-0", b"+0", b"00", b"0.000000", b"9007199254740993",
    b"123456789012345", b"1234567890123456", b"12345678901234567", b"0.30000000000000004", b"1E5", b"1e-5",
    b"1.5E+2", b"1234567", b"123.4567", b"9999999", b"0.1234567", b"\xd9\xa1\xd9\xa2", b"\xef\xbc\x91",
]
INVALID_UTF8 = [b"\xc0\xaf", b"\xed\xa0\x80", b"\xe2\x82", b"\x80", b"\xf4\x90\x80\x80", b"\xff", b"\xc3", b"\xf0\x9f\x98"]
BOM = b"\xef\xbb\xbf"
CSV_DATES = [
    b"0001-01-01", b"0000-01-01", b"9999-12-31", b"10000-01-01", b"2147483647-12-31", b"2147483648-01-01",
    b"1969-12-31", b"1970-01-01", b"1582-10-10", b"2024-02-29", b"2023-02-29", b"2024-02-31", b"2024-04-31",
    b"2024-13-01", b"2024-00-10", b"2024-12-00", b"2024-12-32", b"+2024-01-01", b"2024-+1-01", b"2024-1-1",
    b"02024-01-01", b"-2024-01-01", b"2024/01/01", b"2024-01", b"2024-01-01-01", b"20240101", b"2024-001-001",
    b"2024-255-255", b"2024-256-01", b"5879610-07-11", b"5879611-01-01", b"-0001-12-31",
]
YEARS = [b"0", b"1", b"-1", b"+2024", b"9999", b"10000", b"99999", b"1969", b"1970", b"2147483647", b"-2147483648"]
DAYS_OF_YEAR = [b"0", b"1", b"365", b"366", b"367", b"999", b"+1", b"-1", b"00001", b"9999", b"60"]
CSV_RENAMES = [b"F10.7", b"F10.7A", b"AP", b"f10.7_obs", b" DATE", b"DATE ", b"\xc2\xa0DATE", b"KP0", b"AP9", b"", b"DATE"]


def random_number(rng):
    """A decimal of 1 to 30 digits, often 7 or around 15-17 where rounding gets hard."""
    count = rng.choice([rng.randint(1, 30), 7, rng.randint(14, 18)])
    digits = "".join(rng.choice("0123456789") for _ in range(count))
    point = rng.randint(0, count)
    text = digits[:point] + "." + digits[point:] if rng.random() < 0.7 else digits
    if rng.random() < 0.2:
        text = "-" + text
    if rng.random() < 0.1:
        text += rng.choice(["e", "E"]) + rng.choice(["", "+", "-"]) + str(rng.randint(0, 400))
    return text.encode()


def random_integer(rng):
    """An integer that mostly fits DTCFILE's four-character hours."""
    return (rng.choice(["", "", "+", "-"]) + str(rng.randint(0, 10 ** rng.randint(1, 5)))).encode()


# --- One file being mutated


class Draft:
    """The lines of a file being mutated, each with its own line end."""

    def __init__(self, rng, kind, header, rows, eol):
        self.rng, self.kind = rng, kind
        self.lines = [bytearray(line) for line in header + rows]
        self.eols = [eol] * len(self.lines)
        self.header_count = len(header)
        self.zone = (0, len(self.lines))  # where the line-level mutations land, [first, last)

    def content(self):
        return b"".join(bytes(line) + eol for line, eol in zip(self.lines, self.eols))

    def middle_line(self):
        """The line that holds the text's middle byte, near where two threads split it."""
        half, offset = sum(len(line) + len(eol) for line, eol in zip(self.lines, self.eols)) // 2, 0
        for index, (line, eol) in enumerate(zip(self.lines, self.eols)):
            offset += len(line) + len(eol)
            if offset > half:
                return index
        return max(0, len(self.lines) - 1)

    def pick_line(self):
        first, last = self.zone[0], min(self.zone[1], len(self.lines))
        return self.rng.randrange(first, last) if last > first else None

    def fields(self, index):
        """(start, end) of each field of a line: comma-separated for the CSV; for the
        fixed-column files each token with the blanks before it, so that a right-justified
        replacement keeps the columns in place."""
        line = self.lines[index]
        if self.kind == "csv":
            spans, start = [], 0
            for part in bytes(line).split(b","):
                spans.append((start, start + len(part)))
                start += len(part) + 1
            return spans
        spans, start, i = [], 0, 0
        while i < len(line):
            while i < len(line) and line[i] == 0x20:
                i += 1
            token_end = i
            while token_end < len(line) and line[token_end] != 0x20:
                token_end += 1
            if token_end > i:
                spans.append((start, token_end))
            start = i = token_end
        return spans

    def replace_field(self, text, value_fields_only=False):
        """Puts `text` in place of a random field of a random line (right-justified in a fixed column)."""
        index = self.pick_line()
        if index is None:
            return
        spans = self.fields(index)
        if value_fields_only:
            spans = spans[1:] if self.kind == "csv" else spans[3:]
        if not spans:
            return
        start, end = self.rng.choice(spans)
        if self.kind != "csv" and len(text) < end - start and self.rng.random() < 0.8:
            text = text.rjust(end - start)
        self.lines[index][start:end] = text


# --- Mutations; each takes a Draft and changes it in place


def flip_byte(d):
    index = d.pick_line()
    if index is not None and d.lines[index]:
        at = d.rng.randrange(len(d.lines[index]))
        d.lines[index][at] = d.rng.choice([d.rng.randint(0x20, 0x7E), d.rng.randint(0x20, 0x7E), d.rng.randrange(256)])


def insert_bytes(d):
    index = d.pick_line()
    if index is not None:
        piece = d.rng.choice([b"0", b"9", b".", b"-", b"+", b"e", b",", b" ", b"\t", b"\r", b"\n", b"#", b"\x00",
                              d.rng.choice(WHITE_SPACE), d.rng.choice(INVALID_UTF8), d.rng.choice(NOT_WHITE_SPACE)])
        at = d.rng.randint(0, len(d.lines[index]))
        d.lines[index][at:at] = piece


def delete_bytes(d):
    index = d.pick_line()
    if index is not None and d.lines[index]:
        at = d.rng.randrange(len(d.lines[index]))
        del d.lines[index][at:at + d.rng.choice([1, 1, 2, 5])]


def change_digit(d):
    index = d.pick_line()
    if index is not None:
        digits = [i for i, c in enumerate(d.lines[index]) if 0x30 <= c <= 0x39]
        if digits:
            d.lines[index][d.rng.choice(digits)] = d.rng.randint(0x30, 0x39)


def change_value_digit(d):
    """A digit of a value (not of the date) changed: the file stays readable."""
    index = d.pick_line()
    if index is None:
        return
    spans = d.fields(index)[1:] if d.kind == "csv" else d.fields(index)[3:]
    digits = [i for start, end in spans for i in range(start, end) if 0x30 <= d.lines[index][i] <= 0x39]
    if digits:
        d.lines[index][d.rng.choice(digits)] = d.rng.randint(0x30, 0x39)


def empty_field(d):
    d.replace_field(b"")


def put_marker(d):
    d.replace_field(d.rng.choice(MARKERS), value_fields_only=d.rng.random() < 0.8)


def put_odd_number(d):
    d.replace_field(d.rng.choice(ODD_NUMBERS), value_fields_only=d.rng.random() < 0.8)


def put_random_number(d):
    d.replace_field(random_integer(d.rng) if d.kind == "dtc" else random_number(d.rng), value_fields_only=True)


def pad_field(d):
    """White space (or a look-alike) before and/or after a field."""
    index = d.pick_line()
    if index is None:
        return
    spans = d.fields(index)
    if not spans:
        return
    start, end = d.rng.choice(spans)
    pad = d.rng.choice(WHITE_SPACE * 3 + NOT_WHITE_SPACE)
    field = bytes(d.lines[index][start:end])
    side = d.rng.choice(["before", "after", "both"])
    if d.kind != "csv":  # in a fixed column the pad takes the place of leading blanks when it can
        stripped = field.lstrip(b" ")
        lead = field[:len(field) - len(stripped)]
        field = lead[len(pad):] + pad + stripped if side == "before" else field + pad
    else:
        field = (pad if side != "after" else b"") + field + (pad if side != "before" else b"")
    d.lines[index][start:end] = field


def date_near_limit(d):
    index = d.pick_line()
    if index is None:
        return
    spans = d.fields(index)
    if d.kind == "csv":
        if spans:
            start, end = spans[0]
            d.lines[index][start:end] = d.rng.choice(CSV_DATES)
        return
    slots = [1, 2] if d.kind == "dtc" else [0, 1]  # DTCFILE lines start with their "DTC" tag
    slot = d.rng.choice(slots)
    if slot < len(spans):
        start, end = spans[slot]
        text = d.rng.choice(YEARS if slot == slots[0] else DAYS_OF_YEAR)
        d.lines[index][start:end] = text.rjust(end - start) if len(text) < end - start else text


def swap_fields(d):
    index = d.pick_line()
    if index is None:
        return
    spans = d.fields(index)
    if len(spans) >= 2:
        (a0, a1), (b0, b1) = sorted(d.rng.sample(spans, 2))
        line = d.lines[index]
        d.lines[index] = line[:a0] + line[b0:b1] + line[a1:b0] + line[a0:a1] + line[b1:]


def cut_line(d):
    index = d.pick_line()
    if index is not None and d.lines[index]:
        del d.lines[index][d.rng.randrange(len(d.lines[index])):]


def insert_line(d):
    index = d.pick_line()
    at = 0 if index is None else index
    line = d.rng.choice([b"", b"   ", b"\t", b"#", b"# a comment", b"  # indented comment", b"\xc2\xa0",
                         b"\xe3\x80\x80#", b"#\xff", b"\r", b",,,,", b"DTC"])
    d.lines.insert(at, bytearray(line))
    d.eols.insert(at, d.eols[at - 1] if d.eols and at > 0 else b"\n")


def duplicate_line(d):
    index = d.pick_line()
    if index is not None:
        d.lines.insert(index, bytearray(d.lines[index]))
        d.eols.insert(index, d.eols[index] or b"\n")


def delete_line(d):
    index = d.pick_line()
    if index is not None and len(d.lines) > 1:
        del d.lines[index], d.eols[index]


def swap_lines(d):
    a, b = d.pick_line(), d.pick_line()
    if a is not None:
        d.lines[a], d.lines[b] = d.lines[b], d.lines[a]


def shuffle_block(d):
    index = d.pick_line()
    if index is not None:
        block = d.lines[index:index + d.rng.randint(2, 20)]
        d.rng.shuffle(block)
        d.lines[index:index + len(block)] = block


def join_lines(d):
    """Two lines made one by dropping the line end between them."""
    index = d.pick_line()
    if index is not None and index + 1 < len(d.lines):
        d.lines[index] += d.rng.choice([b"", b"\r", b" "]) + d.lines.pop(index + 1)
        del d.eols[index + 1]


def change_line_end(d):
    index = d.pick_line()
    if index is not None:
        d.eols[index] = d.rng.choice([b"\n", b"\r\n", b"\r\r\n", b"\n\n", b"\r", b" \n", b"\x0b\n"])


def invalid_utf8(d):
    index = d.pick_line()
    if index is not None:
        at = d.rng.randint(0, len(d.lines[index]))
        d.lines[index][at:at] = d.rng.choice(INVALID_UTF8)


LINE_MUTATIONS = [
    flip_byte, insert_bytes, delete_bytes, change_digit, change_value_digit, change_value_digit, empty_field,
    put_marker, put_odd_number, put_random_number, put_random_number, pad_field, pad_field, date_near_limit,
    swap_fields, cut_line, insert_line, duplicate_line, delete_line, swap_lines, shuffle_block, join_lines,
    change_line_end, invalid_utf8,
]
# Mutations after which a file usually still reads: they exercise the values rather than the errors.
VALUE_MUTATIONS = [change_value_digit, put_marker, put_random_number, pad_field, duplicate_line, swap_lines]


# --- Mutations of a whole file


def set_line_ends(d):
    style = d.rng.choice(["lf", "crlf", "mixed"])
    for i in range(len(d.eols)):
        d.eols[i] = b"\n" if style == "lf" or (style == "mixed" and d.rng.random() < 0.5) else b"\r\n"


def drop_final_line_end(d):
    if d.eols:
        d.eols[-1] = b""


def add_trailing_lines(d):
    for _ in range(d.rng.randint(1, 3)):
        d.lines.append(bytearray(d.rng.choice([b"", b" ", b"\t", b"#", b"\xc2\xa0"])))
        d.eols.append(d.rng.choice([b"\n", b"\r\n", b""]))


def add_bom(d):
    if d.lines:
        d.lines[0][0:0] = BOM


def shuffle_rows(d):
    first = 1 if d.kind == "csv" else 0
    rows = list(zip(d.lines[first:], d.eols[first:]))
    d.rng.shuffle(rows)
    d.lines[first:] = [line for line, _ in rows]
    d.eols[first:] = [eol for _, eol in rows]


def csv_columns(d):
    """The CSV's columns reordered or dropped, in the header only or in every line."""
    if d.kind != "csv" or not d.lines:
        return
    table = [bytes(line).split(b",") for line in d.lines]
    width = len(table[0])
    action = d.rng.choice(["reorder", "reorder", "drop", "drop", "reorder header", "drop header", "rename",
                           "duplicate", "extra"])
    order = list(range(width))
    if action in ("reorder", "reorder header"):
        d.rng.shuffle(order)
    elif action in ("drop", "drop header"):
        order.pop(d.rng.randrange(width))
    if action == "rename":
        table[0][d.rng.randrange(width)] = d.rng.choice(CSV_RENAMES)
    elif action == "duplicate":
        table[0].append(table[0][d.rng.randrange(width)])
    elif action == "extra":
        table = [row + [b"EXTRA" if i == 0 else b"1"] for i, row in enumerate(table)]
    else:
        rows = table[:1] if action.endswith("header") else table
        for i, row in enumerate(rows):
            rows[i] = [row[j] for j in order if j < len(row)]
        table[:len(rows)] = rows
    d.lines = [bytearray(b",".join(row)) for row in table]


FILE_MUTATIONS = [set_line_ends, drop_final_line_end, add_trailing_lines, add_bom, shuffle_rows, csv_columns]


# --- Making the files


def small_file(rng, kind, sources):
    """A window of 1 to MAX_SMALL_LINES rows (rarely none) of a sample or full file, then a few
    mutations, mostly below the header; a third of the files get only those that keep them readable."""
    source = rng.choice(sources[kind])
    count = 0 if rng.random() < 0.01 else min(len(source.rows), int(math.exp(rng.uniform(0, math.log(MAX_SMALL_LINES)))))
    start = rng.randint(0, len(source.rows) - count)
    header = source.header if kind == "dtc" or rng.random() < 0.95 else []
    d = Draft(rng, kind, header, source.rows[start:start + count], source.eol)
    if rng.random() < 0.3:
        mutations, rounds = VALUE_MUTATIONS, rng.randint(0, 5)
    else:
        mutations, rounds = LINE_MUTATIONS, rng.choice([0, 1, 1, 1, 2, 2, 3, 5])
        for _ in range(rng.choice([0, 0, 1, 1, 2])):
            rng.choice(FILE_MUTATIONS)(d)
    if rng.random() < 0.85:
        d.zone = (d.header_count, len(d.lines))
    for _ in range(rounds):
        rng.choice(mutations)(d)
    return d.content()


def large_rows(rng, source):
    """Rows of `source` worth more than TWO_THREADS_FROM bytes: the whole file, a window of up
    to three times that size, or a sample repeated."""
    if source.row_bytes <= TWO_THREADS_FROM:
        repeats = TWO_THREADS_FROM // max(1, source.row_bytes) + 1 + rng.randint(0, 3)
        return source.rows * repeats
    if rng.random() < 0.15:
        return source.rows
    row_bytes = source.row_bytes / len(source.rows)
    least = int(TWO_THREADS_FROM * 1.02 / row_bytes) + 1
    count = rng.randint(least, max(least, min(len(source.rows), 3 * least)))
    start = rng.randint(0, len(source.rows) - count)
    return source.rows[start:start + count]


def large_file(rng, kind, sources):
    """A text that two threads read, with a few mutations placed in one half, in both, at the
    middle where it is split, at its very end, or nowhere harmful."""
    source = sources[kind][-1]
    d = Draft(rng, kind, source.header, large_rows(rng, source), source.eol)
    if rng.random() < 0.2:
        rng.choice(FILE_MUTATIONS)(d)
    middle, count = d.middle_line(), len(d.lines)
    halves = {"first half": (0, middle), "second half": (middle, count), "middle": (max(0, middle - 3), middle + 3),
              "end": (max(0, count - 3), count), "anywhere": (0, count)}
    plan = rng.choice(["values", "second half", "both halves", "middle", "end", "anywhere"])
    zones = ["first half", "second half"] if plan == "both halves" else [plan if plan in halves else "anywhere"]
    mutations = VALUE_MUTATIONS if plan == "values" else LINE_MUTATIONS
    for zone in zones:
        d.zone = halves[zone]
        for _ in range(rng.randint(1, 3)):
            rng.choice(mutations)(d)
    return d.content()


def make_file(seed, index, sources):
    """File `index` of the run seeded `seed`: its kind and bytes, the same on every machine."""
    rng = random.Random(f"{seed}/{index}")
    kind = rng.choice(list(SOURCE_NAMES))
    large = index % LARGE_EVERY == LARGE_EVERY // 2
    content = (large_file if large else small_file)(rng, kind, sources)
    return kind, content


def file_name(index, kind):
    return f"{index:07d}.{kind}"


def generate_range(args):
    seed, first, last, out_dir = args
    sources, entries = load_sources(), []
    for index in range(first, last):
        kind, content = make_file(seed, index, sources)
        name = file_name(index, kind)
        (Path(out_dir) / name).write_bytes(content)
        entries.append(f"{name}\t{kind}\t{len(content)}\n")
    return entries


def generate(seed, count, out_dir, jobs):
    """Writes the files and the manifest (name, kind, size per line) into out_dir."""
    chunk = 2000
    tasks = [(seed, first, min(count, first + chunk), str(out_dir)) for first in range(0, count, chunk)]
    with multiprocessing.Pool(jobs) as pool:
        lines = [line for entries in pool.imap(generate_range, tasks) for line in entries]
    (out_dir / MANIFEST).write_text("".join(lines))


# --- Observing one build (runs in that build's Python)

# What is called on each file: the three Sunindex readers (the wrong two must fail alike too),
# then SpaceWeather.load with the keyword of the file's kind.
CALLS = ("from_celestrak_csv", "from_set_solfsmy", "from_set_dtcfile", "SpaceWeather.load")


def attempt(fn, *args, **kwargs):
    """("ok", result, warnings) or ("raised", type, message, warnings): what a caller can see."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        try:
            result = ("ok", fn(*args, **kwargs))
        except Exception as error:  # every failure is an observation to compare
            result = ("raised", f"{type(error).__module__}.{type(error).__qualname__}", str(error), repr(error.args))
    return result + (tuple((w.category.__name__, str(w.message)) for w in caught),)


def days_state(values):
    """Values that are all exact datetime.date as ("days", ordinals): pickling a date object
    costs some forty times more than pickling its ordinal."""
    if values and set(map(type, values)) == {datetime.date}:
        return ("days", list(map(datetime.date.toordinal, values)))
    return values


def array_state(array):
    """An array as its dtype, shape and exact bytes (NaN payloads included); objects as a list."""
    import numpy as np

    if array.dtype == np.dtype(object):
        return ("object", array.shape, days_state(array.tolist()))
    return (array.dtype.str, array.shape, array.tobytes())


def columns_state(columns):
    if not isinstance(columns, dict):
        return ("not a dict", repr(columns))
    return {key: array_state(value) if hasattr(value, "dtype") else repr(value) for key, value in columns.items()}


def records_state(records):
    """get_range's dicts as ("records", their keys, their first values, the other values):
    the same content, pickled in half the time."""
    if not isinstance(records, list) or not all(type(record) is dict for record in records):
        return records
    keys = list(map(tuple, records))
    rows = list(map(list, map(dict.values, records)))
    first = days_state([row.pop(0) if row else None for row in rows])
    return ("records", keys[0] if keys and keys.count(keys[0]) == len(keys) else keys, first, rows)


def store_state(reader, path):
    """What a Sunindex read of `path` shows: the error, or every method's result."""
    made = attempt(reader, path)
    if made[0] != "ok":
        return made
    store = made[1]
    span = attempt(store.date_range)
    state = [("len", attempt(store.len), attempt(len, store)), ("date_range", span),
             ("to_numpy", attempt(lambda: columns_state(store.to_numpy())))]
    if span[0] == "ok" and span[1] is not None:
        state.append(("get_range", attempt(lambda: records_state(store.get_range(*span[1])))))
    return ("ok", tuple(state))


def space_weather_state(keyword, path):
    """What SpaceWeather.load(keyword=path) shows: the error, or its results on every day."""
    import numpy as np
    from sunindex_tools import SpaceWeather

    made = attempt(SpaceWeather.load, **{keyword: path})
    if made[0] != "ok":
        return made
    sw = made[1]
    state = [("repr", repr(sw)), ("span", sw.span), ("coverage", sw.coverage),
             ("sources", {key: (str(s.path), s.first, s.last) for key, s in sw.sources.items()}),
             ("last_observed", sw.last_observed), ("first_predicted", sw.first_predicted)]
    coverage = {"daily": sw.span, **sw.coverage}
    # The hour is off the 3-hour slots and off the hour, so that interpolation shows.
    for name, method in (("daily", sw.daily), ("msis", sw.msis_inputs), ("jb2008", sw.jb2008_inputs)):
        days = coverage[name] or sw.span
        if days is None:
            continue
        epochs = np.arange(days[0], days[1] + np.timedelta64(1, "D"), dtype="M8[D]") + np.timedelta64(49_500, "s")
        state.append((name, attempt(lambda: columns_state(method(epochs)))))
    return ("ok", tuple(state))


def file_state(path):
    """The state of each of CALLS on the file; its kind is its name's suffix."""
    from sunindex import Sunindex

    readers = (Sunindex.from_celestrak_csv, Sunindex.from_set_solfsmy, Sunindex.from_set_dtcfile)
    states = [store_state(reader, path) for reader in readers]
    states.append(space_weather_state(LOAD_KEYWORDS[Path(path).suffix[1:]], path))
    return tuple(states)


def state_digest(state):
    """sha256 of the state pickled without memo, so that only values count, not object identity."""
    buffer = io.BytesIO()
    pickler = pickle.Pickler(buffer, protocol=5)
    pickler.fast = True
    pickler.dump(state)
    return hashlib.sha256(buffer.getvalue()).hexdigest()


def outcome_letters(state):
    """One letter per call: "+" read, "-" refused."""
    return "".join("+" if call[0] == "ok" else "-" for call in state)


def observe(directory, out, start):
    """Writes, from the manifest's entry `start` on, one line per file: its name, the outcome
    letters and a digest per call."""
    entries = (Path(directory) / MANIFEST).read_text().splitlines()[start:]
    with open(out, "a", buffering=1) as sink:
        for entry in entries:
            name = entry.split("\t")[0]
            state = file_state(str(Path(directory) / name))
            digests = ",".join(state_digest(call)[:32] for call in state)
            sink.write(f"{name}\t{outcome_letters(state)}\t{digests}\n")


# --- Writing a state out in full, for the files that differ


def is_flat(value):
    """A value written on one line: a scalar, or a short list of scalars."""
    if isinstance(value, (list, tuple)):
        return len(value) <= 8 and not any(isinstance(v, (list, tuple, dict, bytes)) for v in value)
    return not isinstance(value, (dict, bytes))


def is_array_state(value):
    return isinstance(value, tuple) and len(value) == 3 and isinstance(value[0], str) and isinstance(value[2], bytes)


def render(value, indent=""):
    """Lines that show `value` exactly: floats by repr with NaN bits, arrays and records row by row."""
    if is_array_state(value):
        yield from render_array(*value, indent)
    elif isinstance(value, tuple) and value[:1] == ("days",):
        yield from (indent + datetime.date.fromordinal(day).isoformat() for day in value[1])
    elif isinstance(value, tuple) and value[:1] == ("records",) and len(value) == 4:
        yield from render_records(*value[1:], indent)
    elif isinstance(value, dict) and not all(is_flat(v) for v in value.values()):
        for key, item in value.items():
            if is_array_state(item):
                yield from render_array(*item, indent, label=key)
            else:
                yield f"{indent}{key!r}:"
                yield from render(item, indent + "  ")
    elif isinstance(value, (list, tuple)) and not is_flat(value):
        for item in value:
            yield from render(item, indent + "  ")
    else:
        yield indent + exact_repr(value)


def render_records(keys, first, rows, indent):
    yield f"{indent}records, keys {exact_repr(keys)}"
    if isinstance(first, tuple) and first[:1] == ("days",):
        first = [datetime.date.fromordinal(day) for day in first[1]]
    for value, row in zip(first, rows):
        yield f"{indent}  {value!s}: {exact_repr(row)}"


def exact_repr(value):
    if isinstance(value, float):
        return repr(value) if value == value else f"nan({struct.pack('>d', value).hex()})"
    if isinstance(value, (list, tuple)):
        return "[" + ", ".join(map(exact_repr, value)) + "]"
    if isinstance(value, dict):
        return "{" + ", ".join(f"{k!r}: {exact_repr(v)}" for k, v in value.items()) + "}"
    return repr(value)


def render_array(dtype, shape, data, indent, label="array"):
    """The array's rows, each with its label and row number, so that a difference shows where it is."""
    import numpy as np

    yield f"{indent}{label}: {dtype} {shape}"
    array = np.frombuffer(data, dtype=dtype).reshape(shape)
    for index, row in enumerate(array.reshape(shape[0], -1) if array.ndim and shape[0] else []):
        yield f"{indent}  {label}[{index}] {exact_repr([item.item() for item in row])}"


def write_states(directory, names, out_dir):
    for name in names:
        text = []
        for call, call_state in zip(CALLS, file_state(str(Path(directory) / name))):
            text.append(f"{call}:")
            text.extend(render(call_state, "  "))
        (Path(out_dir) / f"{name}.txt").write_text("\n".join(text) + "\n")


# --- The builds


def git(*args):
    return subprocess.run(["git", "-C", str(REPO), *args], check=True, capture_output=True).stdout


def build_baseline(base, venv, python):
    """The baseline revision installed into its own venv; kept while the revision is the same."""
    commit = git("rev-parse", f"{base}^{{commit}}").decode().strip()
    stamp = venv / "differential-base"
    if stamp.is_file() and stamp.read_text() == commit:
        print(f"baseline {base} ({commit[:9]}): reusing {venv}")
        return
    source = WORK / "base"
    print(f"baseline {base} ({commit[:9]}): building into {venv}")
    shutil.rmtree(source, ignore_errors=True)
    source.mkdir(parents=True)
    subprocess.run(["tar", "-x", "-C", str(source)], input=git("archive", "--format=tar", commit), check=True)
    if not (venv / "bin" / "python").exists():
        subprocess.run([python, "-m", "venv", str(venv)], check=True)
    subprocess.run([str(venv / "bin" / "python"), "-m", "pip", "install", "--quiet", str(source)], check=True)
    stamp.write_text(commit)


# --- The run


def run_worker(python, directory, out):
    """Observes every file with `python`, starting again after a file on which it crashed;
    a crash is written as that file's result."""
    entries = (directory / MANIFEST).read_text().splitlines()
    out.write_text("")
    for _ in range(MAX_WORKER_RESTARTS):
        done = len(out.read_text().splitlines())
        proc = subprocess.run([str(python), __file__, "observe", str(directory), str(out), str(done)],
                              cwd=tempfile.gettempdir(), capture_output=True, text=True)
        done = len(out.read_text().splitlines())
        if done >= len(entries):
            return
        last_error = (proc.stderr.strip().splitlines() or [""])[-1]
        with open(out, "a") as sink:
            sink.write(f"{entries[done].split(chr(9))[0]}\t?\tcrash {proc.returncode}: {last_error}\n")
    raise SystemExit(f"{python}: crashed {MAX_WORKER_RESTARTS} times, giving up")


def run_both(pythons, directory):
    """Both builds' observations, read concurrently; per build, {name: (outcomes, digests)}."""
    outs = {label: WORK / f"{label}.txt" for label in pythons}
    threads = [threading.Thread(target=run_worker, args=(pythons[label], directory, outs[label])) for label in pythons]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    results = {}
    for label, out in outs.items():
        results[label] = {name: (outcomes, digests)
                          for name, outcomes, digests in (line.split("\t") for line in out.read_text().splitlines())}
    return results


def describe_versions(pythons):
    """Prints what each build runs on; warns when the interpreters or numpy differ, since
    then a difference need not come from the readers."""
    code = "import sys, numpy, sunindex; print(sys.version.split()[0], numpy.__version__, sunindex.__file__)"
    versions = {}
    for label, python in pythons.items():
        found = subprocess.run([str(python), "-c", code], cwd=tempfile.gettempdir(), capture_output=True, text=True)
        print(f"{label:8} python {found.stdout.strip() or found.stderr.strip()}")
        versions[label] = found.stdout.split()[:2]
    if versions["base"] != versions["current"]:
        print("warning: the two builds run on different Python or numpy versions")


def summarise(manifest, results):
    """Counts by kind and size, identical files, and what the readers made of them."""
    base, current = results["base"], results["current"]
    counts = {}
    for name, kind, size in manifest:
        large = int(size) >= TWO_THREADS_FROM
        for key in (kind, f"{kind} large" if large else None, "all", "large" if large else None):
            if key:
                counts.setdefault(key, [0, 0])[0] += 1
                counts[key][1] += base.get(name) == current.get(name)
    print("files (identical / all):")
    for key in ["all", "large", *SOURCE_NAMES, *(f"{k} large" for k in SOURCE_NAMES)]:
        if key in counts:
            print(f"  {key:10} {counts[key][1]:7d} / {counts[key][0]:7d}")
    print("read (+) or refused (-) by the current build, per call:")
    for index, call in enumerate(CALLS):
        for kind in SOURCE_NAMES:
            outcomes = [current[name][0][index:index + 1] for name, k, _ in manifest if k == kind and name in current]
            print(f"  {call:20} {kind}: {outcomes.count('+'):6d} +  {outcomes.count('-'):6d} -")


def call_sections(path):
    """The lines of a written-out state, by call."""
    if not path.is_file():
        return {call: ["(no result: the build crashed on this file)"] for call in CALLS}
    sections, lines = {}, []
    for line in path.read_text().splitlines():
        if line.endswith(":") and not line.startswith(" "):
            lines = sections.setdefault(line[:-1], [])
        else:
            lines.append(line)
    return sections


def differing_calls(name, results):
    """The calls whose results differ on a file (all of them where a build crashed or lacks it)."""
    base, current = (results[label].get(name, ("?", "")) for label in ("base", "current"))
    pairs = itertools.zip_longest(base[1].split(","), current[1].split(","))
    return [call for call, (a, b) in zip(CALLS, pairs) if a != b or a.startswith("crash")]


def print_difference(name, failures, results):
    """The differences of a file's written-out results, call by call."""
    print(f"\n=== {name}: in full in {failures}/base/{name}.txt and current/{name}.txt")
    sections = {label: call_sections(failures / label / f"{name}.txt") for label in ("base", "current")}
    for call in differing_calls(name, results):
        print(f"    {call}:")
        diff = list(difflib.unified_diff(sections["base"].get(call, []), sections["current"].get(call, []),
                                         n=1, lineterm=""))[2:]
        for line in diff[:DIFF_LINES]:
            print("      " + line[:300])
        if len(diff) > DIFF_LINES:
            print(f"      ... {len(diff) - DIFF_LINES} more lines")


def report_differences(names, directory, pythons, results):
    """Keeps every differing file, lists them with the calls that differ and the outcome
    letters of both builds, and writes out and shows the first ones' results in full."""
    failures = WORK / "failures"
    failures.mkdir(parents=True, exist_ok=True)
    print(f"\ndiffering files, kept in {failures} (outcomes as base / current; calls that differ):")
    for name in names:
        shutil.copy(directory / name, failures / name)
        outcomes = " / ".join(results[label].get(name, ("missing",))[0] for label in ("base", "current"))
        print(f"  {name}  {outcomes}  {', '.join(differing_calls(name, results))}")
    detailed = names[:DETAILED_DIFFERENCES]
    (failures / "detailed").write_text("\n".join(detailed) + "\n")
    for label, python in pythons.items():
        (failures / label).mkdir()
        subprocess.run([str(python), __file__, "write-states", str(directory), str(failures / "detailed"),
                        str(failures / label)], cwd=tempfile.gettempdir(), check=False)
    for name in detailed:
        print_difference(name, failures, results)


def main_run(args):
    started = time.monotonic()
    venv_base, venv_current = REPO / args.base_venv, REPO / args.venv
    build_baseline(args.base, venv_base, args.python)
    pythons = {"base": venv_base / "bin" / "python", "current": venv_current / "bin" / "python"}
    describe_versions(pythons)
    shutil.rmtree(WORK / "failures", ignore_errors=True)  # a stale failure must not outlive the run that found it
    WORK.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory(prefix="sunindex-differential-", dir=args.tmp) as tmp:
        directory = Path(tmp)
        generate(args.seed, args.files, directory, args.jobs)
        manifest = [line.split("\t") for line in (directory / MANIFEST).read_text().splitlines()]
        generated = time.monotonic()
        print(f"generated {len(manifest)} files (seed {args.seed}) in {generated - started:.0f} s")
        results = run_both(pythons, directory)
        print(f"observed by both builds in {time.monotonic() - generated:.0f} s")
        summarise(manifest, results)
        differing = [name for name, _, _ in manifest if results["base"].get(name) != results["current"].get(name)]
        if differing:
            report_differences(differing, directory, pythons, results)
    print(f"\n{len(manifest) - len(differing)} of {len(manifest)} files identical; "
          f"{len(differing)} differ; {time.monotonic() - started:.0f} s in all")
    return 1 if differing else 0


def default_temp_dir():
    """/dev/shm where there is one: creating 10^5 files in a disk's temp folder can take minutes."""
    return "/dev/shm" if os.access("/dev/shm", os.W_OK) else tempfile.gettempdir()


def parse_args(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    sub = parser.add_subparsers(dest="command")
    observe_parser = sub.add_parser("observe", help="(internal) one line per file, in the build's Python")
    observe_parser.add_argument("directory")
    observe_parser.add_argument("out")
    observe_parser.add_argument("start", type=int)
    states_parser = sub.add_parser("write-states", help="(internal) the full results of listed files")
    states_parser.add_argument("directory")
    states_parser.add_argument("list_file")
    states_parser.add_argument("out_dir")
    parser.add_argument("--base", default="9054ea6", help="baseline git revision (default 9054ea6)")
    parser.add_argument("--files", type=int, default=100_000, help="number of random files (default 100000)")
    parser.add_argument("--seed", default="1", help="seed of the files (default 1)")
    parser.add_argument("--venv", default=".venv", help="venv of the current tree, built by make install")
    parser.add_argument("--base-venv", default=".venv-base", help="venv the baseline is built into")
    parser.add_argument("--python", default=sys.executable, help="Python that makes the baseline's venv")
    parser.add_argument("--tmp", default=default_temp_dir(), help="where the files are written (default: %(default)s)")
    parser.add_argument("--jobs", type=int, default=2, help="processes that generate the files")
    return parser.parse_args(argv)


def main(argv=None):
    args = parse_args(argv)
    if args.command == "observe":
        observe(args.directory, args.out, args.start)
        return 0
    if args.command == "write-states":
        write_states(args.directory, Path(args.list_file).read_text().splitlines(), args.out_dir)
        return 0
    return main_run(args)


if __name__ == "__main__":
    sys.exit(main())
