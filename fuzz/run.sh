#!/usr/bin/env bash
# Runs fuzz targets of the fuzz preset from a copy of their committed corpus.
#
#   fuzz/run.sh SECONDS [TARGET...]   TARGET: module, records, scenario (default: all)
#
# Builds the fuzz preset, then runs each target in turn for SECONDS, one
# process, from a copy of fuzz/corpus/TARGET and the full-size seeds of
# fuzz/corpus-full/TARGET (new inputs stay in the copy, the checkout is not
# written). libFuzzer's final statistics and its coverage (cov: edges, ft:
# features) are printed for each, and the longest input it ran. A crash,
# leak, timeout, sanitizer report or cost finding (a call into the module
# over its time limit, fuzz/FuzzModule.cc) fails the run; libFuzzer writes
# the input that caused it to build/fuzz/findings/TARGET/
# (docs/robustness.md says what to do with it). FUZZ_KEEP=DIR keeps the
# grown corpora in DIR/TARGET.
#
# Inputs run up to 64 KiB from the start (-max_len=65536 -len_control=0:
# libFuzzer would otherwise grow its length limit from the seeds' slowly,
# to about 1.6 KB in three minutes). The time limit of an input derives
# from the module's goal, a packet of at most 64 KB in 100 M instructions:
# fuzz_module holds each call to that goal in the fuzz build's terms (300 ms
# of CPU, fuzz/FuzzModule.cc) and lets an input inflate two full-size lists
# (fuzz/ModuleActions.h), so an input costs at most about two such calls and
# 64 KB of others; fuzz_records and fuzz_scenario decode one record of at
# most 64 KB an input and show it as JSON (0.6 s of CPU at most, measured).
# About 1 s of CPU either way; libFuzzer's limit is wall time, which on a
# shared 2-core machine runs up to 4 times the CPU time: 5 s.

set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 1 ] || ! [[ $1 =~ ^[0-9]+$ ]]; then
    echo "usage: fuzz/run.sh SECONDS [module|records|scenario]..." >&2
    exit 2
fi
seconds=$1
shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(module records scenario)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for target in "${targets[@]}"; do
    corpus="$work/$target"
    findings="build/fuzz/findings/$target"
    mkdir -p "$corpus" "$findings"
    cp fuzz/corpus/"$target"/* "$corpus"/
    if [ -d fuzz/corpus-full/"$target" ]; then cp fuzz/corpus-full/"$target"/* "$corpus"/; fi
    echo "== fuzz_$target: $seconds s from $(ls "$corpus" | wc -l) inputs of up to 64 KiB =="
    # Findings go to $findings; rss and time limits catch runaway inputs.
    if ! build/fuzz/bin/fuzz_"$target" "$corpus" -dict=fuzz/sapp.dict -max_total_time="$seconds" \
            -timeout=5 -rss_limit_mb=2048 -max_len=65536 -len_control=0 -print_final_stats=1 \
            -artifact_prefix="$findings/" 2>"$work/$target.log"; then
        status=1
        echo "fuzz_$target: FAILED; input in $findings/" >&2
        tail -60 "$work/$target.log" >&2
    fi
    grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::number_of_executed_units|^stat::peak_rss_mb|^stat::new_units_added' \
        "$work/$target.log" || tail -5 "$work/$target.log"
    grep -E '^fuzz_[a-z]+: longest input run' "$work/$target.log" || true
    if [ -n "${FUZZ_KEEP:-}" ]; then
        mkdir -p "$FUZZ_KEEP/$target"
        cp "$corpus"/* "$FUZZ_KEEP/$target"/
    fi
done
exit $status
