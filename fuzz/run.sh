#!/usr/bin/env bash
# Runs fuzz targets of the fuzz preset from a copy of their committed corpus.
#
#   fuzz/run.sh SECONDS [TARGET...]   TARGET: module, records, scenario, cost (default: all)
#
# Builds the fuzz preset, then runs each target in turn for SECONDS, one
# process, from a copy of fuzz/corpus/TARGET and the full-size seeds of
# fuzz/corpus-full/TARGET (new inputs stay in the copy, the checkout is not
# written); fuzz_cost starts from fuzz_module's seeds as well as its own.
# libFuzzer's final statistics and its coverage (cov: edges, ft: features)
# are printed for each, the longest input it ran and, for fuzz_module and
# fuzz_cost, the costliest call. A crash, leak, timeout, sanitizer report or
# cost finding (a call into the module whose work, counted in edges of its
# code, is over its limit: fuzz/Cost.h) fails the run; libFuzzer writes the
# input that caused it to build/fuzz/findings/TARGET/ (docs/robustness.md
# says what to do with it). FUZZ_KEEP=DIR keeps the grown corpora in
# DIR/TARGET.
#
# FUZZ_COST_JUDGE=BUILD_DIR: the inputs fuzz_cost found costliest (its
# FUZZ_COST_KEEP, in DIR/cost-kept when FUZZ_KEEP is set) are then counted
# in instructions under callgrind, replayed by BUILD_DIR's
# fuzz_module_replay (the release build), and held to the module's bound
# per byte (perf/bound.sh --programs); over it fails the run.
#
# Inputs run up to 64 KiB from the start (-max_len=65536 -len_control=0:
# libFuzzer would otherwise grow its length limit from the seeds' slowly,
# to about 1.6 KB in three minutes). An input costs at most about two calls
# that inflate lists of the full 4 MiB and 64 KB of others
# (fuzz/ModuleActions.h), about 1 s of CPU in this build; libFuzzer's
# timeout is wall time, which on a shared 2-core machine runs up to 4 times
# the CPU time, and it is there for hangs only (cost is judged by count):
# 20 s.

set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 1 ] || ! [[ $1 =~ ^[0-9]+$ ]]; then
    echo "usage: fuzz/run.sh SECONDS [module|records|scenario|cost]..." >&2
    exit 2
fi
seconds=$1
shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(module records scenario cost)

cmake --preset fuzz >/dev/null
# Only the targets asked for (fuzz_scenario pulls in all of sapp-host).
cmake --build --preset fuzz --target "${targets[@]/#/fuzz_}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for target in "${targets[@]}"; do
    corpus="$work/$target"
    findings="build/fuzz/findings/$target"
    mkdir -p "$corpus" "$findings"
    seeds=("$target")
    [ "$target" = cost ] && seeds+=(module)
    for seed in "${seeds[@]}"; do
        cp -r fuzz/corpus/"$seed"/. "$corpus"/
        if [ -d fuzz/corpus-full/"$seed" ]; then cp -r fuzz/corpus-full/"$seed"/. "$corpus"/; fi
    done
    kept="$work/cost-kept"
    mkdir -p "$kept"
    echo "== fuzz_$target: $seconds s from $(ls "$corpus" | wc -l) inputs of up to 64 KiB =="
    # Findings go to $findings; rss and time limits catch runaway inputs.
    if ! FUZZ_COST_KEEP="$kept" build/fuzz/bin/fuzz_"$target" "$corpus" -dict=fuzz/sapp.dict \
            -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len=65536 -len_control=0 \
            -print_final_stats=1 -artifact_prefix="$findings/" 2>"$work/$target.log"; then
        status=1
        echo "fuzz_$target: FAILED; input in $findings/" >&2
        tail -60 "$work/$target.log" >&2
    fi
    grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::number_of_executed_units|^stat::peak_rss_mb|^stat::new_units_added' \
        "$work/$target.log" || tail -5 "$work/$target.log"
    grep -E '^fuzz_[a-z]+: longest input run|^fuzz: costliest (large )?call' "$work/$target.log" || true
    if [ "$target" = cost ] && [ -n "${FUZZ_COST_JUDGE:-}" ] && [ -n "$(ls "$kept")" ]; then
        echo "== fuzz_cost: its costliest inputs in instructions (perf/bound.sh --programs $FUZZ_COST_JUDGE) =="
        perf/bound.sh --programs "$FUZZ_COST_JUDGE" "$kept" || status=1
    fi
    if [ -n "${FUZZ_KEEP:-}" ]; then
        mkdir -p "$FUZZ_KEEP/$target"
        cp "$corpus"/* "$FUZZ_KEEP/$target"/
        if [ "$target" = cost ]; then mkdir -p "$FUZZ_KEEP/cost-kept" && cp "$kept"/* "$FUZZ_KEEP/cost-kept"/ 2>/dev/null || true; fi
    fi
    rm -rf "$kept"
done
exit $status
