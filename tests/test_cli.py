"""The `sunindex` command, through main(argv) on the shipped samples, and once as installed."""

import csv
import datetime as dt
import io
import json
import os
import re
import shutil
import subprocess
import sys
import time
import warnings

import numpy as np
import pytest

from conftest import FULL_DATA_DIR, SAMPLE_DIR
from sunindex_tools import SpaceWeather
from sunindex_tools.cli import main
from sunindex_tools.space_weather import _bundled_prediction

CACHED_NAMES = {"SW-sample.csv": "SW-All.csv", "SOLFSMY-sample.TXT": "SOLFSMY.TXT", "DTCFILE-sample.TXT": "DTCFILE.TXT"}
URL_VARIABLES = {"SW-sample.csv": "SUNINDEX_URL_CSV", "SOLFSMY-sample.TXT": "SUNINDEX_URL_SOLFSMY",
                 "DTCFILE-sample.TXT": "SUNINDEX_URL_DTCFILE"}


MSIS_AP_COLUMNS = ["ap_daily", "ap_0h", "ap_3h", "ap_6h", "ap_9h", "ap_12_33h", "ap_36_57h"]


def csv_rows():
    """The sample CSV's rows as dicts of the file's own text, by date."""
    header, *lines = (SAMPLE_DIR / "SW-sample.csv").read_text().splitlines()
    return {line[:10]: dict(zip(header.split(","), line.split(","))) for line in lines}


def fixed_columns(name, key):
    """The sample's whitespace-separated fields of the line whose leading fields are `key`."""
    for line in (SAMPLE_DIR / name).read_text().splitlines():
        fields = line.split()
        if fields[:len(key)] == key:
            return fields[len(key):]
    raise LookupError(key)


@pytest.fixture(autouse=True)
def urls_of_the_samples(monkeypatch):
    """Downloads come from the samples through file:// URLs; nothing touches the network."""
    for sample, variable in URL_VARIABLES.items():
        monkeypatch.setenv(variable, (SAMPLE_DIR / sample).as_uri())


@pytest.fixture
def data_dir(tmp_path):
    folder = tmp_path / "data"
    folder.mkdir()
    for sample, name in CACHED_NAMES.items():
        shutil.copyfile(SAMPLE_DIR / sample, folder / name)
    return folder


@pytest.fixture
def run(capsys):
    """Runs main(argv) and returns (status, stdout, stderr)."""
    def run(*argv):
        status = main([str(arg) for arg in argv])
        out, err = capsys.readouterr()
        return status, out, err
    return run


class TestFetchAndInfo:
    def test_fetch_fills_an_empty_folder_and_info_describes_it(self, run, tmp_path):
        folder = tmp_path / "new"
        status, out, err = run("fetch", "--data-dir", folder)
        assert (status, err) == (0, "")
        assert all((folder / name).read_bytes() == (SAMPLE_DIR / sample).read_bytes()
                   for sample, name in CACHED_NAMES.items())
        observed = [day for day, row in csv_rows().items() if row["F10.7_DATA_TYPE"] == "OBS"]
        predicted = [day for day, row in csv_rows().items() if row["F10.7_DATA_TYPE"] == "PRD"]
        assert "solfsmy  SOLFSMY.TXT  checked 0 s ago, 2023-01-01 to 2024-12-31" in out
        assert f"last observed day   {observed[-1]}" in out and f"first predicted day {predicted[0]}" in out
        # The same listing, but for the seconds passed since (a slow build crosses a second).
        def without_ages(text):
            return re.sub(r"checked \d+ s ago", "checked ago", text)

        assert without_ages(out) == without_ages(run("info", "--data-dir", folder)[1])

    def test_info_on_a_folder_without_files_says_how_to_get_them(self, run, tmp_path):
        status, out, _ = run("info", "--data-dir", tmp_path, "--offline")
        assert status == 0 and out.count("not downloaded (run 'sunindex fetch')") == 3

    def test_a_stale_copy_that_cannot_be_refreshed_is_used_with_one_warning_line(self, run, data_dir, monkeypatch):
        for name in CACHED_NAMES.values():
            os.utime(data_dir / name, (0, 0))
        monkeypatch.setenv("SUNINDEX_URL_CSV", (data_dir / "missing.csv").as_uri())
        status, out, err = run("show", "2024-05-11", "--data-dir", data_dir)
        assert status == 0 and "f107_obs" in out
        assert err.startswith("sunindex: warning: using cached copies: SW-All.csv (") and err.count("\n") == 1


class TestShow:
    def test_json_gives_the_files_values(self, run, data_dir):
        status, out, _ = run("show", "2024-05-10", "2024-05-12", "--json", "--offline", "--data-dir", data_dir)
        days = json.loads(out)
        assert status == 0 and [day["date"] for day in days] == ["2024-05-10", "2024-05-11", "2024-05-12"]
        row = csv_rows()["2024-05-11"]
        day = days[1]
        assert (day["f107_obs"], day["ap_21"], day["f107_data_type"]) == (
            float(row["F10.7_OBS"]), float(row["AP8"]), row["F10.7_DATA_TYPE"])
        assert day["s10"] == float(fixed_columns("SOLFSMY-sample.TXT", ["2024", "132"])[3])
        assert [day[f"dtc_{hour:02d}"] for hour in range(24)] == [
            float(v) for v in fixed_columns("DTCFILE-sample.TXT", ["DTC", "2024", "132"])]

    def test_table_and_csv_print_the_files_text(self, run, data_dir):
        row = csv_rows()["2024-05-11"]
        _, table, _ = run("show", "2024-05-11", "--offline", "--data-dir", data_dir)
        assert f"f107_obs_center81  {row['F10.7_OBS_CENTER81']}\n" in table
        _, text, _ = run("show", "2024-05-11", "--csv", "--offline", "--data-dir", data_dir)
        header, values = text.splitlines()
        record = dict(zip(header.split(","), values.split(",")))
        assert record["date"] == "2024-05-11"
        assert (float(record["ap_00"]), float(record["kp_21"])) == (float(row["AP1"]), float(row["KP8"]))


class TestModelInputs:
    def test_msis_prints_what_the_model_takes(self, run, data_dir):
        status, out, _ = run("msis", "2024-05-11T12:00", "--csv", "--offline", "--data-dir", data_dir)
        header, values = out.splitlines()
        inputs = dict(zip(header.split(","), values.split(",")))
        yesterday, today = csv_rows()["2024-05-10"], csv_rows()["2024-05-11"]
        assert status == 0 and inputs["epoch"] == "2024-05-11T12:00"
        assert (inputs["f107"], inputs["f107a"]) == (yesterday["F10.7_OBS"], today["F10.7_OBS_CENTER81"])
        assert (float(inputs["ap_daily"]), float(inputs["ap_0h"])) == (float(today["AP_AVG"]), float(today["AP5"]))

    @pytest.mark.parametrize("command", ["msis", "jb2008"])
    def test_every_value_reads_back_as_the_same_double(self, run, data_dir, command):
        epochs = ["2024-05-11T12:20", "2024-05-10T22:40", "2024-02-29T23:59:59"]  # DSTDTC interpolated by thirds
        _, out, _ = run(command, *epochs, "--csv", "--offline", "--data-dir", data_dir)
        printed = list(csv.DictReader(io.StringIO(out)))
        weather = SpaceWeather.load(*(data_dir / name for name in CACHED_NAMES.values()))
        inputs = getattr(weather, f"{command}_inputs")(epochs)
        for name, values in inputs.items():
            if values.dtype.kind == "f":
                columns = [name] if values.ndim == 1 else MSIS_AP_COLUMNS
                texts = [[row[column] for column in columns] for row in printed]
                assert np.array_equal(np.array(texts, dtype=float).reshape(values.shape), values, equal_nan=True)

    def test_jb2008_prints_lagged_indices_and_the_hourly_dtc(self, run, data_dir):
        status, out, _ = run("jb2008", "2024-05-11T03:00Z", "2024-05-12", "--json", "--offline",
                             "--data-dir", data_dir)
        first, second = json.loads(out)
        solfsmy = fixed_columns("SOLFSMY-sample.TXT", ["2024", "131"])  # JulianDay F10 F81c S10 S81c ...
        assert status == 0 and (first["f10"], first["s10b"]) == (float(solfsmy[1]), float(solfsmy[4]))
        assert first["dstdtc"] == float(fixed_columns("DTCFILE-sample.TXT", ["DTC", "2024", "132"])[3])
        assert second["epoch"] == "2024-05-12"


class TestErrors:
    @pytest.mark.parametrize("argv, status, message", [
        ([], 2, "sunindex: error: the following arguments are required: COMMAND"),
        (["bogus"], 2, "invalid choice: 'bogus'"),
        (["show"], 2, "sunindex show: error: the following arguments are required: DATE"),
        (["show", "2024-13-01"], 2, "argument DATE: not a date: '2024-13-01' (use YYYY-MM-DD, today or now)"),
        (["show", "2024-05-12", "2024-05-11"], 2, "END 2024-05-11 is before 2024-05-12"),
        (["show", "2024-05-11", "--csv", "--json"], 2, "argument --json: not allowed with argument --csv"),
        (["fetch", "--max-age", "soon"], 2, "not a duration: 'soon'"),
        (["msis", "not-an-epoch"], 2, "argument EPOCH: not an ISO 8601 epoch: 'not-an-epoch'"),
        (["jb2008", "2024-05-11", "2024-05-32"], 2, "argument EPOCH: "),
        (["msis", "1990-01-01T00:00"], 1, "1990-01-01"),  # well formed, but not in the files: a failure
        (["jb2008", "2030-01-01"], 1, "2030-01-01"),
        (["msis", "2030-01-01", "--forecast-percentile", "100"], 2,
         "argument --forecast-percentile: not a percentile: '100' (must lie strictly between 0 and 100)"),
        (["msis", "2030-01-01", "--forecast-percentile", "nan"], 2, "not a percentile: 'nan'"),
        (["msis", "2030-01-01", "--forecast-percentile", "half"], 2, "not a percentile: 'half'"),
        (["msis", "2030-01-01", "--forecast-percentile", "50", "--interpolate"], 2,
         "argument --interpolate: not allowed with argument --forecast-percentile"),
        (["msis", "2030-01-01", "--forecast-percentile", "5", "--forecast-percentile", "95"], 2,
         "argument --forecast-percentile: given twice"),
        (["msis", "2024-05-11", "--burst-limit", "nan"], 2, "argument --burst-limit: not a burst limit: 'nan'"),
        (["msis", "2024-05-11", "--burst-limit", "-1"], 2, "argument --burst-limit: not a burst limit: '-1'"),
    ])
    def test_one_line_on_stderr_and_a_status(self, run, data_dir, argv, status, message):
        code, out, err = run(*argv, *(["--offline", "--data-dir", data_dir] if argv[:1] in (["msis"], ["jb2008"]) else []))
        assert (code, out) == (status, "")
        assert message in err and err.count("\n") == 1 and "Traceback" not in err

    def test_control_characters_from_a_file_reach_no_terminal(self, run, tmp_path):
        path = tmp_path / "SW.csv"
        path.write_bytes(b"DATE,\x1b]0;owned\x07,\x1b]0;owned\x07\n2024-05-11,1,1\n")
        with pytest.raises(ValueError, match=r"names column \"\\x1b\]0;owned\\x07\" twice"):
            SpaceWeather.load(csv=path)
        status, _, err = run("msis", "2024-05-11", "--file", path)
        assert status == 2 and "\\x1b]0;owned" in err and "\x1b" not in err and err.count("\n") == 1

    def test_past_the_daily_rows_the_option_is_named_as_typed(self, run, data_dir):
        status, _, err = run("msis", "2026-09-18T12:00", "2030-01-01", "--offline", "--data-dir", data_dir)
        assert status == 1 and err.startswith("sunindex: error: epoch 2030-01-01 is outside the daily rows")
        assert err.endswith("; past them, --forecast-percentile gives inputs from the solar-cycle prediction\n")
        with pytest.raises(ValueError, match="; past them, forecast_percentile gives inputs"):  # the API's own words
            SpaceWeather.load(csv=data_dir / "SW-All.csv").msis_inputs("2030-01-01")

    @pytest.mark.parametrize("command", ["msis", "show", "fetch"])
    def test_no_copy_offline_is_status_1_naming_the_url_and_the_option(self, run, tmp_path, command):
        status, _, err = run(command, *(["2024-05-11"] if command != "fetch" else []), "--offline",
                             "--data-dir", tmp_path)
        assert status == 1 and "offline, and never downloaded" in err and "SUNINDEX_URL_CSV" in err
        assert err.count("\n") == 1 and (f"sunindex {command} with --file PATH" in err) == (command != "fetch")

    @pytest.mark.parametrize("argv, timeout", [
        (["msis", "2024-05-11"], 30.0), (["msis", "2024-05-11", "--timeout", "90s"], 90.0),
        (["jb2008", "2024-05-11", "--timeout", "2m"], 120.0), (["show", "2024-05-11", "--timeout", "0.5"], 0.5),
        (["fetch", "--timeout", "1h"], 3600.0),
    ])
    def test_the_timeout_reaches_every_download(self, run, data_dir, monkeypatch, argv, timeout):
        from sunindex_tools import fetch as fetch_module
        asked = []

        def recorded(**options):
            asked.append(options["timeout"])
            cached = {"csv": "SW-All.csv", "solfsmy": "SOLFSMY.TXT", "dtcfile": "DTCFILE.TXT"}
            return {key: data_dir / name for key, name in cached.items() if key in (options.get("kinds") or cached)}
        monkeypatch.setattr(fetch_module, "fetch", recorded)
        status, _, err = run(*argv, "--data-dir", data_dir)
        assert (status, err) == (0, "") and asked and set(asked) == {timeout}

    @pytest.mark.parametrize("value", ["0", "0s", "-1m", "soon", "inf", "nan", ""])
    def test_a_timeout_is_a_duration_above_0(self, run, data_dir, value):
        status, out, err = run("msis", "2024-05-11", f"--timeout={value}", "--data-dir", data_dir)
        assert (status, out) == (2, "") and "argument --timeout: not a" in err and err.count("\n") == 1
        assert err.count("\n") == 1

    @pytest.mark.parametrize("argv", [["--help"], ["fetch", "--help"], ["show", "--help"], ["msis", "--help"],
                                      ["jb2008", "--help"], ["plot", "--help"]])
    def test_help_fits_a_screen(self, run, monkeypatch, argv):
        monkeypatch.setenv("COLUMNS", "80")
        status, out, _ = run(*argv)
        assert status == 0 and out.startswith("usage: sunindex")
        assert len(out.splitlines()) <= 25 and max(map(len, out.splitlines())) <= 80


BAD_SOLFSMY = "  2024   1   2460311.0 nonsense\n"


class TestABadCachedFile:
    def test_info_describes_every_file_with_one_error_line_for_the_bad_one(self, run, data_dir):
        (data_dir / "SOLFSMY.TXT").write_text(BAD_SOLFSMY)
        status, out, err = run("info", "--data-dir", data_dir)
        lines = out.splitlines()
        assert (status, err) == (1, "")
        assert lines[2].startswith(f"solfsmy  SOLFSMY.TXT  error: {data_dir / 'SOLFSMY.TXT'}: ")
        assert lines[2].endswith("; run 'sunindex fetch' to download it again")
        assert lines[1].startswith("csv      SW-All.csv   ") and lines[3].startswith("dtcfile  DTCFILE.TXT  ")
        assert "error" not in lines[1] + lines[3] and lines[4] != "last observed day   -"

    @pytest.mark.parametrize("command, bad", [
        (["msis", "2024-05-11"], "SOLFSMY.TXT"), (["msis", "2024-05-11"], "DTCFILE.TXT"),
        (["jb2008", "2024-05-11"], "SW-All.csv"),
    ])
    def test_a_command_that_does_not_read_it_runs(self, run, data_dir, command, bad):
        (data_dir / bad).write_text(BAD_SOLFSMY)
        status, out, err = run(*command, "--offline", "--data-dir", data_dir)
        assert (status, err) == (0, "") and "2024-05-11" in out

    def test_a_fresh_bad_copy_says_that_fetch_replaces_it_and_fetch_does(self, run, data_dir):
        (data_dir / "SW-All.csv").write_text("<html>Sign in to the hotel network</html>\n")
        status, _, err = run("msis", "2024-05-11", "--data-dir", data_dir)  # younger than max_age: not refreshed
        assert status == 1 and err.count("\n") == 1
        assert err.startswith(f"sunindex: error: {data_dir / 'SW-All.csv'}: ")
        assert err.endswith("; run 'sunindex fetch' to download it again\n")
        assert run("fetch", "--data-dir", data_dir)[0] == 0
        assert run("msis", "2024-05-11", "--data-dir", data_dir)[0] == 0

    @pytest.mark.parametrize("content", [None, "junk\n"])  # missing, and no prediction
    def test_a_bad_prediction_is_not_blamed_on_the_cache(self, run, data_dir, tmp_path, monkeypatch, content):
        monkeypatch.chdir(tmp_path)
        if content is not None:
            (tmp_path / "prediction.txt").write_text(content)
        status, _, err = run("msis", "2024-05-11", "--offline", "--data-dir", data_dir, "--msfc", "./prediction.txt")
        assert status == 1 and "prediction.txt" in err and "sunindex fetch" not in err

    def test_show_shows_the_files_that_are_there(self, run, tmp_path):
        folder = tmp_path / "data"
        folder.mkdir()
        shutil.copyfile(SAMPLE_DIR / "SW-sample.csv", folder / "SW-All.csv")
        status, out, err = run("show", "2024-05-11", "--json", "--offline", "--data-dir", folder)
        day, = json.loads(out)
        assert status == 0 and day["f107_obs"] == float(csv_rows()["2024-05-11"]["F10.7_OBS"]) and day["s10"] is None
        assert [line.split(": ")[:3] for line in err.splitlines()] == [
            ["sunindex", "warning", "shown without it"]] * 2


class TestTheDataFolder:
    @pytest.mark.parametrize("argv", [["msis", "2024-05-11"], ["show", "2024-05-11"], ["info"]])
    def test_a_mistyped_folder_is_left_as_it_was_when_the_command_fails(self, run, tmp_path, monkeypatch, argv):
        for variable in URL_VARIABLES.values():
            monkeypatch.setenv(variable, str(tmp_path / "nowhere.csv"))
        status, _, _ = run(*argv, "--data-dir", tmp_path / "mistyped" / "data")
        assert status == (0 if argv == ["info"] else 1) and not (tmp_path / "mistyped").exists()

    def test_a_plain_path_in_the_environment_is_a_local_file(self, run, tmp_path, monkeypatch):
        monkeypatch.setenv("SUNINDEX_URL_CSV", str(SAMPLE_DIR / "SW-sample.csv"))
        status, _, err = run("fetch", "--data-dir", tmp_path)
        assert (status, err) == (0, "") and (tmp_path / "SW-All.csv").read_bytes() == (
            SAMPLE_DIR / "SW-sample.csv").read_bytes()

    def test_info_says_checked_only_for_a_checked_copy_and_the_age_of_any_other(self, run, data_dir):
        two_days_ago = time.time() - 2 * 86400
        for name in CACHED_NAMES.values():
            os.utime(data_dir / name, (two_days_ago, two_days_ago))
        _, out, _ = run("info", "--data-dir", data_dir)
        assert out.count("2.0 days old, never checked, ") == 3 and "checked 2.0 days ago" not in out
        run("fetch", "--data-dir", data_dir)
        _, out, _ = run("info", "--data-dir", data_dir)
        assert out.count("checked 0 s ago, ") == 3


class TestOutput:
    @pytest.fixture
    def infinite_f107(self, data_dir):
        """The 2024-05-11 F10.7_OBS of the CSV written as 1e999, which reads as infinity."""
        path = data_dir / "SW-All.csv"
        header, *rows = path.read_text().splitlines()
        column = header.split(",").index("F10.7_OBS")
        for index, row in enumerate(rows):
            if row.startswith("2024-05-11"):
                fields = row.split(",")
                fields[column] = "1e999"
                rows[index] = ",".join(fields)
        path.write_text("\n".join([header, *rows]) + "\n")
        return data_dir

    def test_json_writes_an_infinity_as_csv_prints_it_and_stays_strict_json(self, run, infinite_f107):
        argv = ["show", "2024-05-11", "--offline", "--data-dir", infinite_f107]
        status, out, err = run(*argv, "--json")

        def refuse(constant):
            raise ValueError(f"not JSON: {constant}")

        day, = json.loads(out, parse_constant=refuse)
        assert (status, err) == (0, "") and day["f107_obs"] == "inf" and day["dtc_00"] is not None
        assert day["f107_obs"] == next(csv.DictReader(io.StringIO(run(*argv, "--csv")[1])))["f107_obs"]

    def test_json_writes_no_value_as_null(self, run, data_dir):
        (data_dir / "SOLFSMY.TXT").unlink()
        day, = json.loads(run("show", "2024-05-11", "--json", "--offline", "--data-dir", data_dir)[1])
        assert day["s10"] is None and day["f10"] is None

    @pytest.mark.parametrize("style", [[], ["--csv"], ["--json"]])
    @pytest.mark.parametrize("stdout", ["none", "closed"])
    def test_without_a_stdout_the_command_ends_quietly(self, run, data_dir, monkeypatch, style, stdout):
        gone = None if stdout == "none" else io.StringIO()
        if gone is not None:
            gone.close()
        monkeypatch.setattr(sys, "stdout", gone)
        status, _, err = run("msis", "2024-05-11", *style, "--offline", "--data-dir", data_dir)
        assert (status, err) == (1, "")

    def test_only_sunindex_warnings_are_sunindex_warning_lines(self, run, data_dir, monkeypatch):
        msis_inputs = SpaceWeather.msis_inputs

        def noisy(self, *args, **kwargs):  # what NumPy and pandas may say along the way
            warnings.warn("a NumPy deprecation", DeprecationWarning)
            warnings.warn_explicit("a pandas remark", UserWarning, "/site-packages/pandas/core/frame.py", 1)
            return msis_inputs(self, *args, **kwargs)

        monkeypatch.setattr(SpaceWeather, "msis_inputs", noisy)
        for name in CACHED_NAMES.values():
            os.utime(data_dir / name, (0, 0))
        monkeypatch.setenv("SUNINDEX_URL_CSV", str(data_dir / "missing.csv"))
        with warnings.catch_warnings(record=True) as passed_on:
            warnings.simplefilter("always")
            status, _, err = run("msis", "2024-05-11", "--data-dir", data_dir)
        assert status == 0 and err.startswith("sunindex: warning: using cached copies: SW-All.csv (")
        assert err.count("\n") == 1
        assert sorted(str(warning.message) for warning in passed_on) == ["a NumPy deprecation", "a pandas remark"]


@pytest.mark.parametrize("command", [["sunindex"], [sys.executable, "-m", "sunindex_tools"]], ids=["script", "-m"])
def test_the_installed_command_prints_what_main_prints(run, data_dir, command):
    argv = ["msis", "2024-05-11T12:00", "2024-05-11T21:00", "--offline", "--data-dir", str(data_dir)]
    if command == ["sunindex"]:
        command = [shutil.which("sunindex", path=os.path.dirname(sys.executable))]
    done = subprocess.run(command + argv, capture_output=True, text=True, check=False)
    assert (done.returncode, done.stdout, done.stderr) == run(*argv)


SAMPLES = {"csv": SAMPLE_DIR / "SW-sample.csv", "solfsmy": SAMPLE_DIR / "SOLFSMY-sample.TXT",
           "dtcfile": SAMPLE_DIR / "DTCFILE-sample.TXT", "txt": SAMPLE_DIR / "SW-sample.txt",
           "gfz": FULL_DATA_DIR / "gfz/Kp_ap_Ap_SN_F107_since_2024.txt",
           "nowcast": FULL_DATA_DIR / "gfz/Kp_ap_Ap_SN_F107_nowcast.txt",
           "swpc": FULL_DATA_DIR / "swpc/45-day-ap-forecast.txt",
           "hp30": FULL_DATA_DIR / "hpo/Hp30_ap30_complete_series.txt",
           "hp60": FULL_DATA_DIR / "hpo/Hp60_ap60_complete_series.txt"}


@pytest.fixture
def no_cache(tmp_path, monkeypatch):
    """A cache folder and URLs that any read of the cache or the network would fail on."""
    for variable in URL_VARIABLES.values():
        monkeypatch.setenv(variable, (tmp_path / "nowhere.csv").as_uri())
    return ["--data-dir", tmp_path / "empty"]


def files(*keys):
    """--file arguments of the samples; skips the test when one of the shared files is absent."""
    for key in keys:
        if not SAMPLES[key].is_file():
            pytest.skip(f"{SAMPLES[key]} not present")
    return [argument for key in keys for argument in ("--file", SAMPLES[key])]


def doubled_prediction(write_file):
    """A prediction file like the shipped one with every value doubled, so that results
    from it differ from the shipped one's; its path."""
    lines = []
    for line in _bundled_prediction()[1].decode().splitlines():
        fields = line.split()
        if len(fields) == 8 and fields[0][:1].isdigit():
            line = " ".join(fields[:2] + [f"{2 * float(value):.1f}" for value in fields[2:]])
        lines.append(line)
    return write_file("\n".join(lines) + "\n", "prediction.txt")


class TestOwnFiles:
    @pytest.mark.parametrize("argv, keys", [
        (["msis", "2024-05-11T12:00"], ["csv"]),
        (["jb2008", "2024-05-11T12:00"], ["dtcfile", "solfsmy"]),  # any order
        (["show", "2024-05-11"], ["solfsmy"]),
        (["show", "2024-05-11"], ["dtcfile", "csv", "solfsmy"]),
        (["msis", "2024-05-11T12:00"], ["solfsmy", "csv", "dtcfile"]),  # the files it does not read are let be
    ])
    def test_read_by_kind_and_nothing_else(self, run, data_dir, no_cache, argv, keys):
        status, out, err = run(*argv, *files(*keys), *no_cache, "--json")
        assert (status, err) == (0, "") and not no_cache[1].exists()
        if argv[0] == "show":  # every file given, and only those
            day, = json.loads(out)
            assert (day["f107_obs"] is None) == ("csv" not in keys) and (day["dtc_00"] is None) == ("dtcfile" not in keys)
        else:
            assert out == run(*argv, "--offline", "--data-dir", data_dir, "--json")[1]

    @pytest.mark.parametrize("content", [b"<html>Sign in to the hotel network</html>\n", b"",
                                         b"# F10, S10, M10, Y10 data release, and no rows\n"])
    def test_a_file_of_no_known_kind_is_a_bad_argument_naming_it(self, run, write_file, no_cache, content):
        path = write_file(content, "mystery.txt")
        status, out, err = run("msis", "2024-05-11", "--file", path, *no_cache)
        assert (status, out) == (2, "") and err.count("\n") == 1
        assert err.startswith(f"sunindex msis: error: argument --file: {path}: ")

    def test_a_damaged_file_says_what_each_reader_found(self, run, write_file, no_cache):
        lines = SAMPLES["solfsmy"].read_text().splitlines(keepends=True)
        lines[9] = "  2023   7   2459951.0 nonsense\n"
        status, _, err = run("jb2008", "2024-05-11", "--file", write_file("".join(lines)), *no_cache)
        assert status == 2 and "as a SOLFSMY.TXT, parse error at row 10" in err

    @pytest.mark.parametrize("argv, keys, message", [
        (["msis", "2024-05-11"], ["solfsmy", "dtcfile"], "msis needs a CelesTrak CSV or a legacy text file (SW-All.txt) "
         "or a GFZ Kp_ap_Ap_SN_F107 file or a SWPC 45-day forecast; give it with --file"),
        (["jb2008", "2024-05-11"], ["csv", "dtcfile"], "jb2008 needs a SOLFSMY.TXT; give it with --file"),
        (["jb2008", "2024-05-11"], ["csv"], "jb2008 needs a SOLFSMY.TXT and a DTCFILE.TXT; give them with --file"),
        (["hpo", "2025-06-17"], ["csv"], "hpo needs a GFZ Hp30 file or a GFZ Hp60 file; give it with --file"),
    ])
    def test_a_missing_or_doubled_kind_is_a_bad_argument(self, run, no_cache, argv, keys, message):
        status, _, err = run(*argv, *files(*keys), *no_cache)
        assert status == 2 and message in err and err.count("\n") == 1

    def test_a_damaged_prediction_says_what_its_reader_found(self, run, write_file, no_cache):
        lines = _bundled_prediction()[1].decode().splitlines(keepends=True)
        lines[9] = lines[9].replace(" JUN ", " JUIN ")
        status, _, err = run("msis", "2024-05-11", *files("csv"), "--file", write_file("".join(lines)), *no_cache)
        assert status == 2 and "as a MSFC solar-cycle prediction, parse error at row 10: bad month name" in err
        assert "as a CelesTrak CSV, " in err  # and what the others found

    def test_a_prediction_is_told_by_its_content_and_used_as_msfc_is(self, run, write_file, no_cache):
        prediction = doubled_prediction(write_file)
        argv = ["msis", "2026-09-18T12:00", "2030-01-15T06:00", "--forecast-percentile", "50", "--json",
                *files("csv"), *no_cache]
        by_file, by_option, shipped = (run(*argv, *extra) for extra in (["--file", prediction],
                                                                         ["--msfc", prediction], []))
        assert by_file == by_option and by_file[0] == 0 and by_file[1] != shipped[1]
        rows, shipped_rows = json.loads(by_file[1]), json.loads(shipped[1])
        assert rows[0] == shipped_rows[0]  # on the daily rows, no prediction
        assert rows[1]["data_type"] == "MSFC" and rows[1]["f107"] == pytest.approx(2 * shipped_rows[1]["f107"])

    @pytest.mark.parametrize("command", [["show", "2024-05-11"], ["plot", "2024-05-01", "2024-05-31"]])
    def test_a_prediction_alone_is_not_enough_to_show(self, run, write_file, no_cache, command):
        status, _, err = run(*command, "--file", doubled_prediction(write_file), *no_cache)
        assert status == 2 and err.count("\n") == 1
        kinds = ("a CelesTrak CSV or a SOLFSMY.TXT or a DTCFILE.TXT or a legacy text file (SW-All.txt) or a GFZ "
                 "Kp_ap_Ap_SN_F107 file or a SWPC 45-day forecast or a GFZ Hp30 file or a GFZ Hp60 file")
        assert f"{command[0]} needs {kinds}; give it with --file" in err

    @pytest.mark.parametrize("twice", [["--msfc", "{0}", "--file", "{0}"], ["--file", "{0}", "--msfc", "{0}"],
                                       ["--file", "{0}", "--file", "{0}"]])
    def test_two_predictions_are_a_bad_argument(self, run, write_file, no_cache, twice):
        prediction = doubled_prediction(write_file)
        status, out, err = run("msis", "2030-01-15", "--forecast-percentile", "50", *files("csv"),
                               *[part.format(prediction) for part in twice], *no_cache)
        first = "--msfc" if "--msfc" in twice else "--file"
        assert (status, out) == (2, "") and err == (
            f"sunindex msis: error: argument --file: {prediction} is a second MSFC solar-cycle prediction, "
            f"after {first} {prediction}\n")

    @pytest.mark.parametrize("keys", [["gfz"], ["swpc"], ["csv", "gfz"], ["txt", "csv", "nowcast", "swpc"]])
    def test_msis_reads_any_daily_kind(self, run, no_cache, keys):
        day = "2023-11-05T12:00" if keys == ["swpc"] else "2024-01-20T12:00"
        status, out, err = run("msis", day, *files(*keys), *no_cache, "--json")
        by_kind = {}
        for name in keys:
            by_kind.setdefault("gfz" if name == "nowcast" else name, []).append(SAMPLES[name])
        want = SpaceWeather.load(**by_kind).msis_inputs(day)
        (row,) = json.loads(out)
        assert (status, err) == (0, "") and (row["f107"], row["ap_daily"]) == (want["f107"], want["ap"][0])

    @pytest.mark.parametrize("forecast_days", [0, 30])
    def test_info_says_where_each_files_daily_rows_and_observations_end(self, run, no_cache, write_file, data_dir,
                                                                        forecast_days):
        lines = (SAMPLE_DIR / "SOLFSMY-sample.TXT").read_text().splitlines(keepends=True)
        # A release ends with spline-filled forecast values, flagged 0 for each index.
        ending = [line[:-5] + "0000" + line[-1:] for line in lines[len(lines) - forecast_days:]] if forecast_days else []
        solfsmy = write_file("".join(lines[:len(lines) - forecast_days] + ending), "SOLFSMY.TXT")
        shutil.copyfile(solfsmy, data_dir / "SOLFSMY.TXT")
        observed = dt.date(2024, 12, 31) - dt.timedelta(days=forecast_days)
        want = {"csv": "daily rows to 2026-09-18, observed to 2026-08-06",
                "solfsmy": f"daily rows to 2024-12-31, observed to {observed}",
                "dtcfile": "daily rows to 2024-12-31, observed to 2024-12-31",
                "txt": "daily rows to 2025-08-28, observed to 2025-07-20"}
        own = run("info", *files("csv", "dtcfile", "txt"), "--file", solfsmy, *no_cache)[1].splitlines()
        cached = run("info", "--data-dir", data_dir, "--offline")[1].splitlines()
        for lines in (own, cached):
            by_key = {line.split()[0]: line for line in lines}
            assert all(text in by_key[key] for key, text in want.items() if key in by_key)
        assert len([line for line in own + cached if "daily rows to" in line]) == 7

    def test_info_lists_each_file_read_with_its_kind_span_and_stamp(self, run, no_cache):
        status, out, err = run("info", *files("gfz", "csv", "nowcast", "swpc"), *no_cache)
        lines = out.splitlines()
        # By kind, and of one kind in the order given.
        assert (status, err) == (0, "") and [line.split()[0] for line in lines[:4]] == ["csv", "gfz", "gfz#2", "swpc"]
        assert "GFZ Kp_ap_Ap_SN_F107 file" in lines[2] and lines[2].endswith(str(SAMPLES["nowcast"]))
        assert "2024-01-01 to 2024-01-31" in lines[1] and "no stamp" in lines[1]
        assert "2023-11-01 to 2023-12-15" in lines[3] and "made 2023-10-31 21:13:00+00:00" in lines[3]
        assert lines[4].startswith("last observed day") and lines[-1].startswith("msfc")

    def test_show_prints_where_each_value_came_from(self, run, no_cache):
        status, out, _ = run("show", "2024-02-13", *files("nowcast", "csv"), *no_cache, "--json")
        (day,) = json.loads(out)
        assert (status, day["f107_source"], day["kp_status"]) == (0, "csv", 0)
        assert [day[f"ap_source_{3 * slot:02d}"] for slot in range(8)] == ["gfz"] * 6 + ["csv"] * 2
        assert day["hp30_2330"] is None and "hp60_23" in day

    def test_hpo_prints_the_intervals_of_each_epoch(self, run, no_cache):
        argv = ["hpo", "2025-06-17T00:30", "2025-06-17T01:30", "--step", "30m", *files("hp30", "hp60"), *no_cache]
        status, out, err = run(*argv, "--csv")
        rows = list(csv.DictReader(io.StringIO(out)))
        want = SpaceWeather.load(hp30=SAMPLES["hp30"], hp60=SAMPLES["hp60"]).hpo(
            np.array(["2025-06-17T00:30", "2025-06-17T01:00", "2025-06-17T01:30"], dtype="M8[m]"))
        assert (status, err, list(rows[0])) == (0, "", ["epoch", "hp30", "ap30", "hp60", "ap60"])
        assert [[float(row[key]) for row in rows] for key in want] == [list(values) for values in want.values()]

    @pytest.mark.parametrize("epochs, warned", [
        (["2025-06-17T00:30"], ""),
        (["2024-05-11T12:00"], "epoch 2024-05-11T12:00 outside"),
        (["2024-05-11T12:00", "2025-06-17T00:30", "2099-01-01"], "2 epochs from 2024-05-11T12:00 outside"),
    ])
    def test_hpo_says_which_epochs_lie_outside_its_files(self, run, no_cache, epochs, warned):
        status, _, err = run("hpo", *epochs, *files("hp30"), *no_cache, "--csv")
        assert status == 0 and (warned in err if warned else err == "")

    def test_hpo_is_not_downloaded(self, run, no_cache):
        status, _, err = run("hpo", "2025-06-17", *no_cache)
        assert status == 2 and "hpo needs a GFZ Hp30 file or a GFZ Hp60 file, which are not downloaded" in err

    def test_a_file_that_is_not_there_is_a_failure_naming_it(self, run, tmp_path, no_cache):
        status, _, err = run("msis", "2024-05-11", "--file", tmp_path / "absent.csv", *no_cache)
        assert status == 1 and "absent.csv" in err

    def test_through_the_installed_script(self, tmp_path):
        script = os.path.join(os.path.dirname(sys.executable), "sunindex")
        done = subprocess.run([script, "msis", "2024-05-11T00:00", "2024-05-11T06:00", "--step", "3h", "--csv",
                               *files("csv"), "--data-dir", str(tmp_path / "empty")],
                              capture_output=True, text=True, check=False, env={**os.environ, "SUNINDEX_URL_CSV": "x"})
        rows = list(csv.DictReader(io.StringIO(done.stdout)))
        assert (done.returncode, done.stderr) == (0, "")
        assert [row["epoch"] for row in rows] == ["2024-05-11T00:00:00", "2024-05-11T03:00:00", "2024-05-11T06:00:00"]
        assert not (tmp_path / "empty").exists()


#: Modules of downloads, the archive and the installed metadata, none of which a command given its own files needs.
NETWORK_MODULES = ("importlib.metadata", "urllib.request", "http.client", "ssl", "email.message", "hashlib", "gzip",
                   "platformdirs", "sunindex_tools.fetch", "sunindex_tools._archive")


def fresh_python(code, *argv):
    """The last line a new interpreter running `code` prints."""
    done = subprocess.run([sys.executable, "-c", code, *map(str, argv)], capture_output=True, text=True, check=True)
    return done.stdout.splitlines()[-1]


class TestStart:
    def test_a_command_given_its_own_files_imports_nothing_of_the_network(self, tmp_path):
        code = ("import sys; from sunindex_tools.cli import main; "
                "status = main(['msis', '2024-05-11', '--file', sys.argv[1], '--csv', '--data-dir', sys.argv[2]]); "
                "print(status, *sorted(set(sys.modules) & set(sys.argv[3:])))")
        assert fresh_python(code, SAMPLES["csv"], tmp_path / "empty", *NETWORK_MODULES) == "0"

    def test_the_lazy_names_are_there_when_asked_for(self):
        # The package alone loads no NumPy, so that the command can set its threads first.
        code = ("import sys, sunindex_tools; bare = 'numpy' not in sys.modules; from importlib.metadata import version; "
                "print(bare, sunindex_tools.fetch.fetch.__module__, sunindex_tools.__version__ == version('sunindex'), "
                "all(hasattr(sunindex_tools, name) for name in sunindex_tools.__all__))")
        assert fresh_python(code) == "True sunindex_tools.fetch True True"

    def test_version_is_the_installed_distributions(self, run):
        from importlib.metadata import version
        assert run("--version") == (0, f"sunindex {version('sunindex')}\n", "")

    @pytest.mark.parametrize("keys, reads", [(["csv"], 1), (["csv", "solfsmy"], 2)])  # files of days are read together
    def test_a_file_of_days_alone_is_read_once(self, run, no_cache, monkeypatch, keys, reads):
        from sunindex_tools import _native
        given, csv_read = [], (("csv", SAMPLES["csv"].read_bytes()),)
        monkeypatch.setattr(_native, "load", lambda files, load=_native.load: given.append(files) or load(files))
        status, _, err = run("show", "2024-05-11", *files(*keys), *no_cache)
        assert (status, err) == (0, "") and given.count(csv_read) == 1
        assert len([files for files in given if ("csv", csv_read[0][1]) in files]) == reads


class TestEpochs:
    def inputs(self, epochs, **options):
        return SpaceWeather.load(csv=SAMPLES["csv"]).msis_inputs(epochs, **options)

    @pytest.mark.parametrize("start, end, step, count", [
        ("2024-05-10T00:00", "2024-05-11T00:00", "3h", 9),  # END is one of them
        ("2024-05-10T00:00", "2024-05-11T01:00", "3h", 9),  # END between two: the last is before it
        ("2024-05-10", "2024-05-20", "2d", 6),
        ("2024-05-10T00:00", "2024-05-10T00:10", "90s", 7),
        ("2024-05-10T00:00", "2024-05-10T00:00", "15m", 1),
        ("2024-05-10T02:00+02:00", "2024-05-10T01:00Z", "30m", 3),  # offsets convert to UTC first
    ])
    def test_ranges(self, run, no_cache, start, end, step, count):
        status, out, _ = run("msis", start, end, "--step", step, "--json", *files("csv"), *no_cache)
        rows = json.loads(out)
        epochs = np.array([row["epoch"] for row in rows], "M8[s]")
        assert status == 0 and len(rows) == count and np.all(np.diff(epochs) == epochs[1] - epochs[0] if count > 1 else True)
        assert [row["ap_0h"] for row in rows] == self.inputs(epochs)["ap"][:, 1].tolist()

    @pytest.mark.parametrize("argv, message", [
        (["2024-05-10", "2024-05-11", "--step", "3x"], "not a step: '3x'"),
        (["2024-05-10", "2024-05-11", "--step", "0h"], "not a step: '0h'"),
        (["2024-05-10", "2024-05-11", "--step=-1h"], "not a step: '-1h'"),
        (["2024-05-10", "2024-05-11", "--step", "h"], "not a step: 'h'"),
        (["2024-05-10", "2024-05-11", "--step", "99999999999999999999d"], "not a step: '99999999999999999999d'"),
        (["2024-05-10", "2024-05-11", "--step", "１h"], "not a step: '１h'"),  # a full-width digit
        (["2024-05-11", "2024-05-10", "--step", "1h"], "END 2024-05-10 is before START 2024-05-11"),
        (["2024-05-10", "2024-05-11", "2024-05-12", "--step", "1h"], "--step takes two epochs, START and END, not 3"),
        (["1900-01-01", "2100-01-01", "--step", "1s"], "the range holds 6311433601 epochs"),  # 73,049 days, and END
    ])
    def test_bad_ranges_are_bad_arguments(self, run, no_cache, argv, message):
        status, _, err = run("msis", *argv, *files("csv"), *no_cache)
        assert status == 2 and message in err and err.count("\n") == 1

    def test_stdin_one_per_line_among_the_others(self, run, no_cache, monkeypatch):
        monkeypatch.setattr(sys, "stdin", io.StringIO("2024-05-11T12:00\n\n  2024-05-10T03:00Z \n"))
        status, out, _ = run("msis", "2024-05-09", "-", "--json", *files("csv"), *no_cache)
        rows = json.loads(out)
        assert status == 0 and [row["epoch"] for row in rows] == ["2024-05-09", "2024-05-11T12:00", "2024-05-10T03:00Z"]
        assert [row["f107"] for row in rows] == self.inputs(["2024-05-09", "2024-05-11T12", "2024-05-10T03"])["f107"].tolist()

    @pytest.mark.parametrize("lines, status, message", [
        ("", 2, "no epoch on stdin"),
        ("2024-05-11\nyesterday\n", 2, "not an ISO 8601 epoch: 'yesterday'"),
        ("2024-05-11\n1990-01-01T03:00+01:00\n", 1, "epoch 1990-01-01T03:00+01:00 is outside the daily rows"),
    ])
    def test_errors_name_the_epoch_as_written(self, run, no_cache, monkeypatch, lines, status, message):
        monkeypatch.setattr(sys, "stdin", io.StringIO(lines))
        code, _, err = run("msis", "-", *files("csv"), *no_cache)
        assert code == status and message in err and err.count("\n") == 1

    @pytest.mark.parametrize("argv", [["msis", "{}"], ["jb2008", "{}"], ["show", "{}"], ["msis", "{}", "{}", "--step", "1d"],
                                      ["show", "2024-05-11", "{}"]])
    def test_today_is_the_utc_date_everywhere(self, run, no_cache, argv):
        own = [*files("csv", "solfsmy", "dtcfile"), *no_cache, "--json"]
        today = dt.datetime.now(dt.timezone.utc).date().isoformat()
        assert run(*[a.format("today") for a in argv], *own) == run(*[a.format(today) for a in argv], *own)

    @pytest.mark.parametrize("command", ["msis", "jb2008"])
    @pytest.mark.parametrize("style", ["--json", "--csv", "--format=table"])
    def test_now_is_written_as_the_instant_used(self, run, no_cache, command, style):
        before = np.datetime64(dt.datetime.now(dt.timezone.utc).replace(tzinfo=None), "us")
        status, out, err = run(command, "now", *files("csv", "solfsmy", "dtcfile"), *no_cache, style)
        if status == 0:
            written = json.loads(out)[0]["epoch"] if style == "--json" else out.splitlines()[1]
            written = written.replace(",", " ").split()[0]
        else:  # past the samples' days
            assert status == 1 and err.startswith("sunindex: error: epoch 2")
            written = err.split()[3]
        assert before <= np.datetime64(written) <= before + np.timedelta64(60, "s")

    @pytest.mark.parametrize("argv", [
        ["2600-01-01", "2024-05-11T00:00:00.000000001"],  # in nanoseconds, 2600 would wrap to 2015
        ["2024-05-11T00:00:00.000000001", "2600-01-01", "--step", "1d"],
        ["2024-05-11", "2600-01-01T00:00:00.000000001", "--step", "1h"],
    ])
    def test_epochs_past_2262_in_nanoseconds_are_refused(self, run, no_cache, argv):
        status, out, err = run("msis", *argv, *files("csv"), *no_cache)
        assert (status, out) == (2, "") and "out of the range of datetime64[ns]" in err and err.count("\n") == 1

    @pytest.mark.parametrize("stream, message", [
        (io.StringIO("2024-05-11\n" * 1001), "stdin holds more than 1000 lines"),
        (io.StringIO("\n" * 1001), "stdin holds more than 1000 lines"),  # `yes ''` never ends either
        (io.StringIO("2024-05-11" + " " * 2000 + "\n"), "a line on stdin is longer than 1000 characters"),
        (io.StringIO("\0" * 10_000), "a line on stdin is longer"),
    ])
    def test_stdin_is_bounded(self, run, no_cache, monkeypatch, stream, message):
        monkeypatch.setattr(sys, "stdin", stream)
        monkeypatch.setattr("sunindex_tools._cli_epochs.MAX_EPOCHS", 1000)  # the bound a range has, made small
        status, _, err = run("msis", "-", *files("csv"), *no_cache)
        assert status == 2 and message in err and err.count("\n") == 1

    @pytest.mark.parametrize("argv", [["NaT"], ["2024-05-11", "NaT"], ["-"]])
    @pytest.mark.parametrize("command", ["msis", "jb2008", "hpo"])
    def test_nat_is_no_epoch(self, run, no_cache, monkeypatch, command, argv):
        monkeypatch.setattr(sys, "stdin", io.StringIO("2024-05-11\nNaT\n"))
        status, out, err = run(command, *argv, *files("csv", "solfsmy", "dtcfile"), *no_cache)
        assert (status, out) == (2, "") and "argument EPOCH: not an epoch: 'NaT'" in err and err.count("\n") == 1

    @pytest.mark.parametrize("days, warning", [
        (["2026-12-09"], "2026-12-09 falls between the monthly predicted rows"),
        (["2026-11-30", "2027-01-02"], "31 days from 2026-11-30 fall between"),  # the sample has no 2027 rows
        (["2026-09-18", "2026-10-01"], None),  # the last daily row, then the first monthly one
        (["2024-05-11"], None),
    ])
    def test_show_says_when_a_day_falls_between_the_monthly_rows(self, run, no_cache, days, warning):
        status, out, err = run("show", *days, *files("csv"), *no_cache, "--json")
        assert status == 0 and len(json.loads(out)) >= 1
        if warning is None:
            assert err == ""
        else:
            assert err.startswith(f"sunindex: warning: {warning}") and err.count("\n") == 1

    def test_show_now_is_today(self, run, no_cache):
        today = dt.datetime.now(dt.timezone.utc).date().isoformat()
        assert run("show", "now", *files("csv"), *no_cache) == run("show", today, *files("csv"), *no_cache)

    def test_interpolate(self, run, no_cache):
        _, out, _ = run("msis", "2024-05-11T13:30", "--interpolate", "--json", *files("csv"), *no_cache)
        row, = json.loads(out)
        expected = self.inputs("2024-05-11T13:30", interpolate=True)
        assert [row[key] for key in MSIS_AP_COLUMNS] == expected["ap"].tolist() and row["f107"] == expected["f107"]


class TestFormats:
    @pytest.mark.parametrize("argv", [["show", "2024-05-11", "2024-05-12"], ["msis", "2024-05-11T12:00"]])
    def test_format_and_its_short_forms(self, run, data_dir, argv):
        where = ["--offline", "--data-dir", data_dir]
        for style in ("csv", "json"):
            assert run(*argv, "--format", style, *where) == run(*argv, f"--{style}", *where)
        assert run(*argv, "--format", "table", *where) == run(*argv, *where)
        assert run(*argv, "--format", "xml", *where)[0] == 2

    @pytest.mark.parametrize("argv, method", [(["msis", "2024-05-11T12:00"], "msis_inputs"),
                                              (["show", "2024-05-11"], "daily")])
    def test_the_header_labels_each_returned_column_once(self, run, data_dir, argv, method):
        header = run(*argv, "--offline", "--data-dir", data_dir, "--csv")[1].splitlines()[0].split(",")
        weather = SpaceWeather.load(*(data_dir / name for name in CACHED_NAMES.values()))
        result = getattr(weather, method)([argv[1]])
        single = ["epoch"] * (argv[0] == "msis") + [key for key, values in result.items() if values.ndim == 1]
        columns = len(single) + sum(values.shape[1] for values in result.values() if values.ndim == 2)
        # The single values first, then each array over labels of its own: none falls back to
        # "ap[0]", which would give msis's daily Ap and show's first 3-hour ap one name.
        assert header[:len(single)] == single and len(header) == len(set(header)) == columns
        assert not [name for name in header if "[" in name]


class TestTables:
    @pytest.mark.parametrize("argv, keys", [
        (["msis", "2024-05-10T18:00", "2024-05-11T06:00", "--step", "3h"], ["csv"]),
        (["msis", "2024-05-11", "2030-01-01", "--forecast-percentile", "95"], ["csv"]),
        (["jb2008", "2024-05-11T00:00", "2024-05-11T02:00", "--step", "30m"], ["solfsmy", "dtcfile"]),
        (["hpo", "2025-06-17T00:30", "2025-06-17T01:30", "--step", "30m"], ["hp30", "hp60"]),
    ])
    def test_one_row_per_epoch_no_column_wider_than_its_widest_value(self, run, no_cache, argv, keys, monkeypatch):
        monkeypatch.setenv("COLUMNS", "10000")  # room to read across: these never do
        status, table, _ = run(*argv, *files(*keys), *no_cache)
        printed = list(csv.reader(io.StringIO(run(*argv, *files(*keys), *no_cache, "--csv")[1])))
        lines = table.splitlines()
        assert status == 0 and [line.split() for line in lines] == printed
        widths = [max(map(len, column)) for column in zip(*printed)]
        assert max(map(len, lines)) == sum(widths) + 2 * (len(widths) - 1)

    @pytest.mark.parametrize("columns", [None, "", "0", "-3", "wide", "120"])
    def test_the_terminal_is_as_wide_as_shutil_says(self, monkeypatch, columns):
        import shutil
        from sunindex_tools._cli_parser import terminal_columns
        if columns is None:
            monkeypatch.delenv("COLUMNS", raising=False)
        else:
            monkeypatch.setenv("COLUMNS", columns)
        assert terminal_columns() == shutil.get_terminal_size().columns

    @pytest.mark.parametrize("days, columns, across", [
        (["2024-05-11"], "80", True),
        (["2024-05-10", "2024-05-12"], "80", True),
        (["2024-05-01", "2024-05-31"], "80", False),  # a month is too wide to read across
        (["2024-05-01", "2024-05-31"], "100000", True),
        (["2024-05-11"], "20", False),
    ])
    def test_show_reads_across_only_where_it_fits(self, run, data_dir, monkeypatch, days, columns, across):
        monkeypatch.setenv("COLUMNS", columns)
        status, out, _ = run("show", *days, "--offline", "--data-dir", data_dir)
        records = list(csv.DictReader(io.StringIO(run("show", *days, "--offline", "--data-dir", data_dir, "--csv")[1])))
        lines = out.splitlines()
        if across:
            assert max(map(len, lines)) <= int(columns) and len(lines) == len(records[0])
            assert lines[0].split() == ["date", *[record["date"] for record in records]]
        else:
            assert len(lines) == len(records) + 1 and lines[0].split() == list(records[0])
            assert [line.split()[0] for line in lines[1:]] == [record["date"] for record in records]


class TestPlot:
    def test_writes_a_png_named_by_the_span_and_prints_its_path(self, run, no_cache, tmp_path, monkeypatch):
        pytest.importorskip("matplotlib")
        monkeypatch.chdir(tmp_path)
        status, out, err = run("plot", "2024-04-01", "2026-12-31", *files("csv", "dtcfile"), *no_cache)
        assert (status, err, out) == (0, "", "sunindex-2024-04-01-2026-12-31.png\n")
        assert (tmp_path / out.strip()).read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
        status, out, _ = run("plot", "2024-05-01", "2024-05-31", "--output", tmp_path / "may.png", *no_cache,
                             *files("dtcfile"))
        assert status == 0 and (tmp_path / "may.png").read_bytes()[:4] == b"\x89PNG"

    def test_the_forecast_is_drawn_past_the_daily_rows_with_its_band(self, run, no_cache, tmp_path, monkeypatch):
        pytest.importorskip("matplotlib")
        from matplotlib.axes import Axes
        forecasts, bands = [], []
        forecast, fill_between = SpaceWeather.forecast, Axes.fill_between

        def recorded_forecast(self, epochs, percentile=50.0):
            forecasts.append((np.asarray(epochs), np.asarray(percentile)))
            return forecast(self, epochs, percentile)

        def recorded_fill_between(self, x, low, high, **options):
            bands.append((np.asarray(low), np.asarray(high)))
            return fill_between(self, x, low, high, **options)

        monkeypatch.setattr(SpaceWeather, "forecast", recorded_forecast)
        monkeypatch.setattr(Axes, "fill_between", recorded_fill_between)
        output = tmp_path / "ahead.png"
        status, out, err = run("plot", "2026-01-01", "2030-12-31", "--output", output, *files("csv"), *no_cache,
                               *[part for q in ("95", "5", "50") for part in ("--forecast-percentile", q)])
        assert (status, err, out) == (0, "", f"{output}\n") and output.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
        (epochs, percentiles), = forecasts
        assert (epochs[0], epochs[-1]) == (np.datetime64("2026-09-19"), np.datetime64("2030-12-31"))  # L + 1 on
        assert np.all(np.diff(epochs) == np.timedelta64(1, "D")) and percentiles.tolist() == [[5.0], [50.0], [95.0]]
        ahead = SpaceWeather.load(csv=SAMPLES["csv"]).forecast(epochs, [[5], [95]])
        assert [band[0].tolist() for band in bands] == [ahead["f107"][0].tolist(), ahead["ap"][0].tolist()]
        assert [band[1].tolist() for band in bands] == [ahead["f107"][1].tolist(), ahead["ap"][1].tolist()]

    @pytest.mark.parametrize("percentiles, bands", [([], None), (["50"], 0)])
    def test_past_the_files_only_the_forecast_is_drawn(self, run, no_cache, tmp_path, monkeypatch, percentiles, bands):
        pytest.importorskip("matplotlib")
        from matplotlib.axes import Axes
        drawn = []
        monkeypatch.setattr(Axes, "fill_between", lambda *args, **options: drawn.append(args))
        argv = ["plot", "2050-01-01", "2050-12-31", "--output", tmp_path / "later.png", *files("csv"), *no_cache]
        status, _, err = run(*argv, *[part for q in percentiles for part in ("--forecast-percentile", q)])
        if bands is None:  # the files end in 2041
            assert status == 1 and "nothing to draw from 2050-01-01 to 2050-12-31" in err
        else:  # one percentile: its line, no band
            assert (status, err, len(drawn)) == (0, "", bands) and (tmp_path / "later.png").stat().st_size > 0

    @pytest.mark.parametrize("name, magic", [("a.pdf", b"%PDF"), ("a.SVG", b"<?xml"), ("a", b"\x89PNG")])
    def test_the_format_is_the_one_the_extension_names(self, run, no_cache, tmp_path, name, magic):
        pytest.importorskip("matplotlib")
        status, _, err = run("plot", "2024-05-01", "2024-05-31", "--output", tmp_path / name, *files("csv"), *no_cache)
        assert (status, err) == (0, "") and (tmp_path / name).read_bytes().startswith(magic)

    def test_an_extension_matplotlib_cannot_write_is_a_bad_argument(self, run, no_cache, tmp_path):
        pytest.importorskip("matplotlib")
        status, _, err = run("plot", "2024-05-01", "2024-05-31", "--output", tmp_path / "a.docx", *files("csv"), *no_cache)
        assert status == 2 and "cannot draw a .docx file" in err and not (tmp_path / "a.docx").exists()

    def test_a_span_to_the_last_year_is_drawn(self, run, no_cache, tmp_path):
        """Matplotlib's margins once reached past the year 9999, where it has no dates."""
        pytest.importorskip("matplotlib")
        status, _, err = run("plot", "2026-01-01", "9999-12-31", "--output", tmp_path / "far.png", *files("csv"),
                             *no_cache, "--forecast-percentile", "50")
        assert (status, err) == (0, "") and (tmp_path / "far.png").stat().st_size > 0

    def test_outside_the_files_is_a_failure(self, run, no_cache, tmp_path, monkeypatch):
        pytest.importorskip("matplotlib")
        monkeypatch.chdir(tmp_path)
        status, _, err = run("plot", "1990-01-01", "1990-12-31", *files("dtcfile"), *no_cache)
        assert status == 1 and "nothing to draw from 1990-01-01 to 1990-12-31" in err and not list(tmp_path.glob("*.png"))

    def test_without_matplotlib_one_line_names_the_extra(self, run, no_cache, monkeypatch):
        monkeypatch.setitem(sys.modules, "sunindex_tools._plot", None)  # as when matplotlib is not installed
        status, out, err = run("plot", "2024-05-01", "2024-05-31", *files("csv"), *no_cache)
        assert (status, out) == (1, "") and err.count("\n") == 1
        assert 'pip install "sunindex[plot]"' in err and 'pip install ".[plot]" in a checkout' in err
