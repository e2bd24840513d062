#!/bin/sh
# Runs each fuzz target for a bounded time: run.sh BUILD_DIR SECONDS TARGET...
# Seeds: the hand-made edge cases in fuzz/seeds/TARGET, the inputs that once
# failed in fuzz/regressions/TARGET, and the shipped samples cut into chunks
# of a few lines (none for the GFZ targets, whose seeds are excerpts). New inputs go to BUILD_DIR/corpus/TARGET, crashes to
# BUILD_DIR/artifacts/TARGET. Exits non-zero if any target failed.
set -u
build=$1 seconds=$2
shift 2
here=$(dirname "$0")
data=$here/../data

# chunks NAME FILE LINES [HEADER]: FILE cut into pieces of LINES lines, each
# after HEADER (the CSV header line) when given.
chunks() {
    out=$build/seeds/$1
    rm -rf "$out" && mkdir -p "$out"
    if [ -n "${4:-}" ]; then
        tail -n +2 "$2" | split -l "$3" - "$out/chunk_"
        for piece in "$out"/chunk_*; do
            { head -n 1 "$2"; cat "$piece"; } > "$piece.csv" && rm "$piece"
        done
    else
        split -l "$3" "$2" "$out/chunk_"
    fi
}

status=0
summary=""
for target in "$@"; do
    case $target in
        celestrak_csv) chunks "$target" "$data/SW-sample.csv" 3 header; dict=celestrak_csv.dict ;;
        solfsmy) chunks "$target" "$data/SOLFSMY-sample.TXT" 4; dict=fixed_columns.dict ;;
        dtcfile) chunks "$target" "$data/DTCFILE-sample.TXT" 4; dict=fixed_columns.dict ;;
        msfc_prediction) chunks "$target" "$here/../python/sunindex_tools/data/oct2026f10-prd.txt" 12
            dict=msfc_prediction.dict ;;
        # A forecast is whole or nothing: its seeds are whole files.
        swpc_forecast) rm -rf "$build/seeds/$target" && mkdir -p "$build/seeds/$target"; dict=swpc_forecast.dict ;;
        # No sample of its own in data/: a file cut into pieces is no longer one.
        legacy_text) rm -rf "$build/seeds/$target" && mkdir -p "$build/seeds/$target"; dict=legacy_text.dict ;;
        # No GFZ sample is shipped: the seeds hold excerpts of the published files.
        gfz_kp|gfz_hpo) rm -rf "$build/seeds/$target" && mkdir -p "$build/seeds/$target"; dict=gfz.dict ;;
        *) echo "run.sh: unknown target $target" >&2; exit 2 ;;
    esac
    mkdir -p "$build/corpus/$target" "$build/artifacts/$target" "$here/regressions/$target"
    log=$build/$target.log
    echo "== fuzz_$target for ${seconds}s (log: $log)"
    "$build/fuzz_$target" -max_total_time="$seconds" -timeout=10 -max_len=4096 -print_final_stats=1 \
        -dict="$here/$dict" -artifact_prefix="$build/artifacts/$target/" \
        "$build/corpus/$target" "$here/seeds/$target" "$here/regressions/$target" "$build/seeds/$target" \
        > "$log" 2>&1
    rc=$?
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    crashes=$(ls "$build/artifacts/$target" | wc -l)
    line="fuzz_$target: exit $rc, ${execs:-?} execs, ${rate:-?} execs/s, $crashes saved crash input(s)"
    echo "$line"
    summary="$summary$line
"
    if [ "$rc" -ne 0 ]; then
        status=1
        grep -E 'PROPERTY BROKEN|ERROR: |SUMMARY: |runtime error' "$log" | head -n 5
    fi
done
printf '\n%s' "$summary"
exit $status
